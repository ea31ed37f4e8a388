// The engine component: its life cycle, the tasks it creates and removes, the
// runs it schedules and the dispatch of the tasks' reports to its events.
// The option records, the segment list, the task list, the log route and the
// component lock live in files of their own beside this one.
#include "engine/transcoder.h"

#include "engine/ffmpeg_thread.h"
#include "engine/library_binding.h"
#include "engine/option_records.h"

#include <stdexcept>

namespace clipmora {
namespace {

// How deep the calling thread is in event handlers and inline runs. Tasks may
// only be joined and freed at depth 0: a handler may run on the very thread
// that would have to be joined, or on the stack of the run being freed.
thread_local int tCallbackDepth = 0;

struct CallbackScope {
    CallbackScope() { ++tCallbackDepth; }
    ~CallbackScope() { --tCallbackDepth; }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};

TLogLevel toLogLevel(int engineLevel)
{
    if (engineLevel < kLogError)
        return llQuiet;
    if (engineLevel >= kLogEverything)
        return llAll;
    return static_cast<TLogLevel>(engineLevel + 1);
}

}  // namespace

// ---- Life cycle ----------------------------------------------------------------------

TCustomTranscoder::TCustomTranscoder() { ComponentRegistry().Add(this); }

TCustomTranscoder::~TCustomTranscoder()
{
    ComponentRegistry().Remove(this);
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        // Waits for a dispatch in progress; afterwards nothing is raised.
        DispatchGuard guard(*this);
        destroying_ = true;
        pendingRunCount_ = 0;
        runActive_ = false;
        runQueue_.clear();
        tasks = tasks_.ExtractAll();
        for (auto& task : retired_)
            tasks.push_back(std::move(task));
        retired_.clear();
    }
    alive_.reset();
    // Each task stops and joins its thread; their last reports find
    // destroying_ set.
    tasks.clear();
}

bool TCustomTranscoder::LoadCodecLibraries(const std::string& folder, bool versionedNames)
{
    std::string error;
    if (!BindCodecLibraries(folder, versionedNames, error)) {
        setLastError(error);
        return false;
    }
    {
        std::lock_guard guard(ComponentRegistry().Lock());
        lib.av_log_set_callback(&RouteLibraryLog);
    }
    SetLibraryLogLevel(EngineLevelOf(LogLevel()));
    return true;
}

void TCustomTranscoder::SetLogLevel(TLogLevel level)
{
    logLevel_ = level;
    if (CodecLibrariesBound())
        SetLibraryLogLevel(EngineLevelOf(level));
}

void TCustomTranscoder::SetProgressInterval(int milliseconds)
{
    progressInterval_ = milliseconds <= 100 ? 100 : milliseconds;
}

void TCustomTranscoder::SetThreadPriority(TConvertPriority priority)
{
    threadPriority_ = priority > tpNormal ? tpNormal : priority;
}

std::string TCustomTranscoder::LastError() const
{
    std::lock_guard guard(lock_);
    return lastError_;
}

void TCustomTranscoder::setLastError(const std::string& text)
{
    std::lock_guard guard(lock_);
    lastError_ = text;
}

int TCustomTranscoder::TaskCount() const
{
    std::lock_guard guard(lock_);
    return tasks_.Count();
}

TFFmpeg* TCustomTranscoder::Task(int index) const
{
    std::lock_guard guard(lock_);
    return tasks_.At(index);
}

int TCustomTranscoder::ThreadCount() const
{
    std::lock_guard guard(lock_);
    return threadCount_;
}

void TCustomTranscoder::DetachEvents()
{
    DispatchGuard guard(*this);
    std::lock_guard hooks(hookLock_);
    OnBeforeHook = nullptr;
    OnCustomHook = nullptr;
    OnLog = nullptr;
    OnProgress = nullptr;
    OnTerminate = nullptr;
}

// ---- Creating and configuring tasks -------------------------------------------------

void TCustomTranscoder::connectSlots(TFFmpeg& task)
{
    task.SetLogSlot([this](TCustomFFmpeg& t, int level, const std::string& text) {
        DoLog(static_cast<TFFmpeg*>(&t), level, text);
    });
    task.SetProgressSlot([this](TCustomFFmpeg& t, const TProgressInfo& progress) {
        DoProgress(static_cast<TFFmpeg*>(&t), progress);
    });
    task.SetTerminateSlot([this](TCustomFFmpeg& t) { DoTerminate(static_cast<TFFmpeg*>(&t)); });
}

int TCustomTranscoder::AppendTask(const std::string& fileName, const TInputOptions* options)
{
    if (atSafePoint())
        freeRetired();
    auto task = std::make_unique<TFFmpeg>();
    task->serial_ = nextSerial_++;
    try {
        // A task is made of library objects: none can exist before binding.
        CheckCodecLibrariesBound();
        task->PrepareTask();
        task->SetVerbosity(EngineLevelOf(LogLevel()));
        if (options) {
            TInputOptions copy = *options;
            if (copy.FileName.empty())
                copy.FileName = fileName;
            task->inputOptions_ = copy;
            ApplyInputRecord(*task, copy);
        } else {
            task->inputOptions_ = TInputOptions{};
        }
        if (!task->AddInputFile(fileName)) {
            setLastError(task->TaskError());
            return -1;
        }
        connectSlots(*task);
    } catch (const std::exception& e) {
        setLastError(e.what());
        return -1;
    }
    std::lock_guard guard(lock_);
    return tasks_.Add(std::move(task));
}

void TCustomTranscoder::applyOutputOptions(TFFmpeg& task, const TOutputOptions& options)
{
    ApplyOutputRecord(task, options);
    if (options.EnableCustomHook) {
        task.SetCustomHookSlot([this](TCustomFFmpeg& t, THookBitmap& bitmap, int frameNumber,
                                      int64_t pts, bool& update, bool& stopHook) {
            DoCustomHook(static_cast<TFFmpeg*>(&t), bitmap, frameNumber, pts, update, stopHook);
        });
    } else if (options.EnableBeforeHook) {
        task.SetBeforeHookSlot([this](TCustomFFmpeg& t, int64_t pts, THookAction& action) {
            DoBeforeHook(static_cast<TFFmpeg*>(&t), pts, action);
        });
    } else {
        task.SetHookTimeRanges(ParseSegmentList(options.SegmentList));
    }
}

bool TCustomTranscoder::AttachOutput(int index, const std::string& fileName,
                                     const TOutputOptions* options)
{
    TFFmpeg* task = Task(index);
    if (!task) {
        setLastError("Task index " + std::to_string(index) + " is out of range");
        return false;
    }
    try {
        if (options) {
            TOutputOptions copy = *options;
            if (copy.FileName.empty())
                copy.FileName = fileName;
            task->outputOptions_ = copy;
            applyOutputOptions(*task, copy);
        } else {
            task->outputOptions_ = TOutputOptions{};
        }
        if (!task->CreateOutputFile(fileName)) {
            setLastError(task->TaskError());
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        setLastError(e.what());
        return false;
    }
}

// ---- Removing tasks ----------------------------------------------------------------

bool TCustomTranscoder::atSafePoint() const
{
    return std::this_thread::get_id() == ownerThread_ && tCallbackDepth == 0 &&
           !lock_.HeldByThisThread();
}

void TCustomTranscoder::freeRetired()
{
    std::vector<std::unique_ptr<TFFmpeg>> retired;
    {
        std::lock_guard guard(lock_);
        retired.swap(retired_);
    }
    retired.clear();  // joins their threads, without the lock
}

void TCustomTranscoder::windDownRun()
{
    std::vector<TFFmpeg*> tasks;
    {
        DispatchGuard guard(*this);
        if (runActive_)
            stopLocked();
        for (const auto& task : tasks_.Items())
            tasks.push_back(task.get());
    }
    // Only the owner frees tasks, so the pointers stay valid even if a handler
    // detaches the tasks meanwhile. Their last reports need the locks.
    for (TFFmpeg* task : tasks)
        task->joinThreads();
}

void TCustomTranscoder::DeleteTask(int index)
{
    if (!atSafePoint()) {
        // Inside a handler or on a task thread the task may be the caller's
        // own: detach it now, free it on the owner's thread later.
        DispatchGuard guard(*this);
        TFFmpeg* task = tasks_.At(index);
        if (!task)
            return;
        if (runActive_)
            stopLocked();
        retired_.push_back(tasks_.Extract(task));
        return;
    }
    freeRetired();
    TFFmpeg* task = nullptr;
    bool runActive = false;
    {
        std::lock_guard guard(lock_);
        task = tasks_.At(index);
        runActive = runActive_;
    }
    if (!task)
        return;
    if (runActive)
        windDownRun();
    else
        task->joinThreads();
    std::unique_ptr<TFFmpeg> owned;
    {
        std::lock_guard guard(lock_);
        owned = tasks_.Extract(task);
    }
    owned.reset();
}

void TCustomTranscoder::ClearTaskList()
{
    if (!atSafePoint()) {
        DispatchGuard guard(*this);
        if (runActive_)
            stopLocked();
        for (auto& task : tasks_.ExtractAll())
            retired_.push_back(std::move(task));
        lastError_.clear();
        threadCount_ = 0;
        return;
    }
    freeRetired();
    windDownRun();
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        std::lock_guard guard(lock_);
        tasks = tasks_.ExtractAll();
        lastError_.clear();
        threadCount_ = 0;
    }
    tasks.clear();
    freeRetired();
}

// ---- Running -----------------------------------------------------------------------

void TCustomTranscoder::StartTasks(int threadCount)
{
    if (threadCount <= 0 && !scheduler_)
        throw std::logic_error("StartTasks: running on the owner's thread needs a scheduler");
    if (atSafePoint())
        freeRetired();
    DispatchGuard guard(*this);
    if (runActive_ || destroying_)
        return;
    LogLineBuffers().Clear();
    runQueue_.clear();
    for (const auto& task : tasks_.Items()) {
        task->inRun_ = !task->claimed_ && !task->Running() && !task->Terminated();
        if (task->inRun_)
            runQueue_.push_back(task.get());
    }
    nextTaskIndex_ = 0;
    terminatedCount_ = 0;
    threadCount_ = threadCount;
    pendingRunCount_ = static_cast<int>(runQueue_.size());
    runTaskCount_ = pendingRunCount_;
    if (runQueue_.empty())
        return;
    runActive_ = true;
    const int limit = threadCount > 0 ? threadCount : 1;
    for (int started = 0; started < limit && pendingRunCount_ > 0; ++started)
        startOneLocked();
}

void TCustomTranscoder::prepareStartLocked(TFFmpeg* task)
{
    task->claimed_ = true;
    task->SetProgressIntervalUs(static_cast<int64_t>(ProgressInterval()) * 1000);
    task->SetVerbosity(EngineLevelOf(LogLevel()));
}

void TCustomTranscoder::startOneLocked()
{
    if (pendingRunCount_ <= 0)
        return;
    --pendingRunCount_;
    TFFmpeg* task = runQueue_[static_cast<std::size_t>(nextTaskIndex_++)];
    if (threadCount_ > 0) {
        launchThreadedLocked(task);
        return;
    }
    // Main-thread mode: the start waits for the owner's event loop, so that the
    // run does not happen inside the report of the previous one.
    std::weak_ptr<int> alive = alive_;
    scheduler_(100, [this, alive, serial = task->serial_] {
        if (!alive.expired())
            runScheduled(serial);
    });
}

void TCustomTranscoder::launchThreadedLocked(TFFmpeg* task)
{
    prepareStartLocked(task);
    if (task->OutputFiles().empty() || task->InputFiles().empty()) {
        // Its start check will fail, and the failure frees the task's inputs
        // under the codec lock, which must not be taken under our locks.
        task->taskThreadId_ = std::thread::id();
        task->startFailure_ =
            std::thread([task, priority = ThreadPriority()] { task->StartTask(false, priority); });
        return;
    }
    TFFmpegThread* thread = task->StartTask(true, ThreadPriority());
    if (!thread)
        return;
    // Known before the thread logs its first line.
    task->taskThreadId_ = task->ThreadId();
    thread->Resume();
}

void TCustomTranscoder::runScheduled(uint64_t serial)
{
    TFFmpeg* task = nullptr;
    {
        DispatchGuard guard(*this);
        if (destroying_)
            return;
        for (const auto& item : tasks_.Items())
            if (item->serial_ == serial)
                task = item.get();
        // A stop in the meantime has handed the task to a termination thread.
        if (!task || task->claimed_ || task->Running() || task->Terminated())
            return;
        prepareStartLocked(task);
        task->taskThreadId_ = std::this_thread::get_id();
    }
    CallbackScope inlineRun;
    task->StartTask(false, ThreadPriority());
}

void TCustomTranscoder::stopLocked()
{
    pendingRunCount_ = 0;
    for (const auto& task : tasks_.Items()) {
        if (task->Running()) {
            task->RequestStop();
        } else if (!task->Terminated() && !task->claimed_) {
            task->claimed_ = true;
            task->TerminateWithoutRunning();
        }
    }
}

void TCustomTranscoder::StopTasks()
{
    DispatchGuard guard(*this);
    if (!destroying_)
        stopLocked();
}

void TCustomTranscoder::finishRunIfDoneLocked()
{
    if (!runActive_ || pendingRunCount_ > 0 || terminatedCount_ < runTaskCount_)
        return;
    runActive_ = false;
    runQueue_.clear();
    if (OnTerminate) {
        CallbackScope scope;
        OnTerminate(-1, true, false, std::string());
    }
    LogLineBuffers().Clear();
}

// ---- Dispatch ---------------------------------------------------------------------------

void TCustomTranscoder::DoBeforeHook(TFFmpeg* task, int64_t pts, THookAction& action)
{
    TBeforeHookEvent handler;
    {
        std::lock_guard guard(hookLock_);
        handler = OnBeforeHook;
    }
    if (handler) {
        CallbackScope scope;
        handler(task ? task->TaskIndex() : -1, pts, action);
    }
}

void TCustomTranscoder::DoCustomHook(TFFmpeg* task, THookBitmap& bitmap, int frameNumber,
                                     int64_t pts, bool& update, bool& stopHook)
{
    TCustomHookEvent handler;
    {
        std::lock_guard guard(hookLock_);
        handler = OnCustomHook;
    }
    if (handler) {
        CallbackScope scope;
        handler(task ? task->TaskIndex() : -1, bitmap, frameNumber, pts, update, stopHook);
    }
}

void TCustomTranscoder::DoLog(TFFmpeg* task, int level, const std::string& text)
{
    DispatchGuard guard(*this);
    if (destroying_ || !OnLog)
        return;
    CallbackScope scope;
    OnLog(task ? task->TaskIndex() : -1, toLogLevel(level), text);
}

void TCustomTranscoder::DoProgress(TFFmpeg* task, const TProgressInfo& progress)
{
    DispatchGuard guard(*this);
    if (destroying_ || !OnProgress)
        return;
    CallbackScope scope;
    OnProgress(task ? task->TaskIndex() : -1, progress.FrameNumber, progress.FPS,
               progress.CurrentDurationMs, progress.Quality, progress.BitRate,
               progress.CurrentSize, progress.TotalOutputDurationMs);
}

void TCustomTranscoder::DoTerminate(TFFmpeg* task)
{
    DispatchGuard guard(*this);
    if (destroying_)
        return;
    if (task) {
        if (OnTerminate) {
            CallbackScope scope;
            OnTerminate(task->TaskIndex(), task->Finished(), task->ExceptionRaised(),
                        task->ExceptionMessage());
        }
        // Thread ids are reused; an ended task must not collect later lines.
        task->taskThreadId_ = std::thread::id();
        if (!task->inRun_)
            return;
        ++terminatedCount_;
        if (pendingRunCount_ > 0) {
            startOneLocked();
            return;
        }
    }
    finishRunIfDoneLocked();
}

}  // namespace clipmora
