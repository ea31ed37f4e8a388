// clipmora-cli: the command-line front end of the engine.
//
//   clipmora-cli probe FILE   prints what the media probe reads of FILE
//   clipmora-cli convert [input options] -i IN [output options] OUT
//                             converts IN into OUT through the engine component
//   clipmora-cli split IN OUTDIR --format NAME [choices]
//                             splits IN (or its marked segment) into OUTDIR as
//                             the window does
//   clipmora-cli formats      lists the output formats
//
// The codec libraries are bound from the "Common" folder beside the program,
// as the window does.
#include "app/segment_marks.h"
#include "app/split_job.h"
#include "engine/av_probe.h"
#include "engine/conversions.h"
#include "engine/ffmpeg_exception.h"
#include "engine/library_binding.h"
#include "engine/transcoder.h"
#include "profiles/format_catalogue.h"
#include "profiles/profile_options.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
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
                 "       clipmora-cli split IN OUTDIR --format NAME [--video-quality Q]\n"
                 "              [--audio-quality Q] [--size TEXT] [--frame-rate TEXT]\n"
                 "              [--channels Stereo|Mono] [--volume 0..10] [--aspect 0|1|2]\n"
                 "              [--overwrite] [--start SECONDS] [--end SECONDS]\n"
                 "       clipmora-cli formats\n"
                 "convert: options are the engine's, written -name value, or -name alone for a\n"
                 "flag; e.g. clipmora-cli convert -i in.mp4 -vcodec mpeg4 -b 800000 out.avi\n"
                 "split: NAME is a format as \"clipmora-cli formats\" lists it; Q is Highest,\n"
                 "Higher, Normal, Lower or Lowest; sizes and frame rates are entries of the\n"
                 "format's lists; --aspect 1 is 4:3, 2 is 16:9; without --end a segment runs\n"
                 "to the end of the file; without marks the whole file is split.\n");
}

// Exit codes of "convert".
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A stop by a signal exits with 128 + the signal's number, as a shell
// reports a program the signal ended (130 for Ctrl-C).
constexpr int kExitSignalBase = 128;

// The signal that asked for a stop; 0 while none came.
volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void onStopSignal(int signal) { gStopSignal = signal; }

// Ctrl-C, SIGTERM and SIGHUP stop a conversion the same way: the run ends
// at its next packet and the output gets its trailer. Installed before any
// work starts, so no signal can end the program with a file half made. The
// handler only records the signal; the waiting thread acts on it.
void installStopHandlers()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

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
        if (argument == "-") {
            error = "writing to standard output is not supported; name an output file "
                    "(./- for a file named \"-\")";
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

// Runs a command's argument parser; false, after saying why, when the
// arguments are wrong.
template <typename Request, typename Parser>
bool parseArguments(Parser parse, const std::vector<std::string>& args, Request& request)
{
    std::string error;
    try {
        if (parse(args, request, error))
            return true;
        std::fprintf(stderr, "%s\n", error.c_str());
        usage();
    } catch (const ConversionError& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    return false;
}

// Binds the codec libraries from "Common" beside the program, as the window does.
bool loadLibraries(TTranscoder& transcoder)
{
    if (transcoder.LoadCodecLibraries(programFolder() + "/Common", true))
        return true;
    std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
    return false;
}

// Reports the run's events on stderr and keeps its end for the waiting thread.
void attachEvents(TTranscoder& transcoder, Outcome& outcome)
{
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

}

// Starts the run with `start`, waits for its end and reports it; Ctrl-C asks
// the component to stop. `start` returns false when nothing was started.
int runToEnd(TTranscoder& transcoder, Outcome& outcome, const std::string& output,
             const std::function<bool()>& start)
{
    // A stop signal only raises a flag (installStopHandlers), which this
    // thread turns into a stop request; the worker threads start with the
    // signals blocked, so they land here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopSignals, signal);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const bool started = start();
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    if (!started)
        return kExitFailed;

    bool stopAsked = false;
    std::unique_lock guard(outcome.lock);
    while (!outcome.done) {
        outcome.changed.wait_for(guard, std::chrono::milliseconds(100));
        if (gStopSignal && !stopAsked) {
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
        std::fprintf(stderr, "done: %s\n", output.c_str());
        return 0;
    }
    if (outcome.exception) {
        std::fprintf(stderr, "conversion failed: %s\n", outcome.message.c_str());
        return kExitFailed;
    }
    std::fprintf(stderr, "stopped: %s is cut short\n", output.c_str());
    return kExitSignalBase + (gStopSignal ? static_cast<int>(gStopSignal) : SIGINT);
}

int convert(const std::vector<std::string>& args)
{
    installStopHandlers();
    ConvertRequest request;
    if (!parseArguments(parseConvert, args, request))
        return kExitUsage;
    TTranscoder transcoder;
    if (!loadLibraries(transcoder))
        return kExitFailed;
    Outcome outcome;
    attachEvents(transcoder, outcome);
    const int index = transcoder.AppendTask(request.input, &request.inputOptions);
    if (index < 0) {
        std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
        return kExitFailed;
    }
    if (!transcoder.AttachOutput(index, request.output, &request.outputOptions)) {
        std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
        return kExitFailed;
    }
    return runToEnd(transcoder, outcome, request.output, [&] {
        transcoder.StartTasks(1);
        return true;
    });
}

// "split": the window's split job from the command line.
struct SplitArguments {
    std::string input;
    std::string outputFolder;
    std::string format;
    std::string videoQuality = "Normal";
    std::string audioQuality = "Normal";
    std::string size, frameRate, channels;
    int volumePosition = 5;
    int aspect = -1;
    bool overwrite = false;
    double start = -1.0;  // seconds; negative: not marked
    double end = -1.0;
};

bool parseSplit(const std::vector<std::string>& args, SplitArguments& split, std::string& error)
{
    std::vector<std::string> positional;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--overwrite") {
            split.overwrite = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            positional.push_back(arg);
            continue;
        }
        if (i + 1 >= args.size()) {
            error = "missing value for " + arg;
            return false;
        }
        const std::string& value = args[++i];
        if (arg == "--format")
            split.format = value;
        else if (arg == "--video-quality")
            split.videoQuality = value;
        else if (arg == "--audio-quality")
            split.audioQuality = value;
        else if (arg == "--size")
            split.size = value;
        else if (arg == "--frame-rate")
            split.frameRate = value;
        else if (arg == "--channels")
            split.channels = value;
        else if (arg == "--volume")
            split.volumePosition = StrToInt(value);
        else if (arg == "--aspect")
            split.aspect = StrToInt(value);
        else if (arg == "--start" || arg == "--end") {
            const double seconds = StrToFloat(value);
            if (!std::isfinite(seconds) || seconds < 0) {
                error = arg + " takes a number of seconds, 0 or more (not '" + value + "')";
                return false;
            }
            (arg == "--start" ? split.start : split.end) = seconds;
        } else {
            error = "unknown split option " + arg;
            return false;
        }
    }
    if (positional.size() != 2 || split.format.empty()) {
        error = "split needs IN, OUTDIR and --format";
        return false;
    }
    split.input = positional[0];
    split.outputFolder = positional[1];
    while (split.outputFolder.size() > 1 && split.outputFolder.back() == '/')
        split.outputFolder.pop_back();
    if (split.volumePosition < 0 || split.volumePosition > 10 || split.aspect > 2) {
        error = "--volume takes 0 to 10, --aspect 0 to 2";
        return false;
    }
    return true;
}

// The engine's messages about a marked split name the trim script it reads;
// this line names what the user asked for.
void reportSplitFailure(const SplitArguments& split)
{
    if (split.start < 0 && split.end < 0) {
        std::fprintf(stderr, "Splitting \"%s\" failed\n", split.input.c_str());
        return;
    }
    char end[64] = "its end";
    if (split.end >= 0)
        std::snprintf(end, sizeof end, "%.3f s", split.end);
    std::fprintf(stderr, "Splitting \"%s\" from %.3f s to %s failed\n", split.input.c_str(),
                 std::max(split.start, 0.0), end);
}

// Selects `text` in `list`, naming the list's entries when it has none such.
bool choose(TItemList& list, const std::string& text, const char* what, std::string& error)
{
    if (text.empty() || list.SelectText(text))
        return true;
    error = std::string("no ") + what + " \"" + text + "\"; the format offers:";
    for (const std::string& item : list.Items())
        error += " \"" + item + "\"";
    return false;
}

int split(const std::vector<std::string>& args)
{
    installStopHandlers();
    SplitArguments arguments;
    if (!parseArguments(parseSplit, args, arguments))
        return kExitUsage;
    std::string error;

    TProfileControls profile;
    FillFixedLists(profile);
    FillFormatList(profile);
    if (!FindFormatProfile(arguments.format)) {
        std::fprintf(stderr, "Unknown format \"%s\"; see clipmora-cli formats\n",
                     arguments.format.c_str());
        return kExitUsage;
    }
    profile.ComboOutputFormat.SelectText(arguments.format);
    FormatChangeStep(profile);
    if (!choose(profile.ComboVideoQuality, arguments.videoQuality, "video quality", error) ||
        !choose(profile.ComboAudioQuality, arguments.audioQuality, "audio quality", error) ||
        !choose(profile.ComboVideoSize, arguments.size, "size", error) ||
        !choose(profile.ComboVideoFramerate, arguments.frameRate, "frame rate", error) ||
        !choose(profile.ComboAudioChannels, arguments.channels, "channel choice", error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitUsage;
    }
    if (arguments.aspect >= 0)
        profile.ComboAspectRatio.Select(arguments.aspect);
    ApplyQualityLevels(profile);

    std::error_code missing;
    if (!std::filesystem::is_directory(arguments.outputFolder, missing)) {
        std::fprintf(stderr, "The output folder \"%s\" does not exist\n",
                     arguments.outputFolder.c_str());
        return kExitFailed;
    }

    TTranscoder transcoder;
    if (!loadLibraries(transcoder))
        return kExitFailed;
    SplitRequest request;
    request.SourceFile = arguments.input;
    request.OutputFolder = arguments.outputFolder;
    request.Overwrite = arguments.overwrite;
    request.OutputVolume = OutputVolumeForPosition(arguments.volumePosition);
    request.ProgramFolder = programFolder();
    if (arguments.start >= 0 || arguments.end >= 0) {
        // Marks become frame numbers exactly as the window's timeline makes them.
        TAVProbe& probe = transcoder.Probe();
        if (!probe.OpenMedia(arguments.input)) {
            std::fprintf(stderr, "Cannot Split this File. %s\n", probe.LastError().c_str());
            return kExitFailed;
        }
        const VideoStreamInfo video = probe.ReadFirstVideoStreamInfo();
        const std::string rate = SourceFrameRateText(video.FrameRateNum, video.FrameRateDen,
                                                     probe.VideoStreamCount() > 0);
        probe.CloseMedia();
        auto mark = [&](double seconds) {
            return MarkFrameNumber(std::llround(std::max(seconds, 0.0) * 1000), rate,
                                   arguments.input);
        };
        request.Marked = true;
        request.StartFrame = mark(arguments.start);
        request.EndFrame = arguments.end >= 0 ? mark(arguments.end) : 0.0;
        if (arguments.end >= 0 && request.EndFrame < request.StartFrame) {
            std::fprintf(stderr, "The end mark lies before the start mark\n");
            return kExitUsage;
        }
    }

    Outcome outcome;
    attachEvents(transcoder, outcome);
    SplitOutcome started;
    // The output's name is known once the job is built; runToEnd reads it then.
    const int exitCode = runToEnd(transcoder, outcome, started.Job.OutputFile, [&] {
        started = StartSplitJob(transcoder, request, profile);
        if (started.Result == SplitStart::Started)
            return true;
        // The program's established texts, "!!" for a job that could not be
        // built and "!" for one the engine refused: two messages, not a typo.
        std::fprintf(stderr, "%s\n%s\n",
                     started.Result == SplitStart::Failed ? "Cannot Split or Convert this file!!"
                                                          : "Cannot Split or Convert this file!",
                     started.Detail.c_str());
        return false;
    });
    if (exitCode == kExitFailed)
        reportSplitFailure(arguments);
    return exitCode;
}

int formats()
{
    for (std::string_view entry : FormatListEntries())
        if (!IsFormatSeparator(entry))
            std::printf("%.*s\n", static_cast<int>(entry.size()), entry.data());
    return 0;
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
    if (args[0] == "split")
        return split(args);
    if (args[0] == "formats" && args.size() == 1)
        return formats();
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
