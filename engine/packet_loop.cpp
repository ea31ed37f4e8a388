// The run of a task: its stages set up in order, the packet loop that
// interleaves reading from the inputs, the length limits and timestamp
// repair, the end of the run (flush, trailers, last report) and the progress
// statistics.
#include "engine/error_text.h"
#include "engine/ffmpeg_exception.h"
#include "engine/run_stages.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>

namespace clipmora {
namespace {

const AVRational kMicroseconds{1, 1000000};

// Output time reached by an output stream, in seconds.
double outputTime(const TOutputStream& ost)
{
    if (ost.EncodingNeeded && ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO)
        return ost.SyncCount * av_q2d(ost.Encoder->time_base);
    if (ost.EncodingNeeded && ost.Encoder->codec_type == AVMEDIA_TYPE_AUDIO)
        return ost.Encoder->sample_rate > 0
                   ? static_cast<double>(ost.SyncCount) / ost.Encoder->sample_rate
                   : 0.0;
    return ost.LastDts == kNoPts ? 0.0 : ost.LastDts * av_q2d(ost.Stream->time_base);
}

int frameLimit(const OptionState& o, AVMediaType type)
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return o.maxVideoFrames;
    case AVMEDIA_TYPE_AUDIO:
        return o.maxAudioFrames;
    case AVMEDIA_TYPE_DATA:
        return o.maxDataFrames;
    default:
        return INT_MAX;
    }
}

// How many bytes an output file holds so far, counting what is still buffered.
int64_t outputSize(AVFormatContext* context)
{
    if (!context->pb)
        return 0;
    const int64_t size = lib.avio_size(context->pb);
    const int64_t position = lib.avio_seek(context->pb, 0, SEEK_CUR);
    return std::max(size, position);
}

// The input file the loop reads next: the one whose streams are furthest
// behind, by output time (or by input time with "isync"), and that output
// time. No file (-1) once every input has ended or a frame limit is reached.
struct NextRead {
    int fileIndex = -1;
    double outputTime = 1e100;
};

NextRead chooseNextRead(const RunState& run, const OptionState& o)
{
    NextRead next;
    double inputTime = 1e100;
    for (const TOutputStream& ost : run.Outputs) {
        if (ost.FrameNumber >= frameLimit(o, ost.Encoder->codec_type))
            return NextRead{-1, next.outputTime};
        const TInputStream& ist = run.Inputs[ost.SourceIndex];
        if (run.Files[ist.FileIndex].EofReached)
            continue;
        const double opts = outputTime(ost);
        const double ipts = static_cast<double>(ist.CurrentPts);
        if (ipts < inputTime) {
            inputTime = ipts;
            if (o.inputSync)
                next.fileIndex = ist.FileIndex;
        }
        if (opts < next.outputTime) {
            next.outputTime = opts;
            if (!o.inputSync)
                next.fileIndex = ist.FileIndex;
        }
    }
    return next;
}

// The input-stream table index of stream `streamIndex` of `fileIndex`, or
// -1 for a stream that appeared after the run started or that feeds no output.
int claimedStreamOf(const RunState& run, int fileIndex, int streamIndex)
{
    const TInputFileState& file = run.Files[fileIndex];
    if (streamIndex >= file.StreamCount)
        return -1;
    const int inputIndex = file.FirstStream + streamIndex;
    return run.Inputs[inputIndex].Unclaimed ? -1 : inputIndex;
}

// A time of stream `streamIndex` moved by the input's offset and time scale.
int64_t shiftedTime(const InputFile& input, int streamIndex, AVRational timeBase, int64_t ts)
{
    if (ts == kNoPts)
        return ts;
    ts += lib.av_rescale_q(input.tsOffset, kMicroseconds, timeBase);
    const double scale = streamIndex < kMaxStreams ? input.timeScales[streamIndex] : 0.0;
    return scale != 0.0 ? std::llrint(static_cast<double>(ts) * scale) : ts;
}

// Moves the packet's times by the input's offset and time scale, then
// absorbs a jump in its decoding time (beyond the threshold, or backwards)
// into the input's offset, unless timestamps are copied. Returns the jump
// absorbed.
std::optional<int64_t> repairTimestamps(InputFile& input, const TInputStream& ist,
                                        const OptionState& o, AVPacket& packet)
{
    const AVRational timeBase = ist.Stream->time_base;
    packet.dts = shiftedTime(input, packet.stream_index, timeBase, packet.dts);
    packet.pts = shiftedTime(input, packet.stream_index, timeBase, packet.pts);
    if (packet.dts == kNoPts || ist.NextPts == kNoPts || o.copyTimestamps)
        return std::nullopt;
    const int64_t packetDts = lib.av_rescale_q(packet.dts, timeBase, kMicroseconds);
    const int64_t delta = packetDts - ist.NextPts;
    if (std::llabs(delta) <= static_cast<int64_t>(o.dtsDeltaThreshold * 1000000.0) &&
        packetDts + 1 >= ist.CurrentPts)
        return std::nullopt;
    input.tsOffset -= delta;
    const int64_t shift = lib.av_rescale_q(delta, kMicroseconds, timeBase);
    packet.dts -= shift;
    if (packet.pts != kNoPts)
        packet.pts -= shift;
    return delta;
}

// The recording time ("t") or the file size limit ("fs") of the first
// output file is reached.
bool outputLimitReached(const OptionState& o, double outputTime, AVFormatContext* firstOutput)
{
    if (outputTime >= static_cast<double>(o.recordingTime) / 1000000.0)
        return true;
    return o.fileSizeLimit && o.fileSizeLimit < outputSize(firstOutput);
}

void appendTo(std::string& line, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendTo(std::string& line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    line += FormatText(format, args);
    va_end(args);
}

// Counts `quality` into the run's quantiser histogram ("qphist") and
// appends the first 32 counters as log2 digits.
void appendQpHistogram(std::string& line, std::array<int64_t, 52>& histogram, float quality)
{
    const long q = std::lround(quality);
    if (q >= 0 && q < 52)
        ++histogram[static_cast<std::size_t>(q)];
    for (int i = 0; i < 32; ++i)
        appendTo(line, "%X",
                 static_cast<int>(std::lround(std::log2(static_cast<double>(histogram[i] + 1)))));
}

// "PSNR=Y:.. U:.. V:.. *:.." of the last coded frame, or of the whole stream
// in the last report.
void appendPsnr(std::string& line, const TOutputStream& ost, bool last)
{
    const AVCodecContext* encoder = ost.Encoder;
    line += "PSNR=";
    double errorSum = 0.0, scaleSum = 0.0;
    static constexpr char kPlanes[] = {'Y', 'U', 'V'};
    for (int plane = 0; plane < 3; ++plane) {
        const double error = static_cast<double>(last ? encoder->error[plane] : ost.LastErrors[plane]);
        double scale = static_cast<double>(encoder->width) * encoder->height * 255.0 * 255.0;
        if (last)
            scale *= static_cast<double>(ost.FrameNumber);
        if (plane > 0)
            scale /= 4;
        errorSum += error;
        scaleSum += scale;
        appendTo(line, "%c:%2.2f ", kPlanes[plane], -10.0 * std::log10(error / scale));
    }
    appendTo(line, "*:%2.2f ", -10.0 * std::log10(errorSum / scaleSum));
}

// The progress report's figures, and its line as far as the streams go.
struct ProgressLine {
    std::string line;
    int frameNumber = -1, fps = -1;  // of the first video stream; -1 without one
    float quality = -1.0f;
    double time = 0.01;              // the least positive output time, at least 0.01 s
    bool anyTime = false;            // some stream has output time
};

// Describes the first video stream ("frame= fps= q=", the quantiser
// histogram, PSNR), the quality of the others, and the output time. False
// while the first video stream has no picture yet: nothing is reported then.
bool describeStreams(const RunState& run, const OptionState& o, int64_t startTime,
                     std::array<int64_t, 52>& qpHistogram, bool last, ProgressLine& progress)
{
    bool firstVideo = true;
    double ti = 1e10;
    for (const TOutputStream& ost : run.Outputs) {
        const float streamQuality = ost.StreamCopy ? -1.0f : ost.LastQuality;
        if (ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO && !firstVideo) {
            appendTo(progress.line, "q=%2.1f ", streamQuality);
        } else if (ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
            if (ost.FrameNumber < 1)
                return false;
            const float elapsed = static_cast<float>(lib.av_gettime() - startTime) / 1000000.0f;
            progress.frameNumber = static_cast<int>(ost.FrameNumber);
            progress.fps =
                elapsed > 1.0f ? static_cast<int>(progress.frameNumber / elapsed + 0.5f) : 0;
            progress.quality = streamQuality;
            appendTo(progress.line, "frame=%5d fps=%3d q=%3.1f ", progress.frameNumber,
                     progress.fps, progress.quality);
            if (last)
                progress.line += "L";
            if (o.qpHistogram)
                appendQpHistogram(progress.line, qpHistogram, progress.quality);
            if (!ost.StreamCopy && (ost.Encoder->flags & AV_CODEC_FLAG_PSNR))
                appendPsnr(progress.line, ost, last);
            firstVideo = false;
        }
        const double time = outputTime(ost);
        if (time > 0.0 && time < ti)
            ti = time;
    }
    // Before any stream has output time there is no duration to speak of.
    progress.anyTime = ti < 1e10;
    progress.time = std::max(progress.anyTime ? ti : 0.0, 0.01);
    return true;
}

// Writes the trailer of `file` and flushes it, or (`close`) closes it; the
// library's error code when that failed (the file is then marked broken),
// else 0.
int finishOutputFile(OutputFile& file, bool close)
{
    AVFormatContext* context = file.context.get();
    const bool ownFile = context->pb && !(context->oformat->flags & AVFMT_NOFILE);
    int code = 0;
    if (!close) {
        code = lib.av_write_trailer(context);
        // Buffered bytes reach the file only now; a failure shows in the
        // context's error.
        if (ownFile) {
            lib.avio_flush(context->pb);
            if (code >= 0 && context->pb->error < 0)
                code = context->pb->error;
        }
    } else if (ownFile) {
        code = lib.avio_closep(&context->pb);
    }
    if (code < 0)
        file.broken = true;
    return code;
}

}  // namespace

void TCustomFFmpeg::Run()
{
    RunState run = MapStreams(inputs_, outputs_, options_);
    const RunLog log = runLog();
    PacketWriter writer(run, outputs_, options_);
    VideoPath video(options_, run, writer, videoHooks(), stopRequested_, log);
    PrepareOutputs(run, video, inputs_, outputs_, options_, static_cast<bool>(customHookSlot_));
    OpenCodecs(run, inputs_, outputs_, options_, defaults_, log);
    writer.Start();
    AudioPath audio(options_, run, writer, log);
    PacketDecoder decoder(options_, run, writer, video, audio);
    LoopReports reports;
    if (progressSlot_)
        reports.progress = [this](const TProgressInfo& info) { progressSlot_(*this, info); };
    reports.intervalUs = progressIntervalUs_;
    reports.totalOutputDurationMs = totalOutputDurationMs_;
    PacketLoop loop(options_, inputs_, outputs_, run, decoder, writer, video, std::move(reports),
                    stopRequested_, log);
    loop.Run();
    loop.End();
    finished_ = !stopRequested_;
}

RunLog TCustomFFmpeg::runLog()
{
    if (!logSlot_)
        return RunLog(nullptr);
    return RunLog([this](int level, const std::string& text) { logSlot_(*this, level, text); });
}

VideoHooks TCustomFFmpeg::videoHooks()
{
    VideoHooks hooks{{}, {}, frameHooks_, hookRanges_};
    if (beforeHookSlot_)
        hooks.before = [this](int64_t pts, THookAction& action) {
            beforeHookSlot_(*this, pts, action);
        };
    if (customHookSlot_)
        hooks.custom = [this](THookBitmap& bitmap, int frameNumber, int64_t pts, bool& update,
                              bool& stopHook) {
            customHookSlot_(*this, bitmap, frameNumber, pts, update, stopHook);
        };
    return hooks;
}

void RunLog::operator()(int level, const char* format, ...) const
{
    va_list args;
    va_start(args, format);
    Write(level, format, args);
    va_end(args);
}

void RunLog::Write(int level, const char* format, va_list args) const
{
    if (sink_)
        sink_(level, FormatText(format, args));
}

PacketLoop::PacketLoop(const OptionState& options, std::vector<InputFile>& inputs,
                       std::vector<OutputFile>& outputs, RunState& run, PacketDecoder& decoder,
                       const PacketWriter& writer, const VideoPath& video, LoopReports reports,
                       const std::atomic<bool>& stopRequested, const RunLog& log)
    : options_(options), inputs_(inputs), outputs_(outputs), run_(run), decoder_(decoder),
      writer_(writer), video_(video), reports_(std::move(reports)),
      stopRequested_(stopRequested), log_(log), startTime_(lib.av_gettime()),
      packet_(lib.av_packet_alloc()), frame_(lib.av_frame_alloc())
{
    if (!packet_ || !frame_)
        throw FFMpegException("av_mallocz fail");
}

void PacketLoop::Run()
{
    const OptionState& o = options_;
    int64_t lastReport = startTime_;
    while (!stopRequested_) {
        const NextRead next = chooseNextRead(run_, o);
        if (next.fileIndex < 0 ||
            outputLimitReached(o, next.outputTime, outputs_[0].context.get()))
            break;
        const bool read = inputs_[next.fileIndex].frames ? passServedFrame(next.fileIndex)
                                                          : passPacket(next.fileIndex);
        if (!read) {
            run_.Files[next.fileIndex].EofReached = true;
            if (o.shortest)
                break;
            continue;
        }
        const int64_t now = lib.av_gettime();
        if (now - lastReport > reports_.intervalUs) {
            lastReport = now;
            reportProgress(false);
        }
    }
}

void PacketLoop::passInputPacket(int inputIndex, AVPacket* packet)
{
    const bool failed = decoder_.ProcessPacket(inputIndex, packet) < 0;
    lib.av_packet_unref(packet);
    const TInputStream& ist = run_.Inputs[inputIndex];
    if (failed && options_.verbosity >= kLogError)
        log_(kLogInfo, "Error while decoding stream #%d.%d", ist.FileIndex, ist.StreamIndex);
}

bool PacketLoop::passPacket(int fileIndex)
{
    const OptionState& o = options_;
    InputFile& input = inputs_[fileIndex];
    AVPacket* packet = packet_.get();
    if (lib.av_read_frame(input.context.get(), packet) < 0)
        return false;
    if (o.packetDump)
        lib.av_pkt_dump_log2(nullptr, AV_LOG_INFO, packet, o.hexDump ? 1 : 0,
                             input.context->streams[packet->stream_index]);
    const int inputIndex = claimedStreamOf(run_, fileIndex, packet->stream_index);
    if (inputIndex < 0) {
        lib.av_packet_unref(packet);
        return true;
    }
    const TInputStream& ist = run_.Inputs[inputIndex];
    if (const std::optional<int64_t> jump = repairTimestamps(input, ist, o, *packet);
        jump && o.verbosity >= kLogEverything)
        log_(kLogInfo, "timestamp discontinuity %lld, new offset= %lld",
             static_cast<long long>(*jump), static_cast<long long>(input.tsOffset));

    passInputPacket(inputIndex, packet);
    return true;
}

bool PacketLoop::passServedFrame(int fileIndex)
{
    InputFile& input = inputs_[fileIndex];
    AVFrame* frame = frame_.get();
    int streamIndex = 0;
    if (input.frames->Read(frame, streamIndex) < 0) {
        if (shortInput_.empty())
            shortInput_ = input.frames->EndError();
        return false;
    }
    const int inputIndex = claimedStreamOf(run_, fileIndex, streamIndex);
    if (inputIndex < 0) {
        lib.av_frame_unref(frame);
        return true;
    }
    const TInputStream& ist = run_.Inputs[inputIndex];
    frame->pts = shiftedTime(input, streamIndex, ist.Stream->time_base, frame->pts);
    frame->best_effort_timestamp = frame->pts;
    const bool copied = std::any_of(run_.Outputs.begin(), run_.Outputs.end(),
                                    [&](const TOutputStream& ost) {
                                        return ost.StreamCopy && ost.SourceIndex == inputIndex;
                                    });
    if (copied) {
        // Outputs that copy the stream take it as packets of raw pictures or
        // PCM sound, as the stand-in stream describes it.
        AVPacket* packet = packet_.get();
        if (FramePacket(*frame, ist.Stream->codecpar->codec_type, *packet) < 0)
            throw FFMpegException("av_mallocz fail");
        packet->stream_index = streamIndex;
        passInputPacket(inputIndex, packet);
    } else if (ist.DecodingNeeded) {
        decoder_.OutputFrame(inputIndex, frame);
    }
    lib.av_frame_unref(frame);
    return true;
}

void PacketLoop::End()
{
    for (int i = 0; i < static_cast<int>(run_.Inputs.size()); ++i)
        if (run_.Inputs[i].DecodingNeeded)
            decoder_.ProcessPacket(i, nullptr);
    for (const TOutputStream& ost : run_.Outputs)
        if (!ost.Flushed && ost.EncodingNeeded)
            // Streams whose source never reached the loop's end call still
            // hold frames in their encoders.
            decoder_.FlushEncoders(ost.SourceIndex);
    // Every file gets its trailer, also when an earlier one failed. The last
    // report still sees the files' sizes, so they are closed after it.
    std::string failure;
    auto keepFirst = [&](const OutputFile& file, int code) {
        if (code < 0 && failure.empty())
            failure = LibraryErrorText(file.fileName, code);
    };
    for (OutputFile& file : outputs_)
        keepFirst(file, finishOutputFile(file, false));
    reportProgress(true);
    for (OutputFile& file : outputs_)
        keepFirst(file, finishOutputFile(file, true));
    if (!failure.empty())
        throw FFMpegException(failure);
    // An input that ended before the end it was to reach made a file that
    // is shorter than asked for.
    if (!shortInput_.empty() && !stopRequested_) {
        for (OutputFile& file : outputs_)
            file.broken = true;
        throw FFMpegException(shortInput_);
    }
    // A run without a single packet for its outputs (a segment past the
    // source's real end, or a stop before the first packet) made no usable
    // file; nor did one whose video output got no picture, whatever sound it
    // got (a segment after the last picture, or without a key frame).
    const bool noPicture =
        std::any_of(run_.Outputs.begin(), run_.Outputs.end(), [](const TOutputStream& ost) {
            return ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                   ost.PacketsWritten == 0;
        });
    const int64_t packetsWritten = writer_.PacketsWritten();
    if (packetsWritten == 0 || (noPicture && !stopRequested_)) {
        for (OutputFile& file : outputs_)
            file.broken = true;
        if (!stopRequested_)
            throw FFMpegException(
                packetsWritten == 0
                    ? "No picture and no sound was written: the input gave none"
                    : "No picture was written: the input gave sound but no picture for this span");
    }
}

void PacketLoop::reportProgress(bool last)
{
    if (outputs_.empty())
        return;
    const OptionState& o = options_;
    const int64_t totalSize = outputSize(outputs_[0].context.get());
    ProgressLine progress;
    if (!describeStreams(run_, o, startTime_, qpHistogram_, last, progress))
        return;

    if (reports_.progress || o.verbosity >= kLogInfo || last) {
        // Before any output time a rate would be the header's bytes over no time.
        const double ti = progress.time;
        const double bitRate =
            progress.anyTime ? static_cast<double>(totalSize) * 8.0 / ti / 1000.0 : 0.0;
        appendTo(progress.line, "size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s",
                 static_cast<double>(totalSize) / 1024.0, ti, bitRate);
        if (o.verbosity >= kLogDebug)
            appendTo(progress.line, " dup=%d drop=%d", video_.DuplicatedFrames(),
                     video_.DroppedFrames());
        if (reports_.progress) {
            TProgressInfo info;
            info.FrameNumber = progress.frameNumber;
            info.FPS = progress.fps;
            info.CurrentDurationMs =
                progress.anyTime ? static_cast<int>(std::min(ti * 1000.0, 2.0e9)) : 0;
            info.Quality = progress.quality;
            info.BitRate = static_cast<float>(bitRate);
            info.CurrentSize = totalSize;
            info.TotalOutputDurationMs = reports_.totalOutputDurationMs;
            reports_.progress(info);
        } else if (o.verbosity >= kLogError) {
            log_(kLogInfo, "%s", progress.line.c_str());
        }
    }

    if (last && o.verbosity >= kLogError && log_.Connected()) {
        const int64_t raw = writer_.VideoBytes() + writer_.AudioBytes() + writer_.HeaderBytes();
        char overhead[64] = "unknown";
        if (raw > 0)
            std::snprintf(overhead, sizeof overhead, "%f%%",
                          static_cast<double>(totalSize - raw) * 100.0 / static_cast<double>(raw));
        log_(kLogInfo, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %s",
             static_cast<double>(writer_.VideoBytes()) / 1024.0,
             static_cast<double>(writer_.AudioBytes()) / 1024.0,
             static_cast<double>(writer_.HeaderBytes()) / 1024.0, overhead);
    }
}

}  // namespace clipmora
