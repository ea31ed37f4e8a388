// Test media written and read back with the bound codec libraries.
//
// Pictures: the top quarter of every picture is a band of 2 rows x 12 blocks,
// each block pure black (16) or white (235). The 24 bits are a fixed 4-bit
// marker, the 16-bit frame number and a 4-bit check value, so a lossy codec
// cannot turn one frame number into another and an arbitrary picture reads as
// "no pattern". Below the band a diagonal gradient moves a little every frame,
// so the encoders see ordinary motion.
//
// Sound: a sine tone per channel (440 Hz, 660 Hz, ...), generated straight
// into the encoder's own sample format in frames of the encoder's frame size.
#include "tests/support/media_generator.h"

#include "engine/library_handles.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>

namespace clipmora::testing {
namespace {

[[noreturn]] void Fail(const std::string& step, int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    lib.av_strerror(code, text, sizeof text);
    throw std::runtime_error(step + " failed: " + text);
}

[[noreturn]] void Fail(const std::string& step) { throw std::runtime_error(step + " failed"); }

void Check(int code, const std::string& step)
{
    if (code < 0)
        Fail(step, code);
}

template <typename T>
T* CheckAlloc(T* object, const std::string& step)
{
    if (!object)
        Fail(step, AVERROR(ENOMEM));
    return object;
}

FramePtr NewFrame() { return FramePtr(CheckAlloc(lib.av_frame_alloc(), "av_frame_alloc")); }
PacketPtr NewPacket() { return PacketPtr(CheckAlloc(lib.av_packet_alloc(), "av_packet_alloc")); }

constexpr AVRational kMicroseconds{1, 1000000};

// ---------------------------------------------------------------------------
// The frame number pattern.

constexpr int kColumns = 12;
constexpr int kRows = 2;
constexpr uint8_t kBlack = 16;
constexpr uint8_t kWhite = 235;
// A block's inner mean must be this far from mid-grey to count as a bit.
constexpr int kDecisionMargin = 40;
constexpr int kMaxPatternValue = 0xFFFF;
constexpr int kMinPatternWidth = 2 * kColumns;
constexpr int kMinPatternHeight = 16;

// Bit order (block 0 is top left, 12 is bottom left): marker 1,0 | value bits
// 15..6 | marker 0,1 | value bits 5..0 | check bits 3..0.
uint32_t PatternBits(int value)
{
    const uint32_t v = static_cast<uint32_t>(value) & 0xFFFF;
    const uint32_t check = ((v ^ (v >> 4) ^ (v >> 8) ^ (v >> 12)) & 0xF) ^ 0x5;
    uint32_t bits = 0;
    int next = 0;
    auto put = [&](uint32_t bit) { bits |= (bit & 1u) << next++; };
    put(1);
    put(0);
    for (int b = 15; b >= 6; --b)
        put(v >> b);
    put(0);
    put(1);
    for (int b = 5; b >= 0; --b)
        put(v >> b);
    for (int b = 3; b >= 0; --b)
        put(check >> b);
    return bits;
}

struct BlockRect {
    int x0, y0, x1, y1;
};

BlockRect BlockOf(int index, int width, int height)
{
    const int column = index % kColumns;
    const int row = index / kColumns;
    return {column * width / kColumns, row * height / 8, (column + 1) * width / kColumns,
            (row + 1) * height / 8};
}

// Each row of blocks is one eighth of the picture height.
int BandHeight(int height) { return kRows * height / 8; }

// ---------------------------------------------------------------------------
// Picture and sound sources.

void DrawPicture(AVFrame* frame, int index)
{
    const int width = frame->width;
    const int height = frame->height;
    DrawFramePattern(frame->data[0], frame->linesize[0], width, height, index);
    const int band = BandHeight(height);
    for (int y = band; y < height; ++y) {
        uint8_t* row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < width; ++x)
            row[x] = static_cast<uint8_t>(kBlack + (2 * x + y + 4 * index) % (kWhite - kBlack));
    }
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    for (int y = 0; y < chromaHeight; ++y) {
        uint8_t* u = frame->data[1] + static_cast<std::ptrdiff_t>(y) * frame->linesize[1];
        uint8_t* v = frame->data[2] + static_cast<std::ptrdiff_t>(y) * frame->linesize[2];
        const bool inBand = 2 * y < band;
        for (int x = 0; x < chromaWidth; ++x) {
            u[x] = inBand ? 128 : static_cast<uint8_t>(96 + (x + 2 * index) % 64);
            v[x] = inBand ? 128 : static_cast<uint8_t>(96 + (y + index) % 64);
        }
    }
}

double ToneSample(int channel, int64_t sampleIndex, int sampleRate, double amplitude)
{
    const double frequency = 440.0 + 220.0 * channel;
    return amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(sampleIndex) /
                           sampleRate);
}

void StoreSample(AVSampleFormat format, uint8_t* at, double value)
{
    switch (format) {
    case AV_SAMPLE_FMT_U8:
        *at = static_cast<uint8_t>(std::lround(value * 127.0) + 128);
        break;
    case AV_SAMPLE_FMT_S16: {
        const int16_t s = static_cast<int16_t>(std::lround(value * 32767.0));
        std::memcpy(at, &s, sizeof s);
        break;
    }
    case AV_SAMPLE_FMT_S32: {
        const int32_t s = static_cast<int32_t>(std::lround(value * 2147483647.0));
        std::memcpy(at, &s, sizeof s);
        break;
    }
    case AV_SAMPLE_FMT_S64: {
        const int64_t s = std::llround(value * 4.0e18);
        std::memcpy(at, &s, sizeof s);
        break;
    }
    case AV_SAMPLE_FMT_FLT: {
        const float s = static_cast<float>(value);
        std::memcpy(at, &s, sizeof s);
        break;
    }
    case AV_SAMPLE_FMT_DBL:
        std::memcpy(at, &value, sizeof value);
        break;
    default:
        throw std::runtime_error("sample format not supported by the tone source");
    }
}

AVSampleFormat PackedFormat(AVSampleFormat format)
{
    switch (format) {
    case AV_SAMPLE_FMT_U8P: return AV_SAMPLE_FMT_U8;
    case AV_SAMPLE_FMT_S16P: return AV_SAMPLE_FMT_S16;
    case AV_SAMPLE_FMT_S32P: return AV_SAMPLE_FMT_S32;
    case AV_SAMPLE_FMT_S64P: return AV_SAMPLE_FMT_S64;
    case AV_SAMPLE_FMT_FLTP: return AV_SAMPLE_FMT_FLT;
    case AV_SAMPLE_FMT_DBLP: return AV_SAMPLE_FMT_DBL;
    default: return format;
    }
}

// Whether sample `sampleIndex` lies in one of `spans` (seconds); any does when
// there are none.
bool ToneSounds(const std::vector<std::pair<double, double>>& spans, int64_t sampleIndex,
                int sampleRate)
{
    const double seconds = static_cast<double>(sampleIndex) / sampleRate;
    return spans.empty() || std::any_of(spans.begin(), spans.end(), [&](const auto& span) {
               return seconds >= span.first && seconds < span.second;
           });
}

void FillTone(AVFrame* frame, AVSampleFormat format, int channels, int64_t firstSample,
              int sampleRate, double amplitude, const std::vector<std::pair<double, double>>& spans)
{
    const bool planar = lib.av_sample_fmt_is_planar(format) != 0;
    const AVSampleFormat storeFormat = PackedFormat(format);
    const int bytes = lib.av_get_bytes_per_sample(format);
    for (int i = 0; i < frame->nb_samples; ++i) {
        const bool sounds = ToneSounds(spans, firstSample + i, sampleRate);
        for (int c = 0; c < channels; ++c) {
            uint8_t* at = planar ? frame->extended_data[c] + static_cast<std::ptrdiff_t>(i) * bytes
                                 : frame->extended_data[0] +
                                       (static_cast<std::ptrdiff_t>(i) * channels + c) * bytes;
            StoreSample(storeFormat, at,
                        sounds ? ToneSample(c, firstSample + i, sampleRate, amplitude) : 0.0);
        }
    }
}

// ---------------------------------------------------------------------------
// Writing.

struct OutputStream {
    double amplitude = 0.25;  // of the tone, full scale = 1
    std::vector<std::pair<double, double>> toneSpans;  // where it sounds (seconds)
    CodecContextPtr codec;
    AVStream* stream = nullptr;
    FramePtr frame;      // what the encoder receives
    FramePtr source;     // YUV 4:2:0 picture when the encoder wants another format
    ScalerPtr scaler;
    int64_t next = 0;    // next frame index (video) or sample index (audio)
    int64_t total = 0;   // frames or samples to produce
    int64_t startPts = 0;  // startTimeUs in the encoder's time base
    bool variableRate = false;  // video: pictures alternately 1 and 3 time base units apart
    int dropEvery = 0;          // video: MediaSpec::dropEvery
    int frameSize = 0;     // audio: samples per frame
    bool padLastFrame = false;
    bool finished = false;
    std::string name;
};

AVPixelFormat ChooseVideoFormat(const AVCodec* codec, const std::string& name)
{
    const AVPixelFormat wanted = lib.av_get_pix_fmt(name.c_str());
    if (wanted == AV_PIX_FMT_NONE)
        throw std::runtime_error("unknown picture format " + name);
    if (!codec->pix_fmts)
        return wanted;
    for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == wanted)
            return *f;
    if (name != MediaSpec{}.pixelFormat)
        throw std::runtime_error(std::string("encoder ") + codec->name + " does not support " +
                                 name);
    return codec->pix_fmts[0];
}

// The encoder options `spec` asks for beyond the codec context's fields.
void SetEncoderOptions(const MediaSpec& spec, AVDictionary** options)
{
    const bool x264 = spec.videoCodec == "libx264";
    const bool x265 = spec.videoCodec == "libx265";
    if (!x264 && !x265)
        return;
    lib.av_dict_set(options, "preset",
                    spec.encoderPreset.empty() ? "ultrafast" : spec.encoderPreset.c_str(), 0);
    std::string params;
    const auto add = [&params](const std::string& param) {
        params += (params.empty() ? "" : ":") + param;
    };
    if (x264 && spec.bFrames >= 2)
        add("b-pyramid=normal");
    if (x264 && spec.openGop)
        add("open-gop=1");
    if (x265) {
        // Key frames only where the interval puts them, and no chatter on stderr.
        add("log-level=error");
        add("scenecut=0");
        add(spec.openGop ? "open-gop=1" : "open-gop=0");
    }
    if (!params.empty())
        lib.av_dict_set(options, x264 ? "x264-params" : "x265-params", params.c_str(), 0);
}

AVSampleFormat ChooseSampleFormat(const AVCodec* codec)
{
    if (!codec->sample_fmts)
        return AV_SAMPLE_FMT_S16;
    return codec->sample_fmts[0];
}

const AVCodec* FindEncoder(const std::string& name)
{
    const AVCodec* codec = lib.avcodec_find_encoder_by_name(name.c_str());
    if (!codec)
        throw std::runtime_error("encoder " + name + " not found");
    return codec;
}

void OpenEncoder(OutputStream& out, const AVCodec* codec, AVFormatContext* format,
                 AVDictionary** options)
{
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        out.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    out.codec->thread_count = 1;
    Check(lib.avcodec_open2(out.codec.get(), codec, options), "opening encoder " + out.name);
    out.stream = CheckAlloc(lib.avformat_new_stream(format, nullptr), "avformat_new_stream");
    Check(lib.avcodec_parameters_from_context(out.stream->codecpar, out.codec.get()),
          "avcodec_parameters_from_context");
    out.stream->time_base = out.codec->time_base;
}

// A stream for `encoder`, which must be `kind` ("a video", "an audio")
// encoder, with its encoder context allocated.
OutputStream NewStream(const std::string& encoder, AVMediaType type, const char* kind)
{
    OutputStream out;
    out.name = encoder;
    const AVCodec* codec = FindEncoder(encoder);
    if (codec->type != type)
        throw std::runtime_error("encoder " + encoder + " is not " + kind + " encoder");
    out.codec.reset(CheckAlloc(lib.avcodec_alloc_context3(codec), "avcodec_alloc_context3"));
    return out;
}

OutputStream AddVideo(const MediaSpec& spec, AVFormatContext* format)
{
    OutputStream out = NewStream(spec.videoCodec, AVMEDIA_TYPE_VIDEO, "a video");
    out.variableRate = spec.variableFrameRate;
    out.dropEvery = spec.dropEvery;
    const AVCodec* codec = out.codec->codec;
    AVCodecContext* c = out.codec.get();
    c->width = spec.width;
    c->height = spec.height;
    c->pix_fmt = ChooseVideoFormat(codec, spec.pixelFormat);
    // A variable rate counts in half frame intervals.
    c->time_base = AVRational{spec.frameRateDen, spec.frameRateNum * (spec.variableFrameRate ? 2 : 1)};
    c->framerate = AVRational{spec.frameRateNum, spec.frameRateDen};
    c->bit_rate = spec.videoBitRate;
    c->gop_size = spec.keyFrameInterval;
    if (spec.bFrames > 0)
        c->max_b_frames = spec.bFrames;
    AVDictionary* options = nullptr;
    SetEncoderOptions(spec, &options);
    try {
        OpenEncoder(out, codec, format, &options);
    } catch (...) {
        lib.av_dict_free(&options);
        throw;
    }
    lib.av_dict_free(&options);
    out.stream->avg_frame_rate = c->framerate;

    out.frame = NewFrame();
    out.frame->format = c->pix_fmt;
    out.frame->width = c->width;
    out.frame->height = c->height;
    Check(lib.av_frame_get_buffer(out.frame.get(), 0), "allocating the video frame");
    if (c->pix_fmt != AV_PIX_FMT_YUV420P) {
        out.source = NewFrame();
        out.source->format = AV_PIX_FMT_YUV420P;
        out.source->width = c->width;
        out.source->height = c->height;
        Check(lib.av_frame_get_buffer(out.source.get(), 0), "allocating the source picture");
        out.scaler.reset(lib.sws_getContext(c->width, c->height, AV_PIX_FMT_YUV420P, c->width,
                                            c->height, c->pix_fmt, SWS_BILINEAR, nullptr,
                                            nullptr, nullptr));
        if (!out.scaler)
            Fail("sws_getContext for " + spec.videoCodec);
    }
    const double frames = spec.seconds * spec.frameRateNum / spec.frameRateDen;
    out.total = std::llround(frames);
    if (out.total > kMaxPatternValue + 1)
        throw std::runtime_error("clip has more frames than the frame pattern can number");
    out.startPts = lib.av_rescale_q(spec.startTimeUs, kMicroseconds, c->time_base);
    return out;
}

OutputStream AddAudio(const MediaSpec& spec, AVFormatContext* format)
{
    OutputStream out = NewStream(spec.audioCodec, AVMEDIA_TYPE_AUDIO, "an audio");
    const AVCodec* codec = out.codec->codec;
    if (codec->supported_samplerates) {
        bool supported = false;
        for (const int* r = codec->supported_samplerates; *r; ++r)
            supported = supported || *r == spec.sampleRate;
        if (!supported)
            throw std::runtime_error("encoder " + spec.audioCodec + " does not support " +
                                     std::to_string(spec.sampleRate) + " Hz");
    }
    AVCodecContext* c = out.codec.get();
    c->sample_fmt = ChooseSampleFormat(codec);
    c->sample_rate = spec.sampleRate;
    c->time_base = AVRational{1, spec.sampleRate};
    c->bit_rate = spec.audioBitRate;
    lib.av_channel_layout_uninit(&c->ch_layout);
    const AVChannelLayout* chosen = nullptr;
    if (codec->ch_layouts) {
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l)
            if (l->nb_channels == spec.channels) {
                chosen = l;
                break;
            }
        if (!chosen)
            throw std::runtime_error("encoder " + spec.audioCodec + " does not support " +
                                     std::to_string(spec.channels) + " channels");
        Check(lib.av_channel_layout_copy(&c->ch_layout, chosen), "av_channel_layout_copy");
    } else {
        lib.av_channel_layout_default(&c->ch_layout, spec.channels);
    }
    OpenEncoder(out, codec, format, nullptr);

    const bool variable = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    out.frameSize = c->frame_size > 0 && !variable ? c->frame_size : 1024;
    // Encoders that insist on full frames get the tone continued to the end
    // of the last one rather than a cut-short clip.
    out.padLastFrame = !variable && !(codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
    out.total = std::llround(spec.seconds * spec.sampleRate);
    out.startPts =
        lib.av_rescale_q(spec.startTimeUs + spec.audioDelayUs, kMicroseconds, c->time_base);
    out.amplitude = spec.toneAmplitude;
    out.toneSpans = spec.toneSpans;
    out.frame = NewFrame();
    return out;
}

void WritePackets(OutputStream& out, AVFormatContext* format, AVPacket* packet)
{
    for (;;) {
        const int got = lib.avcodec_receive_packet(out.codec.get(), packet);
        if (got == AVERROR(EAGAIN))
            return;
        if (got == AVERROR_EOF) {
            out.finished = true;
            return;
        }
        Check(got, "encoding with " + out.name);
        lib.av_packet_rescale_ts(packet, out.codec->time_base, out.stream->time_base);
        packet->stream_index = out.stream->index;
        // Takes over the packet's reference, also on failure.
        Check(lib.av_interleaved_write_frame(format, packet), "writing a " + out.name + " packet");
    }
}

// The time of the next picture or sample in the encoder's time base, from the start.
int64_t NextTime(const OutputStream& out)
{
    return out.variableRate ? 2 * out.next - out.next % 2 : out.next;
}

// Sends the next picture or block of samples, or the end of stream once all
// were sent.
void EncodeNext(OutputStream& out, AVFormatContext* format, AVPacket* packet, bool video)
{
    AVFrame* send = nullptr;
    if (video && out.dropEvery > 1)
        while (out.next < out.total && out.next % out.dropEvery == out.dropEvery - 1)
            ++out.next;
    if (out.next < out.total) {
        if (video) {
            Check(lib.av_frame_make_writable(out.frame.get()), "av_frame_make_writable");
            const int index = static_cast<int>(out.next);
            if (out.scaler) {
                Check(lib.av_frame_make_writable(out.source.get()), "av_frame_make_writable");
                DrawPicture(out.source.get(), index);
                Check(lib.sws_scale(out.scaler.get(), out.source->data, out.source->linesize, 0,
                                    out.source->height, out.frame->data, out.frame->linesize),
                      "converting the picture for " + out.name);
            } else {
                DrawPicture(out.frame.get(), index);
            }
            out.frame->pts = out.startPts + NextTime(out);
            ++out.next;
        } else {
            const int64_t left = out.total - out.next;
            const int samples =
                left >= out.frameSize || out.padLastFrame ? out.frameSize : static_cast<int>(left);
            AVFrame* f = out.frame.get();
            lib.av_frame_unref(f);
            f->format = out.codec->sample_fmt;
            f->sample_rate = out.codec->sample_rate;
            f->nb_samples = samples;
            Check(lib.av_channel_layout_copy(&f->ch_layout, &out.codec->ch_layout),
                  "av_channel_layout_copy");
            Check(lib.av_frame_get_buffer(f, 0), "allocating an audio frame");
            FillTone(f, out.codec->sample_fmt, out.codec->ch_layout.nb_channels, out.next,
                     out.codec->sample_rate, out.amplitude, out.toneSpans);
            f->pts = out.startPts + out.next;
            out.next += samples;
        }
        send = out.frame.get();
    }
    Check(lib.avcodec_send_frame(out.codec.get(), send), "sending a frame to " + out.name);
    WritePackets(out, format, packet);
}

void ValidateSpec(const MediaSpec& spec)
{
    if (spec.videoCodec.empty() && spec.audioCodec.empty())
        throw std::runtime_error("media spec has neither a video nor an audio encoder");
    if (!(spec.seconds > 0) || spec.seconds > 3600)
        throw std::runtime_error("media spec duration out of range");
    if (spec.startTimeUs < 0 || spec.audioDelayUs < 0)
        throw std::runtime_error("media spec start time is negative");
    if (!(spec.toneAmplitude >= 0.0 && spec.toneAmplitude <= 1.0))
        throw std::runtime_error("media spec tone amplitude out of range");
    if (!spec.videoCodec.empty() &&
        (spec.width < kMinPatternWidth || spec.height < kMinPatternHeight || spec.width > 8192 ||
         spec.height > 8192 || spec.frameRateNum <= 0 || spec.frameRateDen <= 0))
        throw std::runtime_error("media spec picture size or frame rate out of range");
    if (!spec.audioCodec.empty() &&
        (spec.sampleRate <= 0 || spec.channels < 1 || spec.channels > 8))
        throw std::runtime_error("media spec sample rate or channel count out of range");
}

void WriteMedia(const std::string& path, const MediaSpec& spec)
{
    ValidateSpec(spec);
    AVFormatContext* raw = nullptr;
    Check(lib.avformat_alloc_output_context2(&raw, nullptr, spec.container.c_str(), path.c_str()),
          "creating a " + spec.container + " output");
    OutputFormatPtr format(raw);

    OutputStream video;
    OutputStream audio;
    const bool hasVideo = !spec.videoCodec.empty();
    const bool hasAudio = !spec.audioCodec.empty();
    if (hasAudio && spec.audioFirst)
        audio = AddAudio(spec, format.get());
    if (hasVideo)
        video = AddVideo(spec, format.get());
    if (hasAudio && !spec.audioFirst)
        audio = AddAudio(spec, format.get());

    if (!(format->oformat->flags & AVFMT_NOFILE))
        Check(lib.avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE), "opening " + path);
    Check(lib.avformat_write_header(format.get(), nullptr), "writing the " + spec.container + " header");

    PacketPtr packet = NewPacket();
    video.finished = !hasVideo;
    audio.finished = !hasAudio;
    // Feed whichever stream is behind, so the muxer gets interleaved input.
    while (!video.finished || !audio.finished) {
        const bool videoLeft = !video.finished && video.next < video.total;
        const bool audioLeft = !audio.finished && audio.next < audio.total;
        bool pickVideo;
        if (videoLeft && audioLeft)
            pickVideo = lib.av_compare_ts(NextTime(video), video.codec->time_base, audio.next,
                                          audio.codec->time_base) <= 0;
        else if (videoLeft || audioLeft)
            pickVideo = videoLeft;  // the other source is used up; flush it last
        else
            pickVideo = !video.finished;
        OutputStream& out = pickVideo ? video : audio;
        EncodeNext(out, format.get(), packet.get(), pickVideo);
    }
    Check(lib.av_write_trailer(format.get()), "writing the " + spec.container + " trailer");
    if (format->pb && !(format->oformat->flags & AVFMT_NOFILE))
        Check(lib.avio_closep(&format->pb), "closing " + path);
}

// ---------------------------------------------------------------------------
// Reading.

struct InputStream {
    CodecContextPtr codec;
    AVStream* stream = nullptr;
};

InputStream OpenDecoder(AVStream* stream)
{
    InputStream in;
    in.stream = stream;
    const AVCodec* codec = lib.avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        throw std::runtime_error(std::string("no decoder for ") +
                                 lib.avcodec_get_name(stream->codecpar->codec_id));
    in.codec.reset(CheckAlloc(lib.avcodec_alloc_context3(codec), "avcodec_alloc_context3"));
    Check(lib.avcodec_parameters_to_context(in.codec.get(), stream->codecpar),
          "avcodec_parameters_to_context");
    in.codec->pkt_timebase = stream->time_base;
    in.codec->thread_count = 1;
    Check(lib.avcodec_open2(in.codec.get(), codec, nullptr),
          std::string("opening decoder ") + codec->name);
    return in;
}

bool IsPlanarLuma8(AVPixelFormat format)
{
    const AVPixFmtDescriptor* d = lib.av_pix_fmt_desc_get(format);
    if (!d || d->nb_components < 1)
        return false;
    const uint64_t notLuma = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                             AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_BE;
    return !(d->flags & notLuma) && d->comp[0].plane == 0 && d->comp[0].depth == 8 &&
           d->comp[0].step == 1 && d->comp[0].shift == 0 && d->comp[0].offset == 0;
}

// A decoded picture's luma as 8-bit rows, converted when the picture holds
// it in another form.
class LumaReader {
public:
    struct Plane {
        const uint8_t* data;
        int linesize;
    };

    Plane Luma(const AVFrame* frame)
    {
        const auto format = static_cast<AVPixelFormat>(frame->format);
        if (IsPlanarLuma8(format))
            return {frame->data[0], frame->linesize[0]};
        SwsContext* scaler = lib.sws_getCachedContext(
            scaler_.release(), frame->width, frame->height, format, frame->width, frame->height,
            AV_PIX_FMT_GRAY8, SWS_BILINEAR, nullptr, nullptr, nullptr);
        scaler_.reset(scaler);
        if (!scaler)
            Fail(std::string("sws_getCachedContext for ") + lib.av_get_pix_fmt_name(format));
        if (!gray_ || gray_->width != frame->width || gray_->height != frame->height) {
            gray_ = NewFrame();
            gray_->format = AV_PIX_FMT_GRAY8;
            gray_->width = frame->width;
            gray_->height = frame->height;
            Check(lib.av_frame_get_buffer(gray_.get(), 0), "allocating the luma picture");
        }
        Check(lib.sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, gray_->data,
                            gray_->linesize),
              "converting a decoded picture to luma");
        return {gray_->data[0], gray_->linesize[0]};
    }

private:
    ScalerPtr scaler_;
    FramePtr gray_;
};

std::vector<uint8_t> CopyLuma(const LumaReader::Plane& plane, int width, int height)
{
    std::vector<uint8_t> luma(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        std::memcpy(luma.data() + static_cast<size_t>(y) * width,
                    plane.data + static_cast<std::ptrdiff_t>(y) * plane.linesize,
                    static_cast<size_t>(width));
    return luma;
}

// Copies a picture into planar YUV 4:2:0 vectors.
void StorePicture(const AVFrame* frame, DecodedSummary& summary)
{
    const int w = frame->width, h = frame->height;
    ScalerPtr scaler(lib.sws_getContext(w, h, static_cast<AVPixelFormat>(frame->format), w, h,
                                        AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
    if (!scaler)
        Fail("sws_getContext for the first picture");
    const int chromaWidth = (w + 1) / 2, chromaHeight = (h + 1) / 2;
    summary.firstY.resize(static_cast<size_t>(w) * h);
    summary.firstU.resize(static_cast<size_t>(chromaWidth) * chromaHeight);
    summary.firstV.resize(summary.firstU.size());
    uint8_t* planes[4] = {summary.firstY.data(), summary.firstU.data(), summary.firstV.data(),
                          nullptr};
    const int strides[4] = {w, chromaWidth, chromaWidth, 0};
    Check(lib.sws_scale(scaler.get(), frame->data, frame->linesize, 0, h, planes, strides),
          "converting the first picture");
}

// Appends a decoded audio frame as interleaved samples of `format` (16-bit
// or float, as `Sample` holds).
template <typename Sample>
void StoreSamples(const AVFrame* frame, AVSampleFormat format, ResamplerPtr& convert,
                  std::vector<Sample>& out)
{
    // The converter's set-up takes its layouts by non-const pointer.
    AVChannelLayout* layout = const_cast<AVChannelLayout*>(&frame->ch_layout);
    if (!convert) {
        SwrContext* made = nullptr;
        Check(lib.swr_alloc_set_opts2(&made, layout, format, frame->sample_rate, layout,
                                      static_cast<AVSampleFormat>(frame->format),
                                      frame->sample_rate, 0, nullptr),
              "creating the sample converter");
        convert.reset(made);
        Check(lib.swr_init(made), "opening the sample converter");
    }
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(frame->nb_samples) * frame->ch_layout.nb_channels);
    auto* target = reinterpret_cast<uint8_t*>(out.data() + at);
    Check(lib.swr_convert(convert.get(), &target, frame->nb_samples,
                          const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples),
          "converting decoded samples");
}

int64_t ToMicroseconds(int64_t ts, AVRational base)
{
    return ts == AV_NOPTS_VALUE ? -1 : lib.av_rescale_q(ts, base, kMicroseconds);
}

}  // namespace

// ---------------------------------------------------------------------------

double ToneValue(int channel, int64_t sampleIndex, int sampleRate, double amplitude)
{
    return ToneSample(channel, sampleIndex, sampleRate, amplitude);
}

void DrawFramePattern(uint8_t* luma, int linesize, int width, int height, int value)
{
    if (!luma || width < kMinPatternWidth || height < kMinPatternHeight || linesize < width ||
        value < 0 || value > kMaxPatternValue)
        throw std::invalid_argument("DrawFramePattern: picture too small or value out of range");
    const uint32_t bits = PatternBits(value);
    for (int i = 0; i < kRows * kColumns; ++i) {
        const BlockRect r = BlockOf(i, width, height);
        const uint8_t level = (bits >> i) & 1u ? kWhite : kBlack;
        for (int y = r.y0; y < r.y1; ++y)
            std::memset(luma + static_cast<std::ptrdiff_t>(y) * linesize + r.x0, level,
                        static_cast<size_t>(r.x1 - r.x0));
    }
}

int FramePatternValue(const uint8_t* luma, int linesize, int width, int height)
{
    if (!luma || width < kMinPatternWidth || height < kMinPatternHeight || linesize < width)
        return -1;
    uint32_t bits = 0;
    for (int i = 0; i < kRows * kColumns; ++i) {
        const BlockRect r = BlockOf(i, width, height);
        // Only the inner half of a block counts: edges blur under compression.
        const int insetX = (r.x1 - r.x0) / 4;
        const int insetY = (r.y1 - r.y0) / 4;
        int64_t sum = 0;
        int64_t count = 0;
        for (int y = r.y0 + insetY; y < r.y1 - insetY; ++y) {
            const uint8_t* row = luma + static_cast<std::ptrdiff_t>(y) * linesize;
            for (int x = r.x0 + insetX; x < r.x1 - insetX; ++x) {
                sum += row[x];
                ++count;
            }
        }
        if (count == 0)
            return -1;
        const int64_t mean = sum / count;
        if (mean >= 128 + kDecisionMargin)
            bits |= 1u << i;
        else if (mean > 128 - kDecisionMargin)
            return -1;  // neither black nor white
    }
    // Reassemble the value (see PatternBits) and verify marker and check bits.
    int value = 0;
    for (int i = 2; i < 12; ++i)
        value = (value << 1) | static_cast<int>((bits >> i) & 1u);
    for (int i = 14; i < 20; ++i)
        value = (value << 1) | static_cast<int>((bits >> i) & 1u);
    return PatternBits(value) == bits ? value : -1;
}

void GenerateMedia(const std::string& path, const MediaSpec& spec)
{
    try {
        WriteMedia(path, spec);
    } catch (...) {
        // A half-written file must not pass for a good one.
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw;
    }
}

namespace {

// Decodes the first video and the first sound stream of a file into a
// DecodedSummary, as DecodeMedia's options ask.
class MediaDecoder {
public:
    MediaDecoder(const std::string& path, const DecodeOptions& options)
        : path_(path), options_(options)
    {
        AVFormatContext* raw = nullptr;
        Check(lib.avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "opening " + path);
        format_.reset(raw);
        Check(lib.avformat_find_stream_info(format_.get(), nullptr),
              "reading stream info of " + path);
        for (unsigned i = 0; i < format_->nb_streams; ++i) {
            AVStream* stream = format_->streams[i];
            const AVMediaType type = stream->codecpar->codec_type;
            if (type == AVMEDIA_TYPE_VIDEO && !video_.codec &&
                !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
                video_ = OpenDecoder(stream);
            else if (type == AVMEDIA_TYPE_AUDIO && !audio_.codec)
                audio_ = OpenDecoder(stream);
        }
    }

    DecodedSummary Run()
    {
        if (options_.seekSeconds >= 0) {
            const int64_t origin = format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0;
            const int64_t target = origin + std::llround(options_.seekSeconds * 1e6);
            Check(lib.avformat_seek_file(format_.get(), -1, INT64_MIN, target, target, 0),
                  "seeking in " + path_);
        }
        PacketPtr packet = NewPacket();
        while (!enough()) {
            const int read = lib.av_read_frame(format_.get(), packet.get());
            if (read == AVERROR_EOF)
                break;
            Check(read, "reading " + path_);
            if (video_.stream && packet->stream_index == video_.stream->index)
                decode(video_, packet.get());
            else if (audio_.stream && packet->stream_index == audio_.stream->index)
                decode(audio_, packet.get());
            lib.av_packet_unref(packet.get());
        }
        if (video_.codec)
            decode(video_, nullptr);
        if (audio_.codec)
            decode(audio_, nullptr);
        return std::move(summary_);
    }

private:
    bool enough() const
    {
        return options_.maxPictures > 0 && summary_.videoFrames >= options_.maxPictures;
    }

    void decode(InputStream& in, const AVPacket* packet)
    {
        int sent = lib.avcodec_send_packet(in.codec.get(), packet);
        if (sent == AVERROR(EAGAIN)) {
            takeFrames(in);
            sent = lib.avcodec_send_packet(in.codec.get(), packet);
        }
        if (sent == AVERROR_EOF && !packet)
            sent = 0;
        Check(sent, "decoding " + path_);
        takeFrames(in);
    }

    void takeFrames(InputStream& in)
    {
        for (;;) {
            const int got = lib.avcodec_receive_frame(in.codec.get(), frame_.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return;
            Check(got, "decoding " + path_);
            const int64_t ts = ToMicroseconds(frame_->best_effort_timestamp, in.stream->time_base);
            if (&in == &video_ && !enough())
                takePicture(ts);
            else if (&in == &audio_)
                takeSound(ts);
            lib.av_frame_unref(frame_.get());
        }
    }

    void takePicture(int64_t ts)
    {
        const AVFrame* frame = frame_.get();
        const LumaReader::Plane plane = luma_.Luma(frame);
        const int pattern = FramePatternValue(plane.data, plane.linesize, frame->width, frame->height);
        if (options_.keepLuma)
            summary_.lumas.push_back(CopyLuma(plane, frame->width, frame->height));
        if (summary_.videoFrames++ == 0) {
            summary_.width = frame->width;
            summary_.height = frame->height;
            summary_.firstFramePattern = pattern;
            summary_.firstVideoPtsUs = ts;
            StorePicture(frame, summary_);
        }
        summary_.lastFramePattern = pattern;
        summary_.lastVideoPtsUs = ts;
        summary_.framePatterns.push_back(pattern);
        summary_.framePtsUs.push_back(ts);
        const char* formatName = lib.av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
        summary_.pictureFormats.push_back(std::string(formatName ? formatName : "?") + ' ' +
                                          std::to_string(frame->width) + 'x' +
                                          std::to_string(frame->height));
    }

    void takeSound(int64_t ts)
    {
        const AVFrame* frame = frame_.get();
        if (!audioSeen_) {
            audioSeen_ = true;
            summary_.sampleRate = frame->sample_rate;
            summary_.channels = frame->ch_layout.nb_channels;
            summary_.firstAudioPtsUs = ts;
        }
        summary_.audioSamples += frame->nb_samples;
        StoreSamples(frame, AV_SAMPLE_FMT_S16, toS16_, summary_.samples);
        if (options_.keepFloatSound)
            StoreSamples(frame, AV_SAMPLE_FMT_FLT, toFloat_, summary_.floatSamples);
    }

    std::string path_;
    DecodeOptions options_;
    InputFormatPtr format_;
    InputStream video_;
    InputStream audio_;
    DecodedSummary summary_;
    LumaReader luma_;
    ResamplerPtr toS16_, toFloat_;
    bool audioSeen_ = false;
    FramePtr frame_ = NewFrame();
};

}  // namespace

DecodedSummary DecodeMedia(const std::string& path, const DecodeOptions& options)
{
    return MediaDecoder(path, options).Run();
}

double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        throw std::invalid_argument("LumaPsnr: pictures of different sizes");
    double squares = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        squares += d * d;
    }
    if (squares == 0.0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / squares);
}

VideoStreamPackets ReadVideoPackets(const std::string& path)
{
    AVFormatContext* raw = nullptr;
    Check(lib.avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "opening " + path);
    InputFormatPtr format(raw);
    Check(lib.avformat_find_stream_info(format.get(), nullptr), "reading stream info of " + path);
    const AVStream* stream = nullptr;
    for (unsigned i = 0; i < format->nb_streams && !stream; ++i)
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            stream = format->streams[i];
    if (!stream)
        throw std::runtime_error(path + " holds no video");
    const int64_t origin = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
    VideoStreamPackets read;
    read.timeBaseNum = stream->time_base.num;
    read.timeBaseDen = stream->time_base.den;
    read.averageRateNum = stream->avg_frame_rate.num;
    read.averageRateDen = stream->avg_frame_rate.den;
    read.codec = lib.avcodec_get_name(stream->codecpar->codec_id);
    read.container = format->iformat->name;
    const auto time = [](int64_t ts) {
        return ts == AV_NOPTS_VALUE ? VideoStreamPackets::kNoTime : ts;
    };
    const auto fromStart = [&](int64_t ts) {
        return ts == AV_NOPTS_VALUE
                   ? VideoStreamPackets::kNoTime
                   : lib.av_rescale_q(ts, stream->time_base, kMicroseconds) - origin;
    };
    PacketPtr packet = NewPacket();
    for (;;) {
        const int got = lib.av_read_frame(format.get(), packet.get());
        if (got == AVERROR_EOF)
            break;
        Check(got, "reading " + path);
        if (packet->stream_index == stream->index) {
            VideoPacket p;
            p.pts = time(packet->pts);
            p.dts = time(packet->dts);
            p.duration = packet->duration;
            p.ptsUs = fromStart(packet->pts);
            p.dtsUs = fromStart(packet->dts);
            p.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            p.data.assign(reinterpret_cast<const char*>(packet->data),
                          static_cast<size_t>(packet->size));
            read.packets.push_back(std::move(p));
        }
        lib.av_packet_unref(packet.get());
    }
    return read;
}

namespace {

std::mutex gWarningsLock;
std::string gWarnings;  // guarded by gWarningsLock

void CollectWarning(void* context, int level, const char* format, va_list args)
{
    if (level > AV_LOG_WARNING || level < AV_LOG_PANIC)
        return;
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::string line;
    const AVClass* record = context ? *static_cast<const AVClass**>(context) : nullptr;
    if (record)
        line = std::string("[") + (record->item_name ? record->item_name(context)
                                                      : record->class_name) + "] ";
    line += text;
    if (line.empty() || line.back() != '\n')
        line += '\n';
    const std::lock_guard<std::mutex> hold(gWarningsLock);
    gWarnings += line;
}

}  // namespace

LibraryWarnings::LibraryWarnings()
{
    {
        const std::lock_guard<std::mutex> hold(gWarningsLock);
        gWarnings.clear();
    }
    lib.av_log_set_callback(&CollectWarning);
}

LibraryWarnings::~LibraryWarnings() { lib.av_log_set_callback(lib.av_log_default_callback); }

std::string LibraryWarnings::Text() const
{
    const std::lock_guard<std::mutex> hold(gWarningsLock);
    return gWarnings;
}

// ---------------------------------------------------------------------------
// Presets.

namespace {

// One clip of `container` with the given encoders ("" for no such stream).
MediaSpec preset(const char* container, const char* videoCodec, const char* audioCodec,
                 int sampleRate = 44100)
{
    MediaSpec spec;
    spec.container = container;
    spec.videoCodec = videoCodec;
    spec.audioCodec = audioCodec;
    spec.sampleRate = sampleRate;
    return spec;
}

}  // namespace

MediaSpec Mp4H264Aac() { return preset("mp4", "libx264", "aac"); }
MediaSpec AviMpeg4Mp3() { return preset("avi", "mpeg4", "libmp3lame"); }
MediaSpec MpegProgramStream() { return preset("vob", "mpeg2video", "mp2", 48000); }
MediaSpec MatroskaClip() { return preset("matroska", "libx264", "libvorbis"); }
MediaSpec AsfWmv() { return preset("asf", "wmv2", "wmav2"); }
MediaSpec AudioOnly() { return preset("mp4", "", "aac"); }
MediaSpec VideoOnly() { return preset("mp4", "libx264", ""); }

MediaSpec AudioFirst()
{
    MediaSpec spec = Mp4H264Aac();
    spec.audioFirst = true;
    return spec;
}

MediaSpec StartOffset()
{
    MediaSpec spec = preset("mpegts", "mpeg2video", "mp2", 48000);
    spec.startTimeUs = 10'000'000;
    return spec;
}

}  // namespace clipmora::testing
