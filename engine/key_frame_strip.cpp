// The timeline strip's builder: key frames and loudness windows by seeking.
#include "engine/key_frame_strip.h"

#include "engine/ffmpeg.h"
#include "engine/library_handles.h"
#include "engine/output_claim.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include <sys/resource.h>
#include <unistd.h>

namespace clipmora {
namespace {

// A packet read after a seek that is not followed by the wanted one within
// this many packets means the stream has nothing usable there.
constexpr int kPacketsPerSeek = 4000;
// The worker's scheduling priority below the program's own.
constexpr int kStripNiceness = 10;

struct OpenedStrip {
    InputFormatPtr context;
    int videoStream = -1;
    int audioStream = -1;
    CodecContextPtr video;
    CodecContextPtr audio;
    int64_t startUs = 0;  // the file's start, which the timeline counts from
};

CodecContextPtr openDecoder(const AVStream& stream, bool keyFramesOnly)
{
    const AVCodec* codec = lib.avcodec_find_decoder(stream.codecpar->codec_id);
    if (!codec)
        return nullptr;
    CodecContextPtr context(lib.avcodec_alloc_context3(codec));
    if (!context || lib.avcodec_parameters_to_context(context.get(), stream.codecpar) < 0)
        return nullptr;
    context->thread_count = 1;  // one picture at a time: threads would only add delay
    if (keyFramesOnly)
        context->skip_frame = AVDISCARD_NONKEY;
    context->pkt_timebase = stream.time_base;
    const std::lock_guard lock(TCustomFFmpeg::CodecLock());
    if (lib.avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    return context;
}

bool openStrip(const std::string& fileName, OpenedStrip& opened)
{
    AVFormatContext* context = nullptr;
    // The name is a file's, never another protocol's address ("cache:x").
    if (lib.avformat_open_input(&context, LocalFileAddress(fileName).c_str(), nullptr, nullptr) <
        0)
        return false;
    opened.context.reset(context);
    {
        const std::lock_guard lock(TCustomFFmpeg::CodecLock());
        if (lib.avformat_find_stream_info(context, nullptr) < 0)
            return false;
    }
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream& stream = *context->streams[i];
        const AVMediaType type = stream.codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && opened.videoStream < 0 &&
            !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC))
            opened.videoStream = static_cast<int>(i);
        else if (type == AVMEDIA_TYPE_AUDIO && opened.audioStream < 0)
            opened.audioStream = static_cast<int>(i);
    }
    if (opened.videoStream >= 0)
        opened.video = openDecoder(*context->streams[opened.videoStream], true);
    if (opened.audioStream >= 0)
        opened.audio = openDecoder(*context->streams[opened.audioStream], false);
    opened.startUs = context->start_time == AV_NOPTS_VALUE ? 0 : context->start_time;
    return true;
}

// A time of the timeline in `stream`'s time base.
int64_t streamTime(const OpenedStrip& opened, int streamIndex, int64_t timeMs)
{
    return lib.av_rescale_q(opened.startUs + timeMs * 1000, AVRational{1, 1000000},
                            opened.context->streams[streamIndex]->time_base);
}

int64_t timelineMs(const OpenedStrip& opened, int streamIndex, int64_t ts)
{
    const int64_t us = lib.av_rescale_q(ts, opened.context->streams[streamIndex]->time_base,
                                        AVRational{1, 1000000});
    return (us - opened.startUs) / 1000;
}

// Reads packets after a seek on `streamIndex` until `take` returns true for
// one of that stream (it gets each of them). False when stopped, at the end
// or when none is taken within kPacketsPerSeek packets.
template <typename Take>
bool readUntil(OpenedStrip& opened, int streamIndex, const std::atomic<bool>& stop, Take take)
{
    PacketPtr packet(lib.av_packet_alloc());
    if (!packet)
        return false;
    for (int read = 0; read < kPacketsPerSeek && !stop.load(); ++read) {
        if (lib.av_read_frame(opened.context.get(), packet.get()) < 0)
            return false;
        const bool taken = packet->stream_index == streamIndex && take(*packet);
        lib.av_packet_unref(packet.get());
        if (taken)
            return true;
    }
    return false;
}

// The time a packet shows at (its decoding time when it has no other).
int64_t shownTime(const AVPacket& packet)
{
    return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
}

// Some demuxers (MPEG transport streams) seek by the time stamps of any
// picture, not to a key frame: the first key frame after such a seek can
// lie a whole group after the wanted time. The search then seeks this much
// further back, doubling the distance on each try.
constexpr int64_t kFirstBackOffMs = 1000;
constexpr int kBackOffTries = 8;

// The latest key frame packet at or before `timeMs` in `key`, or, when the
// file has none that early, its first one. False when none is found or the
// build is stopped.
bool findKeyFrame(OpenedStrip& opened, int64_t timeMs, const std::atomic<bool>& stop,
                  AVPacket& key)
{
    const int stream = opened.videoStream;
    const int64_t target = streamTime(opened, stream, timeMs);
    int64_t backOffMs = 0;
    for (int attempt = 0; attempt <= kBackOffTries && !stop.load(); ++attempt) {
        const int64_t seekMs = std::max<int64_t>(0, timeMs - backOffMs);
        backOffMs = backOffMs == 0 ? kFirstBackOffMs : backOffMs * 2;
        lib.av_packet_unref(&key);
        if (lib.av_seek_frame(opened.context.get(), stream, streamTime(opened, stream, seekMs),
                              AVSEEK_FLAG_BACKWARD) < 0) {
            if (seekMs == 0)
                return false;
            continue;
        }
        bool atOrBefore = false;
        bool onlyLater = false;  // the first key frame reached lies after the time
        readUntil(opened, stream, stop, [&](const AVPacket& packet) {
            const int64_t shown = shownTime(packet);
            if (packet.flags & AV_PKT_FLAG_KEY) {
                if (shown == AV_NOPTS_VALUE || shown <= target) {
                    lib.av_packet_unref(&key);
                    atOrBefore = lib.av_packet_ref(&key, &packet) >= 0;
                } else if (!atOrBefore) {
                    onlyLater = true;
                    // At the file's start no earlier key frame exists.
                    if (seekMs == 0 && lib.av_packet_ref(&key, &packet) < 0)
                        onlyLater = false;
                    return true;
                }
            }
            // Packets come in decoding order: after one decoded past the
            // time, none shows at or before it.
            const int64_t decoded = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
            return atOrBefore && decoded != AV_NOPTS_VALUE && decoded > target;
        });
        if (stop.load())
            return false;
        if (atOrBefore || (onlyLater && seekMs == 0))
            return true;
        if (seekMs == 0)
            return false;
    }
    return false;
}

// The picture of one key frame packet: decoded alone, drained, scaled.
bool decodeKeyFrame(OpenedStrip& opened, const AVPacket& packet, int height,
                    StripPicture& picture)
{
    AVCodecContext& decoder = *opened.video;
    lib.avcodec_flush_buffers(&decoder);
    FramePtr frame(lib.av_frame_alloc());
    if (!frame || lib.avcodec_send_packet(&decoder, &packet) < 0)
        return false;
    lib.avcodec_send_packet(&decoder, nullptr);
    if (lib.avcodec_receive_frame(&decoder, frame.get()) < 0)
        return false;
    // The rest of the drain is left to the flush before the next picture.
    const AVRational aspect = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio
                                                                 : AVRational{1, 1};
    const double shown = static_cast<double>(frame->width) * aspect.num / aspect.den;
    picture.height = std::max(2, height);
    picture.width =
        std::max(2, static_cast<int>(std::lround(shown * picture.height / frame->height)));
    ScalerPtr scaler(lib.sws_getContext(frame->width, frame->height,
                                        static_cast<AVPixelFormat>(frame->format), picture.width,
                                        picture.height, AV_PIX_FMT_RGB24, SWS_AREA, nullptr,
                                        nullptr, nullptr));
    if (!scaler)
        return false;
    picture.rgb.assign(static_cast<size_t>(picture.width) * picture.height * 3, 0);
    uint8_t* planes[4] = {picture.rgb.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {picture.width * 3, 0, 0, 0};
    return lib.sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes,
                         strides) == picture.height;
}

// Sample `index` of `channel` in `frame`, full scale = 1.
float sampleValue(const AVFrame& frame, int channel, int index)
{
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = lib.av_sample_fmt_is_planar(format) != 0;
    const int channels = frame.ch_layout.nb_channels;
    const uint8_t* data = frame.extended_data[planar ? channel : 0];
    const int at = planar ? index : index * channels + channel;
    switch (format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
        return (data[at] - 128) / 128.0f;
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
        return reinterpret_cast<const int16_t*>(data)[at] / 32768.0f;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
        return static_cast<float>(reinterpret_cast<const int32_t*>(data)[at] / 2147483648.0);
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
        return reinterpret_cast<const float*>(data)[at];
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
        return static_cast<float>(reinterpret_cast<const double*>(data)[at]);
    default:
        return 0.0f;
    }
}

// Decoders of some formats (MP3's bit reservoir) need the frames before a
// seek point to decode the first ones after it: decoding starts this much
// before a span, and what it gives there is not counted.
constexpr int64_t kAudioWarmUpMs = 150;
// The length of a "moment": a slot's RMS level is that of its loudest one.
constexpr int kMomentMs = 50;
// Sound between two spans further apart than this is skipped by a seek;
// nearer ones are decoded through.
constexpr double kSeekGapMs = 2000.0;

// Sound decoded in time order, its samples counted into the span they lie in.
class LoudnessScan {
public:
    LoudnessScan(const std::vector<StripSlot>& slots, int sampleRate,
                 const std::function<void(const StripLoudness&)>& report)
        : slots_(slots), sampleRate_(sampleRate),
          momentSamples_(std::max<int64_t>(1, int64_t{sampleRate} * kMomentMs / 1000)),
          report_(report)
    {
    }

    // The slot being measured; the number of slots when all are done.
    size_t Next() const { return next_; }

    // Counts `frame`, whose first sample lies at `firstMs` on the timeline.
    void Add(const AVFrame& frame, double firstMs)
    {
        const int channels = frame.ch_layout.nb_channels;
        for (int i = 0; i < frame.nb_samples; ++i) {
            const double timeMs = firstMs + 1000.0 * i / sampleRate_;
            while (next_ < slots_.size() && timeMs >= static_cast<double>(slots_[next_].endMs))
                finishSlot();
            if (next_ == slots_.size())
                return;
            if (timeMs < static_cast<double>(slots_[next_].firstMs) || channels <= 0)
                continue;
            double square = 0.0;
            for (int channel = 0; channel < channels; ++channel) {
                const float value = sampleValue(frame, channel, i);
                peak_ = std::max(peak_, std::fabs(value));
                square += double{value} * value / channels;
            }
            momentSquares_ += square;
            if (++momentCount_ == momentSamples_)
                endMoment();
        }
    }

    // The sound has ended: the slot being measured is reported as far as it
    // goes, the later ones have no sound.
    void Finish()
    {
        if (next_ < slots_.size())
            finishSlot();
        next_ = slots_.size();
    }

private:
    void endMoment()
    {
        rms_ = std::max(rms_, std::sqrt(momentSquares_ / static_cast<double>(momentCount_)));
        ++moments_;
        momentSquares_ = 0.0;
        momentCount_ = 0;
    }

    void finishSlot()
    {
        // A short span's only moment is cut short; a cut-short moment after
        // whole ones is left out (its few samples could sit on a crest).
        if (momentCount_ > 0 && moments_ == 0)
            endMoment();
        if (moments_ > 0 && report_) {
            const StripSlot& slot = slots_[next_];
            report_(StripLoudness{static_cast<int>(next_), slot.firstMs, slot.endMs, peak_,
                                  static_cast<float>(rms_)});
        }
        ++next_;
        peak_ = 0.0f;
        rms_ = 0.0;
        moments_ = 0;
        momentSquares_ = 0.0;
        momentCount_ = 0;
    }

    const std::vector<StripSlot>& slots_;
    const int sampleRate_;
    const int64_t momentSamples_;
    const std::function<void(const StripLoudness&)>& report_;
    size_t next_ = 0;
    float peak_ = 0.0f;
    double rms_ = 0.0;
    int moments_ = 0;
    double momentSquares_ = 0.0;
    int64_t momentCount_ = 0;
};

// A time of the timeline in milliseconds, not rounded.
double timelineMsExact(const OpenedStrip& opened, int streamIndex, int64_t ts)
{
    const int64_t us = lib.av_rescale_q(ts, opened.context->streams[streamIndex]->time_base,
                                        AVRational{1, 1000000});
    return static_cast<double>(us - opened.startUs) / 1000.0;
}

// Decodes the sound across the slots' spans and reports each span's
// loudness. Spans far apart are reached by seeking.
void measureLoudness(OpenedStrip& opened, const std::vector<StripSlot>& slots,
                     const std::atomic<bool>& stop,
                     const std::function<void(const StripLoudness&)>& report)
{
    AVCodecContext& decoder = *opened.audio;
    const int stream = opened.audioStream;
    FramePtr frame(lib.av_frame_alloc());
    PacketPtr packet(lib.av_packet_alloc());
    if (!frame || !packet || decoder.sample_rate <= 0)
        return;
    LoudnessScan scan(slots, decoder.sample_rate, report);
    double decodedToMs = 0.0;  // where the sound decoded so far ends
    const auto receive = [&] {
        while (lib.avcodec_receive_frame(&decoder, frame.get()) >= 0) {
            const double firstMs = frame->pts == AV_NOPTS_VALUE
                                       ? decodedToMs
                                       : timelineMsExact(opened, stream, frame->pts);
            scan.Add(*frame, firstMs);
            decodedToMs = firstMs + 1000.0 * frame->nb_samples / decoder.sample_rate;
            lib.av_frame_unref(frame.get());
        }
    };
    bool positioned = false;
    while (scan.Next() < slots.size() && !stop.load()) {
        const StripSlot& slot = slots[scan.Next()];
        if (!positioned || static_cast<double>(slot.firstMs) - decodedToMs > kSeekGapMs) {
            const int64_t fromMs = std::max<int64_t>(0, slot.firstMs - kAudioWarmUpMs);
            if (lib.av_seek_frame(opened.context.get(), stream,
                                  streamTime(opened, stream, fromMs), AVSEEK_FLAG_BACKWARD) < 0)
                return;
            lib.avcodec_flush_buffers(&decoder);
            positioned = true;
            decodedToMs = static_cast<double>(fromMs);
        }
        // Reads on until the next span lies a seek away or the sound ends
        // (also when the stream gives nothing for kPacketsPerSeek packets).
        bool ended = true;
        for (int idle = 0; idle < kPacketsPerSeek && !stop.load(); ++idle) {
            if (lib.av_read_frame(opened.context.get(), packet.get()) < 0)
                break;
            if (packet->stream_index == stream) {
                if (lib.avcodec_send_packet(&decoder, packet.get()) >= 0)
                    idle = 0;
                receive();
            }
            lib.av_packet_unref(packet.get());
            if (scan.Next() == slots.size() ||
                static_cast<double>(slots[scan.Next()].firstMs) - decodedToMs > kSeekGapMs) {
                ended = false;
                break;
            }
        }
        if (ended) {
            lib.avcodec_send_packet(&decoder, nullptr);
            receive();
            scan.Finish();
        }
    }
}

}  // namespace

void TKeyFrameStrip::Start(StripRequest request)
{
    Cancel();
    stop_.store(false);
    worker_ = std::thread([this, request = std::move(request)] {
        // The strip gives way to the preview's playback and the window.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kStripNiceness);
        build(request);
    });
}

void TKeyFrameStrip::Cancel()
{
    stop_.store(true);
    if (worker_.joinable())
        worker_.join();
}

void TKeyFrameStrip::build(const StripRequest& request)
{
    OpenedStrip opened;
    bool readable = openStrip(request.fileName, opened);
    const auto slots = static_cast<int>(request.slotList.size());
    PacketPtr key(lib.av_packet_alloc());
    if (readable && opened.video && key) {
        const int stream = opened.videoStream;
        // Neighbouring slots often fall in one group of pictures: its key
        // frame is decoded once.
        StripPicture last;
        int64_t lastKeyTs = AV_NOPTS_VALUE;
        for (int slot = 0; slot < slots && !stop_.load(); ++slot) {
            const int64_t timeMs = request.slotList[static_cast<size_t>(slot)].timeMs;
            if (!findKeyFrame(opened, timeMs, stop_, *key))
                continue;
            const int64_t keyTs = shownTime(*key);
            if (keyTs != lastKeyTs || last.rgb.empty()) {
                last = StripPicture{};
                if (!decodeKeyFrame(opened, *key, request.pictureHeight, last))
                    continue;
                lastKeyTs = keyTs;
                last.keyTimeMs =
                    keyTs == AV_NOPTS_VALUE ? timeMs : timelineMs(opened, stream, keyTs);
            }
            if (!stop_.load() && OnPicture) {
                last.slot = slot;
                last.timeMs = timeMs;
                OnPicture(last);
            }
        }
    }
    key.reset();
    if (readable && opened.audio && !stop_.load()) {
        const std::function<void(const StripLoudness&)> report =
            [this](const StripLoudness& loudness) {
                if (!stop_.load() && OnLoudness)
                    OnLoudness(loudness);
            };
        measureLoudness(opened, request.slotList, stop_, report);
    }
    {
        // Decoders are closed under the libraries' codec lock.
        const std::lock_guard lock(TCustomFFmpeg::CodecLock());
        opened.video.reset();
        opened.audio.reset();
    }
    readable = readable && !stop_.load();
    if (OnFinished)
        OnFinished(readable);
}

}  // namespace clipmora
