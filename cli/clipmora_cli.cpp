// clipmora-cli: the command-line front end of the engine.
//
//   clipmora-cli probe FILE   prints what the media probe reads of FILE
//   clipmora-cli convert [input options] -i IN [output options] OUT
//                             converts IN into OUT through the engine component
//
// The codec libraries are bound from the "Common" folder beside the program,
// as the window does.
#include "engine/av_probe.h"
#include "engine/conversions.h"
#include "engine/ffmpeg_exception.h"
#include "engine/library_binding.h"
#include "engine/transcoder.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

using namespace clipmora;

std::string programFolder()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

void usage()
{
    std::fprintf(stderr,
                 "usage: clipmora-cli probe FILE\n"
                 "       clipmora-cli convert [input options] -i IN [output options] OUT\n"
                 "options are the engine's, written -name value, or -name alone for a flag;\n"
                 "e.g. clipmora-cli convert -i in.mp4 -vcodec mpeg4 -b 800000 out.avi\n");
}

// Exit codes of "convert".
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;  // as a shell reports an interrupted program

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void onInterrupt(int) { gInterrupted = 1; }

struct ConvertRequest {
    std::string input;
    std::string output;
    TInputOptions inputOptions;
    TOutputOptions outputOptions;
};

// Output options that the component applies from a record field whatever the
// extra options said; given on the command line, they go into that field.
bool storeInRecordField(TOutputOptions& record, const std::string& name, const std::string& value)
{
    if (name == "async")
        record.AudioSync = StrToInt(value);
    else if (name == "vsync")
        record.VideoSync = StrToInt(value);
    else if (name == "alang")
        record.AudioLanguage = value;
    else if (name == "slang")
        record.SubtitleLanguage = value;
    else if (name == "padcolor")
        record.PadColor = static_cast<TColor>(StrToInt(value));
    else
        return false;
    return true;
}

// Splits "convert"'s arguments into the input, the output and their options.
// Whether "-name" reads the next argument as its value is the engine's option
// table's answer, so negative numbers are values, not options.
bool parseConvert(const std::vector<std::string>& args, ConvertRequest& request,
                  std::string& error)
{
    bool afterInput = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& argument = args[i];
        if (argument == "-i") {
            if (afterInput) {
                error = "only one input (-i) is supported";
                return false;
            }
            if (i + 1 >= args.size()) {
                error = "-i needs a file name";
                return false;
            }
            request.input = args[++i];
            afterInput = true;
            continue;
        }
        if (argument.size() > 1 && argument[0] == '-') {
            const std::string name = argument.substr(1);
            std::string value;
            if (name.find('=') != std::string::npos) {
                error = "invalid option name '" + name + "'";
                return false;
            }
            if (TCustomFFmpeg::OptionTakesValue(name)) {
                if (i + 1 >= args.size()) {
                    error = "option -" + name + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            if (value.find_first_of("\r\n") != std::string::npos) {
                error = "the value of -" + name + " must be one line";
                return false;
            }
            if (!afterInput) {
                request.inputOptions.ExtraOptions += name + "=" + value + "\n";
            } else if (!storeInRecordField(request.outputOptions, name, value)) {
                request.outputOptions.ExtraOptions += name + "=" + value + "\n";
            }
            continue;
        }
        if (!afterInput) {
            error = "unexpected argument '" + argument + "' before -i";
            return false;
        }
        if (!request.output.empty()) {
            error = "more than one output file ('" + request.output + "', '" + argument + "')";
            return false;
        }
        request.output = argument;
    }
    if (request.input.empty())
        error = "missing -i IN";
    else if (request.output.empty())
        error = "missing the output file";
    return error.empty();
}

// What the task reported at its end; filled on the task's thread.
struct Outcome {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;  // the run's final report arrived
    bool finished = false;
    bool exception = false;
    std::string message;
};

int convert(const std::vector<std::string>& args)
{
    ConvertRequest request;
    std::string error;
    try {
        if (!parseConvert(args, request, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            usage();
            return kExitUsage;
        }
    } catch (const ConversionError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return kExitUsage;
    }

    TTranscoder transcoder;
    if (!transcoder.LoadCodecLibraries(programFolder() + "/Common", true)) {
        std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
        return kExitFailed;
    }
    Outcome outcome;
    // The events come on the task's thread; stderr takes whole lines from any thread.
    transcoder.OnLog = [](int, TLogLevel, const std::string& message) {
        std::fprintf(stderr, "%s\n", message.c_str());
    };
    transcoder.OnProgress = [](int, int frame, int fps, int currentMs, float, float bitRate,
                               int64_t size, int totalMs) {
        if (totalMs > 0)
            std::fprintf(stderr, "progress: %.1f s of %.1f s (%d%%) frame=%d fps=%d size=%lld kB "
                                 "bitrate=%.1f kbit/s\n",
                         currentMs / 1000.0, totalMs / 1000.0,
                         static_cast<int>(100LL * currentMs / totalMs), frame, fps,
                         static_cast<long long>(size / 1024), bitRate);
        else
            std::fprintf(stderr, "progress: %.1f s frame=%d fps=%d size=%lld kB "
                                 "bitrate=%.1f kbit/s\n",
                         currentMs / 1000.0, frame, fps, static_cast<long long>(size / 1024),
                         bitRate);
    };
    transcoder.OnTerminate = [&outcome](int index, bool finished, bool exception,
                                        const std::string& message) {
        std::lock_guard guard(outcome.lock);
        if (index < 0) {
            outcome.done = true;
        } else {
            outcome.finished = finished;
            outcome.exception = exception;
            outcome.message = message;
        }
        outcome.changed.notify_all();
    };

    const int index = transcoder.AppendTask(request.input, &request.inputOptions);
    if (index < 0) {
        std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
        return kExitFailed;
    }
    if (!transcoder.AttachOutput(index, request.output, &request.outputOptions)) {
        std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
        return kExitFailed;
    }

    // Ctrl-C only raises a flag, which this thread turns into a stop request;
    // the worker threads start with the signal blocked, so it lands here.
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    transcoder.StartTasks(1);
    pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);

    bool stopAsked = false;
    std::unique_lock guard(outcome.lock);
    while (!outcome.done) {
        outcome.changed.wait_for(guard, std::chrono::milliseconds(100));
        if (gInterrupted && !stopAsked) {
            stopAsked = true;
            // The end report needs the component's lock; never wait for it
            // while holding ours.
            guard.unlock();
            std::fprintf(stderr, "stopping...\n");
            transcoder.StopTasks();
            guard.lock();
        }
    }
    if (outcome.finished) {
        std::fprintf(stderr, "done: %s\n", request.output.c_str());
        return 0;
    }
    if (outcome.exception) {
        std::fprintf(stderr, "conversion failed: %s\n", outcome.message.c_str());
        return kExitFailed;
    }
    std::fprintf(stderr, "stopped: %s is cut short\n", request.output.c_str());
    return kExitStopped;
}

std::string formatSeconds(int64_t microseconds)
{
    if (microseconds < 0)
        return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
    return text;
}

int probe(const std::string& file)
{
    TAVProbe probe;
    if (!probe.OpenMedia(file)) {
        std::fprintf(stderr, "%s\n", probe.LastError().c_str());
        return 1;
    }
    const FileInfo info = probe.ReadFileInfo();
    std::printf("file: %s\n", file.c_str());
    std::printf("streams: %d (video %d, audio %d, subtitle %d), programs: %d\n",
                probe.StreamCount(), probe.VideoStreamCount(), probe.AudioStreamCount(),
                probe.SubtitleStreamCount(), probe.ProgramCount());
    std::printf("duration: %s\n", formatSeconds(info.Duration).c_str());
    std::printf("start: %s\n", formatSeconds(info.StartTime).c_str());
    if (info.BitRate > 0)
        std::printf("bit rate: %d bit/s\n", info.BitRate);
    if (probe.VideoStreamCount() > 0) {
        const VideoStreamInfo video = probe.ReadFirstVideoStreamInfo();
        const double rate = video.FrameRateDen > 0
                                ? static_cast<double>(video.FrameRateNum) / video.FrameRateDen
                                : 0.0;
        std::printf("video: %s %dx%d\n", video.CodecName.c_str(), video.Width, video.Height);
        std::printf("frame rate: %.2f (%d/%d)\n", rate, video.FrameRateNum, video.FrameRateDen);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        usage();
        return 2;
    }
    if (args[0] == "convert")
        return convert(args);
    std::string error;
    if (!BindCodecLibraries(programFolder() + "/Common", true, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // Library chatter would mix with the report; errors still reach stderr.
    SetLibraryLogLevel(0);
    try {
        if (args[0] == "probe" && args.size() == 2)
            return probe(args[1]);
    } catch (const FFMpegException& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    usage();
    return 2;
}
