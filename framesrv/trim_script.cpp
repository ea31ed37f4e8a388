// Reading trim scripts and describing their segment as a filter graph.
#include "framesrv/trim_script.h"

#include "framesrv/frame_server.h"
#include "framesrv/served_frames.h"

#include "engine/conversions.h"
#include "engine/encoder_thread.h"
#include "engine/error_text.h"
#include "engine/input_opener.h"
#include "engine/library_binding.h"
#include "engine/library_handles.h"
#include "engine/output_claim.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pthread.h>
#include <csignal>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace clipmora::framesrv {
namespace {

// How far before the first frame the source is entered, in seconds. The seek
// lands on the key frame at or before that point, where decoding starts; the
// margin covers containers whose seek points are not exact.
constexpr double kSeekLeadSeconds = 0.5;
constexpr int64_t kNoTime = INT64_MIN;

// "Name(" ... tail, compared without regard to case for the fixed parts;
// `inner` receives what lies between them.
bool matchCall(const std::string& line, std::string_view head, std::string_view tail,
               std::string& inner)
{
    if (line.size() < head.size() + tail.size())
        return false;
    if (LowerCase(line.substr(0, head.size())) != LowerCase(head) ||
        LowerCase(line.substr(line.size() - tail.size())) != LowerCase(tail))
        return false;
    inner = line.substr(head.size(), line.size() - head.size() - tail.size());
    return true;
}

// Frame numbers beyond this (over two years at 25 frames per second) are
// refused, so that no count or time made from them can overflow.
constexpr int64_t kMaxFrameNumber = INT32_MAX;

bool parseFrame(const std::string& text, int64_t& value)
{
    try {
        value = StrToInt64(text);
    } catch (const ConversionError&) {
        return false;
    }
    return value >= -kMaxFrameNumber && value <= kMaxFrameNumber;
}

std::string decimal(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

// Backslash-escapes every character of `specials` and every blank.
std::string escape(const std::string& value, std::string_view specials)
{
    std::string out;
    for (char c : value) {
        if (specials.find(c) != std::string_view::npos || c == ' ' || c == '\t')
            out += '\\';
        out += c;
    }
    return out;
}

double seconds(int64_t ts, AVRational base)
{
    return static_cast<double>(ts) * base.num / base.den;
}

// True when the library's decoder for a sound stream produces the sample
// format that stream analysis reported. The movie source announces the
// reported format but decodes with that decoder; where they differ (MPEG
// audio layer 1 and 2), the graph cannot carry the sound.
bool movieCanCarrySound(const AVStream* audio)
{
    const AVCodec* decoder = lib.avcodec_find_decoder(audio->codecpar->codec_id);
    if (!decoder || !decoder->sample_fmts)
        return true;
    for (const AVSampleFormat* f = decoder->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == audio->codecpar->format)
            return true;
    return false;
}

// Receives the bytes of the decoded sound; false when they cannot be taken.
using SoundSink = std::function<bool(const void* data, std::size_t size)>;

void putLittleEndian(std::string& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The header of a 16-bit PCM WAV stream whose sizes of 0 say "to the end":
// the reader takes the data up to the end of the stream.
std::string openEndedWavHeader(int rate, int channels)
{
    std::string header("RIFF\0\0\0\0WAVEfmt ", 16);
    putLittleEndian(header, 16, 4);
    putLittleEndian(header, 1, 2);  // integer PCM
    putLittleEndian(header, static_cast<uint32_t>(channels), 2);
    putLittleEndian(header, static_cast<uint32_t>(rate), 4);
    putLittleEndian(header, static_cast<uint32_t>(rate * channels * 2), 4);
    putLittleEndian(header, static_cast<uint32_t>(channels * 2), 2);
    putLittleEndian(header, 16, 2);
    header.append("data\0\0\0\0", 8);
    return header;
}

// An opened decoder for `audio`; returns 0 or a negative library error code.
int openSoundDecoder(const AVStream* audio, CodecContextPtr& decoder)
{
    const AVCodec* codec = lib.avcodec_find_decoder(audio->codecpar->codec_id);
    if (!codec)
        return AVERROR_DECODER_NOT_FOUND;
    decoder.reset(lib.avcodec_alloc_context3(codec));
    if (!decoder)
        return AVERROR(ENOMEM);
    if (const int code = lib.avcodec_parameters_to_context(decoder.get(), audio->codecpar); code < 0)
        return code;
    decoder->pkt_timebase = audio->time_base;
    return lib.avcodec_open2(decoder.get(), codec, nullptr);
}

// Turns decoded sound frames into 16-bit samples on the picture clock and
// hands the ones inside the segment to the sink.
class SegmentSoundCutter {
public:
    SegmentSoundCutter(const AVStream* audio, AVCodecContext* decoder, double origin, double from,
                       double to, const SoundSink& sink)
        : audio_(audio), decoder_(decoder), origin_(origin), rate_(decoder->sample_rate),
          channels_(decoder->ch_layout.nb_channels), firstSample_(std::llround(from * rate_)),
          endSample_(to < 0 ? INT64_MAX : std::llround(to * rate_)), sink_(sink)
    {
    }

    bool done() const { return done_; }

    // Takes every frame the decoder has ready. Returns 0 or a negative
    // library error code (EPIPE when the sink refused).
    int takeFrames(AVFrame* frame)
    {
        for (;;) {
            const int got = lib.avcodec_receive_frame(decoder_, frame);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return 0;
            if (got < 0)
                return got;
            if (const int code = takeFrame(frame); code < 0)
                return code;
        }
    }

private:
    int takeFrame(AVFrame* frame)
    {
        // Place the frame on the picture clock, in samples.
        int64_t at = nextSample_;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
            at = std::llround(
                (seconds(frame->best_effort_timestamp, audio_->time_base) - origin_) * rate_);
        if (at == kNoTime)
            at = 0;
        nextSample_ = at + frame->nb_samples;
        if (!toS16_) {
            toS16_ = MakeResampler({&frame->ch_layout, AV_SAMPLE_FMT_S16, rate_},
                                   {&frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                    rate_});
            if (!toS16_)
                return AVERROR(EINVAL);
        }
        samples_.resize(static_cast<std::size_t>(frame->nb_samples) * channels_);
        auto* target = reinterpret_cast<uint8_t*>(samples_.data());
        lib.swr_convert(toS16_.get(), &target, frame->nb_samples,
                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        const int64_t keepFrom = std::clamp<int64_t>(firstSample_ - at, 0, frame->nb_samples);
        const int64_t keepTo = std::clamp<int64_t>(endSample_ - at, 0, frame->nb_samples);
        lib.av_frame_unref(frame);
        if (keepTo > keepFrom &&
            !sink_(samples_.data() + keepFrom * channels_,
                   static_cast<std::size_t>((keepTo - keepFrom) * channels_ * 2)))
            return AVERROR(EPIPE);
        if (at + (keepTo > 0 ? keepTo : 0) >= endSample_ || nextSample_ >= endSample_)
            done_ = true;
        return 0;
    }

    const AVStream* audio_;
    AVCodecContext* decoder_;
    const double origin_;
    const int rate_;
    const int channels_;
    const int64_t firstSample_;
    const int64_t endSample_;
    const SoundSink& sink_;
    ResamplerPtr toS16_;
    std::vector<int16_t> samples_;
    int64_t nextSample_ = kNoTime;
    bool done_ = false;
};

// Decodes the sound of `source` between `from` and `to` seconds of the
// picture clock (to < 0: to the end) as a 16-bit WAV stream into `sink`:
// a header whose sizes say "to the end", then the samples as they are
// decoded, so nothing of the segment is held anywhere. Ends early when
// `stop` is set. Returns 0 or a negative library error code (EPIPE when
// the sink refused).
int feedSegmentSound(AVFormatContext* source, AVStream* audio, double origin, double from,
                     double to, const SoundSink& sink, const std::atomic<bool>& stop)
{
    CodecContextPtr decoder;
    if (const int code = openSoundDecoder(audio, decoder); code < 0)
        return code;

    const int64_t seekTarget = std::llround(std::max(0.0, origin + from - kSeekLeadSeconds) * 1e6);
    lib.av_seek_frame(source, -1, seekTarget, AVSEEK_FLAG_BACKWARD);

    const int rate = decoder->sample_rate;
    const int channels = decoder->ch_layout.nb_channels;
    if (rate <= 0 || channels <= 0)
        return AVERROR_INVALIDDATA;
    const std::string header = openEndedWavHeader(rate, channels);
    if (!sink(header.data(), header.size()))
        return AVERROR(EPIPE);

    PacketPtr packet(lib.av_packet_alloc());
    FramePtr frame(lib.av_frame_alloc());
    if (!packet || !frame)
        return AVERROR(ENOMEM);
    SegmentSoundCutter cutter(audio, decoder.get(), origin, from, to, sink);
    while (!cutter.done() && !stop && lib.av_read_frame(source, packet.get()) >= 0) {
        if (packet->stream_index == audio->index &&
            lib.avcodec_send_packet(decoder.get(), packet.get()) >= 0)
            if (const int code = cutter.takeFrames(frame.get()); code < 0) {
                lib.av_packet_unref(packet.get());
                return code;
            }
        lib.av_packet_unref(packet.get());
    }
    if (!cutter.done() && !stop && lib.avcodec_send_packet(decoder.get(), nullptr) >= 0)
        return cutter.takeFrames(frame.get());
    return 0;
}

}  // namespace

// Feeds a segment's sound through a named pipe that the filter graph reads
// as a WAV file: a thread of its own decodes the source while the graph
// reads, so the sound never lies on disk whole. The pipe is made at
// construction; the object must outlive the graph that reads it, and its
// destruction (after the reader has closed) ends and joins the thread.
std::function<void()> OnSegmentSoundDecoding;

class SoundFeeder {
public:
    SoundFeeder(std::string pipe, std::string source, int audioIndex, double origin, double from,
                double to)
        : pipe_(std::move(pipe)), source_(std::move(source)), audioIndex_(audioIndex),
          origin_(origin), from_(from), to_(to), thread_([this] { run(); })
    {
    }
    ~SoundFeeder()
    {
        stop_ = true;
        thread_.join();
        ::unlink(pipe_.c_str());
    }
    SoundFeeder(const SoundFeeder&) = delete;
    SoundFeeder& operator=(const SoundFeeder&) = delete;

private:
    // How long the thread waits for the graph to open the pipe.
    static constexpr auto kReaderWait = std::chrono::seconds(60);

    void run()
    {
        // A reader that closes early makes writes fail with EPIPE instead
        // of ending the process.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

        const int fd = openForWriting();
        if (fd < 0)
            return;
        if (OnSegmentSoundDecoding)
            OnSegmentSoundDecoding();
        auto write = [fd](const void* data, std::size_t size) {
            const auto* bytes = static_cast<const char*>(data);
            while (size > 0) {
                const ssize_t written = ::write(fd, bytes, size);
                if (written < 0 && errno == EINTR)
                    continue;
                if (written <= 0)
                    return false;
                bytes += written;
                size -= static_cast<std::size_t>(written);
            }
            return true;
        };
        // Whatever fails here, the pipe is closed, so the reader sees its end.
        AVFormatContext* opened = nullptr;
        int code =
            lib.avformat_open_input(&opened, LocalFileAddress(source_).c_str(), nullptr, nullptr);
        const InputFormatPtr source(code >= 0 ? opened : nullptr);
        if (code >= 0)
            code = lib.avformat_find_stream_info(source.get(), nullptr);
        if (code >= 0 && audioIndex_ >= static_cast<int>(source->nb_streams))
            code = AVERROR_INVALIDDATA;
        if (code >= 0)
            code = feedSegmentSound(source.get(), source->streams[audioIndex_], origin_, from_, to_,
                                    write, stop_);
        if (code < 0 && code != AVERROR(EPIPE))
            EngineLog(nullptr, kLogError, "%s\n",
                      LibraryErrorText("Cannot decode the segment's sound from " + source_, code)
                          .c_str());
        ::close(fd);
    }

    // Opens the pipe once the graph has opened it for reading; -1 when it
    // never does or the feeder is ending.
    int openForWriting()
    {
        const auto deadline = std::chrono::steady_clock::now() + kReaderWait;
        while (!stop_ && std::chrono::steady_clock::now() < deadline) {
            const int fd = ::open(pipe_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
                return fd;
            }
            if (errno != ENXIO) {
                EngineLog(nullptr, kLogError, "Cannot write the segment's sound to %s: %s\n",
                          pipe_.c_str(), std::strerror(errno));
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return -1;
    }

    const std::string pipe_;
    const std::string source_;
    const int audioIndex_;
    const double origin_, from_, to_;
    std::atomic<bool> stop_{false};  // set by the destructor, read by the thread
    std::thread thread_;             // last: starts once the rest is set
};

bool IsTrimScriptName(const std::string& fileName)
{
    return LowerCaseExtension(fileName) == ".avs";
}

bool ParseTrimScript(const std::string& text, TrimScript& script)
{
    // The script's shape is fixed: the plug-in line (which may be left out),
    // the source line and the TRIM line, in that order and nothing else, so
    // no text inside a line can add, drop or replace one.
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string raw; std::getline(in, raw);) {
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        lines.push_back(Trim(raw));
    }
    std::string inner;
    const bool plugin = !lines.empty() && matchCall(lines.front(), "LoadPlugin(", ")", inner);
    if (lines.size() != (plugin ? 3u : 2u))
        return false;
    const std::string& source = lines[plugin ? 1 : 0];
    const std::string& trim = lines.back();
    // The source path runs from the first quote to the quote that closes the
    // call, so paths with quotes of their own are read whole.
    if (!matchCall(source, "AviSource(\"", "\")", inner) &&
        !matchCall(source, "DirectShowSource(\"", "\", fps=25, convertfps=true)", inner))
        return false;
    if (inner.empty())
        return false;
    script.source = inner;
    script.aviSource = LowerCase(source.substr(0, 10)) == "avisource(";
    if (!matchCall(trim, "TRIM(", ")", inner))
        return false;
    const auto comma = inner.find(',');
    if (comma == std::string::npos || !parseFrame(inner.substr(0, comma), script.first) ||
        !parseFrame(inner.substr(comma + 1), script.last) || script.first < 0)
        return false;
    // A negative last frame counts frames from the first.
    if (script.last < 0)
        script.last = script.first - script.last - 1;
    return script.last == 0 || script.last >= script.first;
}

namespace {

bool readTrimScript(const std::string& fileName, TrimScript& script, int& code)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        code = std::filesystem::exists(fileName) ? AVERROR(EIO) : AVERROR(ENOENT);
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    code = AVERROR_INVALIDDATA;
    return ParseTrimScript(text, script);
}

}  // namespace

std::string TrimScriptSource(const std::string& fileName)
{
    TrimScript script;
    int code = 0;
    if (!IsTrimScriptName(fileName) || !readTrimScript(fileName, script, code))
        return {};
    return script.source;
}

std::string QuoteFilterValue(const std::string& value)
{
    // First for the filter's option parser, then for the graph parser.
    return escape(escape(value, "\\':"), "\\'[],;");
}

namespace {

// What a script's segment is in its source: the streams it reads and where
// the segment lies on the source's clock.
struct SegmentPlan {
    const TrimScript& script;
    const AVStream* video = nullptr;
    AVStream* audio = nullptr;
    double fileStart = 0.0;     // the source's first time, seconds
    double pictureStart = 0.0;  // where frame 0 lies, seconds
    double pictureLag = 0.0;    // how much later than their own the pictures' times are
    AVRational rate{25, 1};
    double frameSeconds = 0.04;
    double start = 0.0;  // the segment, seconds from frame 0
    double end = 0.0;
    bool toTheEnd = false;
    double grid = 0.0;       // the frame time at or before which the graph starts
    double seekPoint = 0.0;  // where the graph enters the source, seconds from its start
    bool soundInMovie = false;  // the sound passes the graph with the picture

    std::string origin() const { return "PTS-(" + decimal(pictureStart) + ")/TB"; }
    // The pictures' times from frame 0. Those of a reordering decoder in an
    // AVI are moved back by its lag; as every picture there holds an index
    // entry of its own (one unit of its time base), each then lies at least
    // one entry after the one before, also the last ones, which the decoder
    // hands out at its end with the last packet's time.
    std::string pictureTimes() const
    {
        const std::string time = "PTS-(" + decimal(pictureStart + pictureLag) + ")/TB";
        if (pictureLag <= 0)
            return "setpts=" + time;
        return "setpts=if(isnan(PREV_OUTPTS)\\," + time + "\\,max(" + time +
               "\\,PREV_OUTPTS+1))";
    }
    // The graph's sound output: after the picture, when there is one.
    std::string soundOutput() const { return video ? "[out1]" : "[out0]"; }
    std::string movieStreams() const
    {
        return !video ? "da[a0];" : soundInMovie ? "dv+da[v0][a0];" : "dv[v0];";
    }
};

// Enters `source` as the graph's movie source will, at `seekPoint` seconds
// from its start, and decodes the first sound packet there. Returns false
// when the seek fails; `soundDecodes` is false when the sound decoder refuses
// that packet: a seek in an MPEG program stream can land inside a sound frame,
// which ends the movie source as an error.
bool tryEntry(AVFormatContext* source, const AVStream* audio, double seekPoint, bool& soundDecodes)
{
    soundDecodes = true;
    const int64_t target = std::llround(seekPoint * 1e6) +
                           (source->start_time != AV_NOPTS_VALUE ? source->start_time : 0);
    if (lib.av_seek_frame(source, -1, target, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    CodecContextPtr decoder;
    PacketPtr packet(lib.av_packet_alloc());
    FramePtr frame(lib.av_frame_alloc());
    if (!audio || !packet || !frame || openSoundDecoder(audio, decoder) < 0)
        return true;  // the graph meets the same and says why
    // A source whose sound has ended before that point is not read to its
    // end: past this many packets the sound is taken to decode.
    constexpr int kPacketsToSound = 500;
    for (int read = 0;
         read < kPacketsToSound && lib.av_read_frame(source, packet.get()) >= 0; ++read) {
        const bool sound = packet->stream_index == audio->index;
        int code = sound ? lib.avcodec_send_packet(decoder.get(), packet.get()) : 0;
        lib.av_packet_unref(packet.get());
        if (!sound)
            continue;
        if (code >= 0)
            code = lib.avcodec_receive_frame(decoder.get(), frame.get());
        soundDecodes = code >= 0 || code == AVERROR(EAGAIN);
        break;
    }
    return true;
}

// Reads the script's source far enough to plan the segment. Returns 0 or a
// negative library error code.
int planSegment(AVFormatContext* source, SegmentPlan& plan)
{
    for (unsigned i = 0; i < source->nb_streams; ++i) {
        AVStream* stream = source->streams[i];
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            continue;
        if (!plan.video && stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            plan.video = stream;
        else if (!plan.audio && stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            plan.audio = stream;
    }
    if (!plan.video && !plan.audio)
        return AVERROR_INVALIDDATA;

    // Frame 0 is the first picture, wherever the source's clock starts; a
    // source without pictures counts frames from its first sound.
    const AVStream* clock = plan.video ? plan.video : plan.audio;
    plan.fileStart =
        source->start_time != AV_NOPTS_VALUE ? static_cast<double>(source->start_time) / 1e6 : 0.0;
    plan.pictureStart = clock->start_time != AV_NOPTS_VALUE
                            ? seconds(clock->start_time, clock->time_base)
                            : plan.fileStart;
    // An AVI gives its pictures no presentation times: a decoder that holds
    // pictures back to reorder them hands each out with the time of the
    // packet it was given then, as many index entries late as it holds.
    if (plan.video && std::strcmp(source->iformat->name, "avi") == 0)
        plan.pictureLag = plan.video->codecpar->video_delay * seconds(1, plan.video->time_base);
    if (plan.script.aviSource && plan.video) {
        // The rate of the index that numbers an AVI's pictures, which the
        // probe reports and the marks count in; the average rate is lower
        // when pictures were dropped.
        plan.rate = plan.video->r_frame_rate.num > 0 ? plan.video->r_frame_rate
                                                     : plan.video->avg_frame_rate;
        if (plan.rate.num <= 0 || plan.rate.den <= 0)
            return AVERROR_INVALIDDATA;
    }
    plan.frameSeconds = static_cast<double>(plan.rate.den) / plan.rate.num;
    plan.toTheEnd = plan.script.last == 0;
    plan.start = static_cast<double>(plan.script.first) * plan.frameSeconds;
    plan.end = static_cast<double>(plan.script.last + 1) * plan.frameSeconds;
    // The graph enters the source a little before the segment, pictures on
    // the frame grid.
    const double lead = std::max(0.0, plan.start - kSeekLeadSeconds);
    plan.grid = std::floor(lead / plan.frameSeconds) * plan.frameSeconds;
    plan.seekPoint =
        std::max(0.0, (plan.video ? plan.grid : lead) + plan.pictureStart - plan.fileStart);
    // The sound comes with the picture from the source, or, where the
    // source's sound cannot pass the graph or cannot be decoded from where
    // the graph enters, from a file decoded beforehand. A source that cannot
    // be entered there is read from its start.
    plan.soundInMovie = plan.audio && movieCanCarrySound(plan.audio);
    if (bool soundDecodes = true; plan.seekPoint > 0) {
        if (!tryEntry(source, plan.soundInMovie ? plan.audio : nullptr, plan.seekPoint,
                      soundDecodes))
            plan.seekPoint = 0.0;
        plan.soundInMovie = plan.soundInMovie && soundDecodes;
    }
    return 0;
}

// The graph's source and picture chain: "[out0]" is the segment's pictures.
std::string pictureGraph(const SegmentPlan& plan)
{
    // The graph's decoder shares the cores with the engine's task and
    // encoder threads, so it takes no more threads than they leave free.
    const std::string movie = "movie=filename=" +
                              QuoteFilterValue(LocalFileAddress(plan.script.source)) +
                              ":dec_threads=" + std::to_string(PipelineCodecThreads());
    if (!plan.video) {
        if (!plan.soundInMovie)
            return {};
        return movie + ":seek_point=" + decimal(plan.seekPoint) + ":streams=" +
               plan.movieStreams();
    }
    const std::string rateDen = std::to_string(plan.rate.den);
    const std::string rateNum = std::to_string(plan.rate.num);
    // Sample the source at the constant rate (an AVI's own) from the grid:
    // each output picture is the source picture on screen at its time. An
    // AVI's pictures lie at their index positions, so an empty entry (a
    // dropped frame) repeats the picture before it, as a player shows it.
    std::string graph = movie + ":seek_point=" + decimal(plan.seekPoint) +
                        ":streams=" + plan.movieStreams();
    // The last picture is held for one frame time past the source's end (a
    // clone), so that the constant-rate sampling keeps it too. The sampled
    // pictures' times count frames from frame 0 (their time base is one
    // frame), so the segment is cut by its frame numbers exactly.
    graph += "[v0]" + plan.pictureTimes() + ",tpad=stop=1:stop_mode=clone,fps=fps=" + rateNum +
             "/" + rateDen + ":start_time=" + decimal(plan.grid) +
             ":round=up:eof_action=pass,trim=start_pts=" + std::to_string(plan.script.first);
    if (!plan.toTheEnd)
        graph += ":end_pts=" + std::to_string(plan.script.last + 1);
    return graph + ",setpts=PTS-STARTPTS[out0]";
}

// Adds the sound chain to `segment`'s graph: cut from the movie's sound, or
// read from a pipe that a feeder fills with the decoded segment. Returns 0
// or a negative library error code.
int addSoundGraph(const SegmentPlan& plan, const std::string& fileName, ServedSegment& segment)
{
    const std::string separator = plan.video ? ";" : "";
    if (plan.soundInMovie) {
        segment.graph += separator + "[a0]asetpts=" + plan.origin() +
                         ",atrim=start=" + decimal(plan.start);
        if (!plan.toTheEnd)
            segment.graph += ":end=" + decimal(plan.end);
        segment.graph += ",asetpts=PTS-(" + decimal(plan.start) + ")/TB" + plan.soundOutput();
        return 0;
    }
    if (!plan.audio)
        return 0;
    const std::filesystem::path scriptPath = fileName;
    const std::string soundPipe =
        (scriptPath.parent_path() / (scriptPath.stem().string() + "-sound.wav")).string();
    ::unlink(soundPipe.c_str());
    if (::mkfifo(soundPipe.c_str(), 0600) != 0) {
        const int error = errno;
        EngineLog(nullptr, kLogError, "Cannot write the segment's sound to %s: %s\n",
                  soundPipe.c_str(), std::strerror(error));
        return AVERROR(error);
    }
    segment.soundFeeder =
        std::make_shared<SoundFeeder>(soundPipe, plan.script.source, plan.audio->index,
                                      plan.pictureStart, plan.start,
                                      plan.toTheEnd ? -1.0 : plan.end);
    segment.graph += separator + "amovie=filename=" + QuoteFilterValue(soundPipe) +
                     plan.soundOutput();
    segment.temporaryFile = soundPipe;
    return 0;
}

}  // namespace

int ServeTrimScript(const std::string& fileName, ServedSegment& segment)
{
    TrimScript script;
    if (int code = 0; !readTrimScript(fileName, script, code)) {
        if (code == AVERROR_INVALIDDATA)
            EngineLog(nullptr, kLogError, "%s: not a trim script (a source line and a TRIM line with "
                                  "frame numbers are needed)\n", fileName.c_str());
        return code;
    }

    auto unreadableSource = [&](int code) {
        EngineLog(nullptr, kLogError, "%s\n",
                  LibraryErrorText(fileName + ": cannot read its source " + script.source, code)
                      .c_str());
        return code;
    };
    AVFormatContext* opened = nullptr;
    // The script names a file, never another protocol's address.
    if (const int code = lib.avformat_open_input(&opened, LocalFileAddress(script.source).c_str(),
                                                 nullptr, nullptr);
        code < 0)
        return unreadableSource(code);
    const InputFormatPtr source(opened);
    if (const int code = lib.avformat_find_stream_info(source.get(), nullptr); code < 0)
        return unreadableSource(code);

    SegmentPlan plan{script};
    if (const int code = planSegment(source.get(), plan); code < 0)
        return code;
    segment.graph = pictureGraph(plan);
    if (const int code = addSoundGraph(plan, fileName, segment); code < 0)
        return code;

    segment.source = script.source;
    segment.startSeconds = plan.start;
    segment.endMarked = !plan.toTheEnd;
    if (!plan.toTheEnd) {
        segment.durationUs = std::llround((plan.end - plan.start) * 1e6);
        segment.endSeconds = plan.end;
    } else if (source->duration != AV_NOPTS_VALUE) {
        const double length =
            static_cast<double>(source->duration) / 1e6 - (plan.pictureStart - plan.fileStart);
        segment.durationUs = std::llround(std::max(0.0, length - plan.start) * 1e6);
        // A length guessed from the bit rate is no end the source gives.
        if (source->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
            segment.endSeconds = length;
    }
    return 0;
}

// The opener the frame server installs: a trim script, unless a format is
// forced, is served as its segment; every other file is opened by the
// container library.
class TrimScriptOpener final : public InputOpener {
public:
    int Open(AVFormatContext** context, const std::string& fileName, const AVInputFormat* format,
             AVDictionary** options, OpenedInput& opened) const override;
    std::string SourceOf(const std::string& fileName) const override
    {
        return TrimScriptSource(fileName);
    }

private:
    // Serves the segment's graph as frames, with a context of stand-in
    // streams that describes them.
    static int openAsFrames(AVFormatContext** context, ServedSegment& segment,
                            AVDictionary** options, OpenedInput& opened);
};

int TrimScriptOpener::Open(AVFormatContext** context, const std::string& fileName,
                           const AVInputFormat* format, AVDictionary** options,
                           OpenedInput& opened) const
{
    opened.ClearOutputs();
    if (format || !IsTrimScriptName(fileName))
        return lib.avformat_open_input(context, fileName.c_str(), format, options);
    ServedSegment segment;
    int result = ServeTrimScript(fileName, segment);
    if (result >= 0) {
        opened.segmentDurationUs = segment.durationUs;
        result = opened.framesWelcome ? openAsFrames(context, segment, options, opened)
                                      : lib.avformat_open_input(context, segment.graph.c_str(),
                                                                lib.av_find_input_format("lavfi"),
                                                                options);
    }
    // The graph holds the sound's pipe open; its name is no longer needed.
    if (!segment.temporaryFile.empty())
        ::unlink(segment.temporaryFile.c_str());
    if (result >= 0 && !opened.frames)
        opened.keepAlive = std::move(segment.soundFeeder);
    if (result < 0 && *context) {
        lib.avformat_free_context(*context);
        *context = nullptr;
    }
    return result;
}

int TrimScriptOpener::openAsFrames(AVFormatContext** context, ServedSegment& segment,
                                   AVDictionary** options, OpenedInput& opened)
{
    std::unique_ptr<GraphFrames> frames;
    if (const int code = GraphFrames::Open(segment.graph, segment.soundFeeder, frames); code < 0) {
        EngineLog(nullptr, kLogError, "%s\n",
                  LibraryErrorText("Cannot serve the segment", code).c_str());
        return code;
    }
    const int described = lib.avformat_open_input(context, frames->StandIn().c_str(),
                                                  lib.av_find_input_format("lavfi"), options);
    if (described < 0)
        return described;
    frames->UseTimeBases(**context);
    if (segment.endSeconds >= 0)
        frames->ExpectEnd(segment.source, segment.startSeconds, segment.endSeconds,
                          segment.endMarked);
    opened.frames = std::move(frames);
    return 0;
}

void InstallFrameServer()
{
    static const TrimScriptOpener opener;
    InstallInputOpener(&opener);
}

}  // namespace clipmora::framesrv
