// What the command-line commands share: exit codes, the usage text, binding
// the codec libraries, reporting a run's events and waiting for its end while
// stop signals are turned into a stop request.
#pragma once

#include "engine/conversions.h"
#include "engine/output_claim.h"
#include "engine/transcoder.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace clipmora::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// A stop by a signal exits with 128 + the signal's number, as a shell
// reports a program the signal ended (130 for Ctrl-C).
inline constexpr int kExitSignalBase = 128;

// The folder the program was started from.
std::string programFolder();

// Prints how to call the program on `stream`.
void printUsage(std::FILE* stream);

// Whether the command's arguments (its name first) ask for the usage:
// "--help" or "-h" before any "--".
bool asksForHelp(const std::vector<std::string>& args);

// Says on stderr why the command line is wrong, in one line, and where the
// usage is; returns the exit code of a malformed command line.
int usageError(const std::string& reason);

// Prints the program's version and the versions of the codec libraries it
// binds, as they report them; returns the exit code.
int printVersion();

// Binds the codec libraries from "Common" beside the program, as the window
// does; says why on stderr when it cannot.
bool loadLibraries(TTranscoder& transcoder);

// Ctrl-C, SIGTERM and SIGHUP stop a run the same way: the run ends at its
// next packet and the output gets its trailer. Made before any work starts
// (and before any other thread), it blocks the signals in every thread and
// waits for them on a thread of its own, so no signal can end the program
// with a file half made. Until the command holds them (HoldStops or
// SetStopAction), nothing is written yet, and a stop signal ends the program
// at once with 128 + the signal: opening an input may wait for good (a FIFO
// that no one writes).
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // From now on a stop signal only counts (Signal, StopExitCode) until a
    // stop action takes it; call before anything is written.
    void HoldStops();

    // Runs `action` on the signal thread at the first stop signal, or at once
    // when one came already. Cleared by ClearStopAction, which waits for an
    // action in progress; the signals stay held.
    void SetStopAction(std::function<void()> action);
    void ClearStopAction();

    // The signal that asked for a stop; 0 while none came.
    int Signal() const { return signal_.load(); }
    // The exit code of a command that a stop signal ended.
    int StopExitCode() const;

private:
    void waitForSignals();

    std::atomic<int> signal_{0};
    std::atomic<bool> quitting_{false};
    std::mutex lock_;
    std::function<void()> action_;  // guarded by lock_
    bool acted_ = false;            // guarded by lock_
    bool holding_ = false;          // guarded by lock_
    std::thread thread_;
};

// Ends a command that a stop signal stopped before its run began: says so
// and returns the exit code; 0 when no signal came.
int StoppedBeforeTheRun(const StopSignals& signals);

// The line for a run that a stop ended: a staged output is not written at
// all, one written directly (a device, a pipe) is cut short.
std::string StoppedText(const StagedOutput& output);

// What the task reported at its end; filled on the task's thread.
struct Outcome {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;  // the run's final report arrived
    bool finished = false;
    bool exception = false;
    std::string message;
};

// Reports the run's events on stderr, naming `output`'s final name where
// they name its temporary one, and keeps its end for the waiting thread.
// `output` is read under the outcome's lock: one set while the run starts is
// set under it.
void attachEvents(TTranscoder& transcoder, Outcome& outcome, const StagedOutput& output);

// Starts the run with `start`, waits for its end and reports it; a stop
// signal asks the component to stop. `start` returns false when nothing was
// started. The output is moved onto its final name when the run finished,
// and is removed when it failed or stopped. Returns the exit code.
int runToEnd(TTranscoder& transcoder, StopSignals& signals, Outcome& outcome,
             StagedOutput& output, const std::function<bool()>& start);

// Moves a finished output onto its name and says "done: NAME"; says why and
// returns kExitFailed when it is not there afterwards.
int commitOutput(StagedOutput& output);

// Arguments that do not fit the command's usage; the text says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs a command's argument parser, which fills `request` or throws
// UsageError (or ConversionError for a number that does not read); false,
// after saying why (usageError), when the arguments are wrong.
template <typename Request, typename Parser>
bool parseArguments(Parser parse, const std::vector<std::string>& args, Request& request)
{
    try {
        parse(args, request);
        return true;
    } catch (const UsageError& e) {
        usageError(e.what());
    } catch (const ConversionError& e) {
        usageError(e.what());
    }
    return false;
}

// The commands; `args` holds the command's name first.
int convert(const std::vector<std::string>& args);
int split(const std::vector<std::string>& args);
int probe(const std::vector<std::string>& args);
int formats(const std::vector<std::string>& args);

}  // namespace clipmora::cli
