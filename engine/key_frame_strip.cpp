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
// before the window, and what it gives there is not counted.
constexpr int64_t kAudioWarmUpMs = 150;

// The peak and RMS of `windowMs` of sound from the slot's time on.
bool measureLoudness(OpenedStrip& opened, int64_t timeMs, int windowMs,
                     const std::atomic<bool>& stop, StripLoudness& loudness)
{
    AVCodecContext& decoder = *opened.audio;
    const int stream = opened.audioStream;
    if (lib.av_seek_frame(opened.context.get(), stream,
                          streamTime(opened, stream, std::max<int64_t>(0, timeMs - kAudioWarmUpMs)),
                          AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    lib.avcodec_flush_buffers(&decoder);
    FramePtr frame(lib.av_frame_alloc());
    if (!frame)
        return false;
    const int64_t wanted = std::max<int64_t>(1, int64_t{decoder.sample_rate} * windowMs / 1000);
    int64_t counted = 0;
    double squares = 0.0;
    float peak = 0.0f;
    const auto measure = [&](const AVPacket& packet) {
        if (lib.avcodec_send_packet(&decoder, &packet) < 0)
            return false;
        while (lib.avcodec_receive_frame(&decoder, frame.get()) >= 0) {
            const int64_t frameMs = frame->pts == AV_NOPTS_VALUE
                                        ? timeMs
                                        : timelineMs(opened, stream, frame->pts);
            const int64_t lengthMs = int64_t{frame->nb_samples} * 1000 / decoder.sample_rate;
            // Sound that ends before the slot's time is not the slot's.
            if (frameMs + lengthMs >= timeMs) {
                for (int i = 0; i < frame->nb_samples && counted < wanted; ++i, ++counted)
                    for (int channel = 0; channel < frame->ch_layout.nb_channels; ++channel) {
                        const float value = sampleValue(*frame, channel, i);
                        peak = std::max(peak, std::fabs(value));
                        squares += double{value} * value / frame->ch_layout.nb_channels;
                    }
            }
            lib.av_frame_unref(frame.get());
        }
        return counted >= wanted;
    };
    readUntil(opened, stream, stop, measure);
    if (counted == 0)
        return false;
    loudness.peak = peak;
    loudness.rms = static_cast<float>(std::sqrt(squares / static_cast<double>(counted)));
    return true;
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
    const auto slots = static_cast<int>(request.timesMs.size());
    if (readable && opened.video) {
        const int stream = opened.videoStream;
        // Neighbouring slots often fall in one group of pictures: its key
        // frame is decoded once.
        StripPicture last;
        int64_t lastKeyTs = AV_NOPTS_VALUE;
        for (int slot = 0; slot < slots && !stop_.load(); ++slot) {
            const int64_t timeMs = request.timesMs[static_cast<size_t>(slot)];
            if (lib.av_seek_frame(opened.context.get(), stream, streamTime(opened, stream, timeMs),
                                  AVSEEK_FLAG_BACKWARD) < 0)
                continue;
            bool decoded = false;
            readUntil(opened, stream, stop_, [&](const AVPacket& packet) {
                if (!(packet.flags & AV_PKT_FLAG_KEY))
                    return false;
                const int64_t keyTs = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
                if (keyTs != lastKeyTs || last.rgb.empty()) {
                    last = StripPicture{};
                    if (!decodeKeyFrame(opened, packet, request.pictureHeight, last))
                        return true;
                    lastKeyTs = keyTs;
                    last.keyTimeMs = keyTs == AV_NOPTS_VALUE ? timeMs : timelineMs(opened, stream, keyTs);
                }
                decoded = true;
                return true;
            });
            if (decoded && !stop_.load() && OnPicture) {
                last.slot = slot;
                last.timeMs = timeMs;
                OnPicture(last);
            }
        }
    }
    if (readable && opened.audio) {
        for (int slot = 0; slot < slots && !stop_.load(); ++slot) {
            StripLoudness loudness;
            loudness.slot = slot;
            loudness.timeMs = request.timesMs[static_cast<size_t>(slot)];
            if (measureLoudness(opened, loudness.timeMs, request.loudnessWindowMs, stop_,
                                loudness) &&
                !stop_.load() && OnLoudness)
                OnLoudness(loudness);
        }
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
