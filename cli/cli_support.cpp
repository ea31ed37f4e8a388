// The commands' shared pieces: usage, library binding, event reports, the
// stop-signal thread and the wait for a run's end.
#include "cli/cli_support.h"

#include "engine/codec_libraries.h"
#include "job/time_left.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pthread.h>
#include <string_view>
#include <unistd.h>

namespace clipmora::cli {
namespace {

// Ends the signal thread; never a stop signal, and only heeded once the
// thread is asked to quit.
constexpr int kQuitSignal = SIGUSR1;

sigset_t waitedSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, kQuitSignal})
        sigaddset(&signals, signal);
    return signals;
}

}  // namespace

std::string programFolder()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

void printUsage(std::FILE* stream)
{
    std::fprintf(stream,
                 "usage: clipmora-cli probe FILE [--json]\n"
                 "       clipmora-cli convert [input options] -i IN [output options] OUT\n"
                 "       clipmora-cli split IN... OUTDIR --format NAME [--video-quality Q]\n"
                 "              [--audio-quality Q] [--size TEXT] [--frame-rate TEXT]\n"
                 "              [--channels Stereo|Mono] [--volume 0..10] [--aspect 0|1|2]\n"
                 "              [--overwrite] [--start TIME] [--end TIME]\n"
                 "       clipmora-cli split IN... OUTDIR --copy [--keyframe] [--overwrite]\n"
                 "              [--start TIME] [--end TIME]\n"
                 "       clipmora-cli split [choices] -- IN OUTDIR [choices]\n"
                 "       clipmora-cli formats\n"
                 "       clipmora-cli --help | --version\n"
                 "probe: --json prints the figures as one JSON object.\n"
                 "convert: options are the engine's, written -name value, or -name alone for a\n"
                 "flag; e.g. clipmora-cli convert -i in.mp4 -vcodec mpeg4 -b 800000 out.avi;\n"
                 "an OUT that exists is replaced only with -y\n"
                 "split: NAME is a format as \"clipmora-cli formats\" lists it; Q is Highest,\n"
                 "Higher, Normal, Lower or Lowest; sizes and frame rates are entries of the\n"
                 "format's lists; --aspect 1 is 4:3, 2 is 16:9. TIME is seconds (83.5),\n"
                 "m:ss.mmm (1:23.5) or h:mm:ss.mmm (0:01:23.500); without --end, or with an\n"
                 "end past the file's, a segment runs to the end of the file; without marks the\n"
                 "whole file is split. Several INs are split in turn with the same choices, one\n"
                 "result line each; the exit code is 0 only when every one was split, and a stop\n"
                 "signal (Ctrl-C) ends the current one and skips the rest. --copy keeps the\n"
                 "original streams in a file of IN's type, exactly from --start to --end,\n"
                 "re-encoding only the pictures next to the marks that cannot be copied; with\n"
                 "--keyframe it re-encodes nothing and starts at the key frame at or before\n"
                 "--start. Equal marks hold nothing to copy and are refused. After \"--\", the\n"
                 "next two words are names (IN and OUTDIR) even when they begin with \"-\".\n"
                 "Exit codes: 0 done, 1 failed, 2 malformed command line, 128 + the signal's\n"
                 "number when a signal stopped the run.\n");
}

bool asksForHelp(const std::vector<std::string>& args)
{
    for (std::size_t i = 1; i < args.size() && args[i] != "--"; ++i)
        if (args[i] == "--help" || args[i] == "-h")
            return true;
    return false;
}

int usageError(const std::string& reason)
{
    std::fprintf(stderr, "%s\nRun \"clipmora-cli --help\" for the usage.\n", reason.c_str());
    return kExitUsage;
}

int printVersion()
{
    std::printf("clipmora-cli %s\n", CLIPMORA_VERSION);
    TTranscoder transcoder;
    if (!loadLibraries(transcoder))
        return kExitFailed;
    for (int i = 0; i < kCodecLibraryCount; ++i) {
        const auto library = static_cast<CodecLibrary>(i);
        std::string name = CodecLibraryFileName(library, false);
        name.resize(name.size() - std::string_view(".so").size());
        std::printf("%s %s\n", name.c_str(), CodecLibraryVersion(library).c_str());
    }
    return kExitDone;
}

bool loadLibraries(TTranscoder& transcoder)
{
    if (transcoder.LoadCodecLibraries(programFolder() + "/Common", true))
        return true;
    std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
    return false;
}

StopSignals::StopSignals()
{
    const sigset_t signals = waitedSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    thread_ = std::thread([this] { waitForSignals(); });
}

StopSignals::~StopSignals()
{
    quitting_.store(true);
    pthread_kill(thread_.native_handle(), kQuitSignal);
    thread_.join();
}

void StopSignals::waitForSignals()
{
    const sigset_t signals = waitedSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            continue;
        if (signal == kQuitSignal) {
            if (quitting_.load())
                return;
            continue;
        }
        int none = 0;
        signal_.compare_exchange_strong(none, signal);
        std::lock_guard guard(lock_);
        if (action_ && !acted_) {
            acted_ = true;
            action_();
        } else if (!holding_) {
            // Nothing is written yet; the main thread may be waiting in a
            // call that never returns.
            std::fprintf(stderr, "stopped\n");
            std::_Exit(StopExitCode());
        }
    }
}

void StopSignals::HoldStops()
{
    std::lock_guard guard(lock_);
    holding_ = true;
}

int StopSignals::StopExitCode() const
{
    const int signal = signal_.load();
    return kExitSignalBase + (signal ? signal : SIGINT);
}

std::string StoppedText(const StagedOutput& output)
{
    return "stopped: " + output.FinalName() +
           (output.WrittenDirectly() ? " is cut short" : " was not written");
}

int StoppedBeforeTheRun(const StopSignals& signals)
{
    if (signals.Signal() == 0)
        return 0;
    std::fprintf(stderr, "stopped before the run began\n");
    return signals.StopExitCode();
}

void StopSignals::SetStopAction(std::function<void()> action)
{
    std::lock_guard guard(lock_);
    holding_ = true;
    action_ = std::move(action);
    if (signal_.load() != 0 && !acted_) {
        acted_ = true;
        action_();
    }
}

void StopSignals::ClearStopAction()
{
    std::lock_guard guard(lock_);
    action_ = nullptr;
}

// On a terminal the progress is one line that each report rewrites; it is
// ended before anything else is written.
namespace {

std::atomic<bool> gProgressLineOpen{false};

void endProgressLine()
{
    if (gProgressLineOpen.exchange(false))
        std::fputc('\n', stderr);
}

}  // namespace

// Reports the run's events on stderr and keeps its end for the waiting thread.
void attachEvents(TTranscoder& transcoder, Outcome& outcome, const StagedOutput& output)
{
    // The events come on the task's thread; stderr takes whole lines from any thread.
    // The output may be filled in while the run starts, under the outcome's lock.
    transcoder.OnLog = [&outcome, &output](int, TLogLevel, const std::string& message) {
        std::string line;
        {
            std::lock_guard guard(outcome.lock);
            line = output.NamedAsFinal(message);
        }
        endProgressLine();
        std::fprintf(stderr, "%s\n", line.c_str());
    };
    transcoder.OnProgress = [timeLeft = TimeLeftEstimator(),
                             onTerminal = isatty(STDERR_FILENO) == 1](
                                int, int frame, int fps, int currentMs, float, float bitRate,
                                int64_t size, int totalMs) mutable {
        timeLeft.Report(TimeLeftEstimator::Clock::now(), currentMs, totalMs);
        const std::string left = timeLeft.Summary();
        char done[96];
        if (totalMs > 0)
            std::snprintf(done, sizeof done, "%.1f s of %.1f s (%d%%)", currentMs / 1000.0,
                          totalMs / 1000.0, static_cast<int>(100LL * currentMs / totalMs));
        else
            std::snprintf(done, sizeof done, "%.1f s", currentMs / 1000.0);
        // A terminal line short enough not to wrap.
        if (onTerminal)
            std::fprintf(stderr, "\r\033[K%s, %lld kB%s%s", done,
                         static_cast<long long>(size / 1024), left.empty() ? "" : ", ",
                         left.c_str());
        else
            std::fprintf(stderr,
                         "progress: %s frame=%d fps=%d size=%lld kB bitrate=%.1f kbit/s%s%s\n",
                         done, frame, fps, static_cast<long long>(size / 1024), bitRate,
                         left.empty() ? "" : ", ", left.c_str());
        gProgressLineOpen = onTerminal;
    };
    transcoder.OnTerminate = [&outcome, &output](int index, bool finished, bool exception,
                                                 const std::string& message) {
        std::lock_guard guard(outcome.lock);
        if (index < 0) {
            outcome.done = true;
        } else {
            outcome.finished = finished;
            outcome.exception = exception;
            outcome.message = output.NamedAsFinal(message);
        }
        outcome.changed.notify_all();
    };

}

int commitOutput(StagedOutput& output)
{
    if (const std::optional<std::string> missing = output.Commit()) {
        std::fprintf(stderr, "conversion failed: %s\n", missing->c_str());
        return kExitFailed;
    }
    std::fprintf(stderr, "done: %s\n", output.FinalName().c_str());
    return kExitDone;
}

int runToEnd(TTranscoder& transcoder, StopSignals& signals, Outcome& outcome,
             StagedOutput& output, const std::function<bool()>& start)
{
    if (const int stopped = StoppedBeforeTheRun(signals))
        return stopped;
    if (!start())
        return kExitFailed;
    // The stop runs on the signal thread; the end report it brings needs the
    // component's lock, so it never waits for our lock.
    signals.SetStopAction([&transcoder] {
        endProgressLine();
        std::fprintf(stderr, "stopping...\n");
        transcoder.StopTasks();
    });
    {
        std::unique_lock guard(outcome.lock);
        outcome.changed.wait(guard, [&outcome] { return outcome.done; });
    }
    signals.ClearStopAction();
    endProgressLine();
    if (outcome.finished)
        return commitOutput(output);
    output.Discard();
    if (outcome.exception) {
        std::fprintf(stderr, "conversion failed: %s\n", outcome.message.c_str());
        return kExitFailed;
    }
    std::fprintf(stderr, "%s\n", StoppedText(output).c_str());
    return signals.StopExitCode();
}

}  // namespace clipmora::cli
