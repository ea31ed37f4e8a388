// TTranscoder: the engine component that the window owns. It binds the codec
// libraries, owns the media probe, keeps a list of conversion tasks (TFFmpeg),
// creates and configures them from the two option records, runs them on worker
// threads (or one at a time on the owner's thread), stops them, and turns what
// the engine reports into five events.
//
// Threads and locks:
//   - Every operation is called on the thread that created the component (the
//     owner, the GUI thread in the window). StopTasks may also be called from
//     any other thread (an event handler on a task thread, a thread that
//     handles signals); ClearTaskList and DeleteTask called from
//     an event handler or a task thread only detach the tasks, which the next
//     operation on the owner's thread (or the destructor) then frees.
//   - OnLog, OnProgress and OnTerminate are queued under the component lock
//     where they happen and raised in that order once the lock is released,
//     by one thread at a time: the thread that queued a report raises it
//     unless another thread is already raising, which then raises it too. So
//     they never overlap for one component, and a handler may call any
//     operation (or log) without meeting a lock it holds. What a handler
//     reports itself (a line it logs) is raised right after it, before the
//     reports other threads queued meanwhile. The hook events are
//     raised on the task's thread directly, since they answer the task.
//   - The libraries' log output reaches the components through RouteLibraryLog;
//     each thread keeps its own unfinished line. Lock order: registry lock,
//     then component lock; neither is held while a handler runs, and the
//     engine's codec lock is never taken under either.
#pragma once

#include "engine/av_probe.h"
#include "engine/engine_types.h"

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

namespace clipmora {

// A task of the component (transcoder_tasks.h); callers hold it only by
// pointer.
class TFFmpeg;
class TFFmpegList;

// All behaviour of the component; TTranscoder publishes it.
class TCustomTranscoder {
public:
    using TBeforeHookEvent =
        std::function<void(int AIndex, int64_t APTS, THookAction& AHookAction)>;
    using TCustomHookEvent = std::function<void(int AIndex, THookBitmap& ABitmap, int AFrameNumber,
                                                int64_t APTS, bool& AUpdate, bool& AStopHook)>;
    using TLogEvent = std::function<void(int AIndex, TLogLevel ALogLevel, const std::string& AMsg)>;
    using TProgressEvent =
        std::function<void(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration,
                           float AQuality, float ABitRate, int64_t ACurrentSize,
                           int ATotalOutputDuration)>;
    using TTerminateEvent = std::function<void(int AIndex, bool AFinished, bool AException,
                                               const std::string& AMessage)>;
    // Runs `job` once on the owner's thread after `delayMs` milliseconds.
    using TScheduler = std::function<void(int delayMs, std::function<void()> job)>;

    TCustomTranscoder();
    // Leaves the registry, drops the queued reports and waits for a handler
    // in progress, then stops and joins every task. Events are no longer
    // raised once it has begun. Owner thread only, never from an event
    // handler.
    virtual ~TCustomTranscoder();
    TCustomTranscoder(const TCustomTranscoder&) = delete;
    TCustomTranscoder& operator=(const TCustomTranscoder&) = delete;

    // Binds the codec libraries from `folder` (see BindCodecLibraries), installs
    // RouteLibraryLog as the libraries' log callback and sets the libraries' log
    // level from LogLevel(). Returns false with LastError() holding the binding
    // message when a library or entry point is missing.
    bool LoadCodecLibraries(const std::string& folder, bool versionedNames);
    // Whether the file of every codec library is present and readable in
    // `folder`, looked at without loading anything: a caller that binds
    // later can refuse a missing file at once.
    static bool CodecLibraryFilesPresent(const std::string& folder, bool versionedNames);

    // Creates a task reading `fileName`, configured from `options` when given.
    // Returns its index, or -1 with LastError() set (nothing is added).
    int AppendTask(const std::string& fileName, const TInputOptions* options = nullptr);
    // Configures task `index`'s output from `options` when given and creates
    // the output file `fileName` with its streams. False with LastError() set
    // on failure (also for an index outside the list); the task stays listed.
    bool AttachOutput(int index, const std::string& fileName,
                      const TOutputOptions* options = nullptr);
    // Frees task `index` and renumbers the ones behind it; an index outside the
    // list does nothing. While a run is in progress the run is stopped first
    // and every task of it reports its end before the task goes.
    void DeleteTask(int index);
    // Frees every task (stopping a run in progress as DeleteTask does), clears
    // LastError() and the thread count.
    void ClearTaskList();
    // Runs the tasks that have not run yet, in index order, at most
    // `threadCount` at a time on worker threads. With a count of 0 or less they
    // run one at a time on the owner's thread, each started 100 ms after the
    // previous one ended through the scheduler (std::logic_error without one).
    // Every task reports OnTerminate; then OnTerminate with AIndex -1 ends the
    // run. Ignored while a run is in progress; a list with nothing to run
    // starts and reports nothing.
    void StartTasks(int threadCount);
    // No further task starts; running tasks are asked to stop, the others end
    // at once from short-lived threads, so every task reports OnTerminate once.
    void StopTasks();

    std::string LastError() const;
    int TaskCount() const;
    // The task at `index`, null outside the list (its class is the engine's
    // own, in transcoder_tasks.h). Owner thread.
    TFFmpeg* Task(int index) const;
    int ThreadCount() const;
    TAVProbe& Probe() { return probe_; }

    // The main-thread mode's timer; the window passes a QTimer-based one.
    void SetScheduler(TScheduler scheduler) { scheduler_ = std::move(scheduler); }

    // Clears the five events; safe while tasks run (the window does this before
    // it stops the engine on close). Returns once a handler running on another
    // thread has returned; queued reports are then dropped unheard.
    void DetachEvents();

    static std::string Version() { return "2.0b"; }

protected:
    // Stops and joins every task; nothing is raised afterwards. The
    // component's destructors call it, the most derived one first, so that
    // no task calls into an object whose destruction has begun.
    void ShutDown();

    // Properties.
    TLogLevel LogLevel() const { return logLevel_.load(); }
    // Stores the level; with bound libraries it also becomes the libraries'
    // log level (ordinal - 1) and the process-wide routing threshold.
    void SetLogLevel(TLogLevel level);
    int ProgressInterval() const { return progressInterval_.load(); }
    // Milliseconds; 100 or less is stored as 100.
    void SetProgressInterval(int milliseconds);
    TConvertPriority ThreadPriority() const { return threadPriority_.load(); }
    // Priorities above normal are taken as normal.
    void SetThreadPriority(TConvertPriority priority);
    const std::string& About() const { return about_; }
    void SetAbout(const std::string& text) { about_ = text; }

    // Events. Assign them while no run is in progress; DetachEvents clears
    // them at any time.
    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

    // What the tasks' callback slots call, in this order. `level` is an engine
    // log level (-1..3); a null task means "no task".
    virtual void DoBeforeHook(TFFmpeg* task, int64_t pts, THookAction& action);
    virtual void DoCustomHook(TFFmpeg* task, THookBitmap& bitmap, int frameNumber, int64_t pts,
                              bool& update, bool& stopHook);
    virtual void DoLog(TFFmpeg* task, int level, const std::string& text);
    virtual void DoProgress(TFFmpeg* task, const TProgressInfo& progress);
    virtual void DoTerminate(TFFmpeg* task);

private:
    friend void RouteLibraryLog(void*, int, const char*, va_list);

    // A report waiting to be raised, with the task's index as it was when the
    // report happened.
    struct LogReport {
        int index;
        TLogLevel level;
        std::string text;
    };
    struct ProgressReport {
        int index;
        TProgressInfo progress;
    };
    struct TerminateReport {
        int index;
        bool finished;
        bool exception;
        std::string message;
    };
    // Not a report: the next pending task starts once the end report before
    // it has been raised, so that its handler may stop the run first.
    struct StartNextTask {};
    using Report = std::variant<LogReport, ProgressReport, TerminateReport, StartNextTask>;

    // Queues a report; call with lock_ held. Returns true when the calling
    // thread has to raise the queue (no other thread is raising it).
    bool queueLocked(Report report);
    // Raises the queued reports in order until none is left; only the thread
    // that queueLocked told so calls it, without lock_.
    void raiseQueued();
    void raise(const Report& report);
    // Queues a routed line for the first task running on `thread` (or none);
    // true as for queueLocked. Called by the log router under the registry lock.
    bool queueRoutedLine(std::thread::id thread, int level, const std::string& line);

    // Called with lock_ held.
    void stopLocked();
    void startOneLocked();
    void launchThreadedLocked(TFFmpeg* task);
    // Ends the run once every task has ended; true as for queueLocked.
    bool finishRunIfDoneLocked();
    void prepareStartLocked(TFFmpeg* task);
    // A scheduled start in main-thread mode.
    void runScheduled(uint64_t serial);
    // True on the owner's thread while it neither raises reports nor runs a
    // task inline: only there may tasks be joined and freed. Call with lock_.
    bool atSafePointLocked() const;
    bool atSafePoint() const;
    // Frees the tasks that handlers detached. Owner thread, safe point.
    void freeRetired();
    // Stops a run in progress and waits, without the lock, until every task
    // of the list has ended its thread and its reports are raised.
    void windDownRun();
    void setLastError(const std::string& text);
    void connectSlots(TFFmpeg& task);
    void applyOutputOptions(TFFmpeg& task, const TOutputOptions& options);

    const std::thread::id ownerThread_ = std::this_thread::get_id();
    mutable std::mutex lock_;         // the component lock
    std::condition_variable raised_;  // signalled when raising_ ends

    // Guarded by lock_.
    std::unique_ptr<TFFmpegList> tasks_;
    std::vector<std::unique_ptr<TFFmpeg>> retired_;  // detached by handlers, freed later
    std::deque<Report> reports_;                     // queued, not yet raised
    bool raising_ = false;                           // a thread raises reports_
    std::thread::id raisingThread_{};                // which one
    bool raisingHandler_ = false;                    // it runs a handler now
    std::size_t handlerReports_ = 0;  // that handler's own reports, at the queue's front
    bool runningInline_ = false;                     // the owner runs a task inline
    std::vector<TFFmpeg*> runQueue_;                 // the run's tasks in start order
    std::string lastError_;
    int threadCount_ = 0;
    int pendingRunCount_ = 0;
    int terminatedCount_ = 0;
    int runTaskCount_ = 0;
    int nextTaskIndex_ = -1;  // into runQueue_
    bool runActive_ = false;
    bool destroying_ = false;

    // Owner thread only.
    uint64_t nextSerial_ = 1;
    TScheduler scheduler_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // scheduled jobs hold a weak_ptr
    std::string about_;

    // Read by task threads when a task starts; set by the owner.
    std::atomic<TLogLevel> logLevel_{llInfo};
    std::atomic<int> progressInterval_{500};
    std::atomic<TConvertPriority> threadPriority_{tpNormal};

    std::mutex hookLock_;  // guards OnBeforeHook and OnCustomHook during DetachEvents

    TAVProbe probe_;
};

// The component as the window uses it.
class TTranscoder : public TCustomTranscoder {
public:
    ~TTranscoder() override { ShutDown(); }

    using TCustomTranscoder::About;
    using TCustomTranscoder::LogLevel;
    using TCustomTranscoder::ProgressInterval;
    using TCustomTranscoder::SetAbout;
    using TCustomTranscoder::SetLogLevel;
    using TCustomTranscoder::SetProgressInterval;
    using TCustomTranscoder::SetThreadPriority;
    using TCustomTranscoder::ThreadPriority;

    using TCustomTranscoder::OnBeforeHook;
    using TCustomTranscoder::OnCustomHook;
    using TCustomTranscoder::OnLog;
    using TCustomTranscoder::OnProgress;
    using TCustomTranscoder::OnTerminate;
};

}  // namespace clipmora
