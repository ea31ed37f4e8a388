// The engine component: its life cycle, the tasks it creates and removes, the
// runs it schedules, and the queue through which the tasks' reports reach its
// events. The option records, the segment list, the task list and the log
// route live in files of their own beside this one.
#include "engine/transcoder_tasks.h"

#include "engine/ffmpeg_thread.h"
#include "engine/library_binding.h"
#include "engine/option_records.h"

#include <stdexcept>

namespace clipmora {
namespace {

// Calls the visitor's overload for the report's kind.
template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
// Spelled out for compilers without deduction for aggregates (clang 14).
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// The record a task keeps of the caller's options: a copy whose empty file
// name is filled in, or a reset record when none were given.
template <class Record>
Record keptRecord(const Record* options, const std::string& fileName)
{
    if (!options)
        return Record{};
    Record copy = *options;
    if (copy.FileName.empty())
        copy.FileName = fileName;
    return copy;
}

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

TCustomTranscoder::TCustomTranscoder() : tasks_(std::make_unique<TFFmpegList>())
{
    ComponentRegistry().Add(this);
}

TCustomTranscoder::~TCustomTranscoder() { ShutDown(); }

void TCustomTranscoder::ShutDown()
{
    // Out of the registry first: no routed line can queue after this.
    ComponentRegistry().Remove(this);
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        std::unique_lock guard(lock_);
        destroying_ = true;
        reports_.clear();
        // A report being raised ends first; afterwards nothing is raised.
        raised_.wait(guard, [this] { return !raising_; });
        pendingRunCount_ = 0;
        runActive_ = false;
        runQueue_.clear();
        tasks = tasks_->ExtractAll();
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

bool TCustomTranscoder::CodecLibraryFilesPresent(const std::string& folder, bool versionedNames)
{
    return clipmora::CodecLibraryFilesPresent(folder, versionedNames);
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
    return tasks_->Count();
}

TFFmpeg* TCustomTranscoder::Task(int index) const
{
    std::lock_guard guard(lock_);
    return tasks_->At(index);
}

int TCustomTranscoder::ThreadCount() const
{
    std::lock_guard guard(lock_);
    return threadCount_;
}

void TCustomTranscoder::DetachEvents()
{
    std::unique_lock guard(lock_);
    {
        std::lock_guard hooks(hookLock_);
        OnBeforeHook = nullptr;
        OnCustomHook = nullptr;
    }
    OnLog = nullptr;
    OnProgress = nullptr;
    OnTerminate = nullptr;
    // A handler running on another thread finishes before the caller goes on
    // to free what the handlers use; one that detaches from inside itself
    // does not wait for itself.
    raised_.wait(guard, [this] {
        return !raising_ || raisingThread_ == std::this_thread::get_id();
    });
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
        task->inputOptions_ = keptRecord(options, fileName);
        if (options)
            ApplyInputRecord(*task, task->inputOptions_);
        task->AddInputFile(fileName);
        connectSlots(*task);
    } catch (const std::exception& e) {
        setLastError(e.what());
        return -1;
    }
    std::lock_guard guard(lock_);
    return tasks_->Add(std::move(task));
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
        task->outputOptions_ = keptRecord(options, fileName);
        if (options)
            applyOutputOptions(*task, task->outputOptions_);
        task->CreateOutputFile(fileName);
        return true;
    } catch (const std::exception& e) {
        setLastError(e.what());
        return false;
    }
}

// ---- Removing tasks ----------------------------------------------------------------

bool TCustomTranscoder::atSafePointLocked() const
{
    const std::thread::id self = std::this_thread::get_id();
    return self == ownerThread_ && raisingThread_ != self && !runningInline_;
}

bool TCustomTranscoder::atSafePoint() const
{
    std::lock_guard guard(lock_);
    return atSafePointLocked();
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
        std::lock_guard guard(lock_);
        if (runActive_)
            stopLocked();
        for (const auto& task : tasks_->Items())
            tasks.push_back(task.get());
    }
    // Only the owner frees tasks, so the pointers stay valid even if a handler
    // detaches the tasks meanwhile.
    for (TFFmpeg* task : tasks)
        task->joinThreads();
    // What they queued last may still be being raised by another thread.
    std::unique_lock guard(lock_);
    raised_.wait(guard, [this] { return !raising_; });
}

void TCustomTranscoder::DeleteTask(int index)
{
    TFFmpeg* task = nullptr;
    bool runActive = false;
    {
        std::lock_guard guard(lock_);
        task = tasks_->At(index);
        if (!task)
            return;
        if (!atSafePointLocked()) {
            // Inside a handler or on a task thread the task may be the
            // caller's own: detach it now, free it on the owner's thread later.
            if (runActive_)
                stopLocked();
            retired_.push_back(tasks_->Extract(task));
            return;
        }
        runActive = runActive_;
    }
    freeRetired();
    if (runActive)
        windDownRun();
    else
        task->joinThreads();
    std::unique_ptr<TFFmpeg> owned;
    {
        std::lock_guard guard(lock_);
        owned = tasks_->Extract(task);
    }
    owned.reset();
}

void TCustomTranscoder::ClearTaskList()
{
    {
        std::lock_guard guard(lock_);
        if (!atSafePointLocked()) {
            if (runActive_)
                stopLocked();
            for (auto& task : tasks_->ExtractAll())
                retired_.push_back(std::move(task));
            lastError_.clear();
            threadCount_ = 0;
            return;
        }
    }
    freeRetired();
    windDownRun();
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        std::lock_guard guard(lock_);
        tasks = tasks_->ExtractAll();
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
    std::lock_guard guard(lock_);
    if (runActive_ || destroying_)
        return;
    ClearLogBuffers();
    runQueue_.clear();
    for (const auto& task : tasks_->Items()) {
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
        // Its start check fails and reports at once, which needs the component
        // lock held here, and frees the task's inputs under the codec lock,
        // which must not be taken under ours: a thread of its own does it.
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
        std::lock_guard guard(lock_);
        if (destroying_)
            return;
        for (const auto& item : tasks_->Items())
            if (item->serial_ == serial)
                task = item.get();
        // A stop in the meantime has handed the task to a termination thread.
        if (!task || task->claimed_ || task->Running() || task->Terminated())
            return;
        prepareStartLocked(task);
        task->taskThreadId_ = std::this_thread::get_id();
        runningInline_ = true;
    }
    task->StartTask(false, ThreadPriority());
    std::lock_guard guard(lock_);
    runningInline_ = false;
}

void TCustomTranscoder::stopLocked()
{
    pendingRunCount_ = 0;
    for (const auto& task : tasks_->Items()) {
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
    std::lock_guard guard(lock_);
    if (!destroying_)
        stopLocked();
}

bool TCustomTranscoder::finishRunIfDoneLocked()
{
    if (!runActive_ || pendingRunCount_ > 0 || terminatedCount_ < runTaskCount_)
        return false;
    runActive_ = false;
    runQueue_.clear();
    ClearLogBuffers();
    return queueLocked(TerminateReport{-1, true, false, std::string()});
}

// ---- Reports -----------------------------------------------------------------------------

bool TCustomTranscoder::queueLocked(Report report)
{
    if (destroying_)
        return false;
    if (raisingHandler_ && raisingThread_ == std::this_thread::get_id()) {
        // A handler's own reports (a line it logs) follow the report that
        // caused them, ahead of what other threads queued meanwhile: a line
        // logged while handling a task's end comes before the run's end.
        reports_.insert(reports_.begin() + static_cast<std::ptrdiff_t>(handlerReports_++),
                        std::move(report));
        return false;
    }
    reports_.push_back(std::move(report));
    if (raising_)
        return false;
    raising_ = true;
    raisingThread_ = std::this_thread::get_id();
    return true;
}

void TCustomTranscoder::raiseQueued()
{
    std::unique_lock guard(lock_);
    // The role is given up however the loop ends, also when a handler throws.
    auto giveUpRole = [&] {
        if (!guard.owns_lock())
            guard.lock();
        raisingHandler_ = false;
        raising_ = false;
        raisingThread_ = std::thread::id();
        raised_.notify_all();
    };
    try {
        while (!reports_.empty() && !destroying_) {
            const Report report = std::move(reports_.front());
            reports_.pop_front();
            raisingHandler_ = true;
            handlerReports_ = 0;
            guard.unlock();
            raise(report);
            guard.lock();
            raisingHandler_ = false;
        }
    } catch (...) {
        giveUpRole();
        throw;
    }
    giveUpRole();
}

void TCustomTranscoder::raise(const Report& report)
{
    // The handlers are read under the lock, since DetachEvents may clear them
    // meanwhile, and called without it.
    auto handler = [this](const auto& event) {
        std::lock_guard guard(lock_);
        return event;
    };
    std::visit(Overloaded{
                   [&](const LogReport& r) {
                       if (const TLogEvent onLog = handler(OnLog))
                           onLog(r.index, r.level, r.text);
                   },
                   [&](const ProgressReport& r) {
                       const TProgressInfo& p = r.progress;
                       if (const TProgressEvent onProgress = handler(OnProgress))
                           onProgress(r.index, p.FrameNumber, p.FPS, p.CurrentDurationMs,
                                      p.Quality, p.BitRate, p.CurrentSize,
                                      p.TotalOutputDurationMs);
                   },
                   [&](const TerminateReport& r) {
                       if (const TTerminateEvent onTerminate = handler(OnTerminate))
                           onTerminate(r.index, r.finished, r.exception, r.message);
                   },
                   [&](const StartNextTask&) {
                       std::lock_guard guard(lock_);
                       if (!destroying_)
                           startOneLocked();
                   },
               },
               report);
}

void TCustomTranscoder::DoBeforeHook(TFFmpeg* task, int64_t pts, THookAction& action)
{
    TBeforeHookEvent handler;
    {
        std::lock_guard guard(hookLock_);
        handler = OnBeforeHook;
    }
    if (handler)
        handler(task ? task->TaskIndex() : -1, pts, action);
}

void TCustomTranscoder::DoCustomHook(TFFmpeg* task, THookBitmap& bitmap, int frameNumber,
                                     int64_t pts, bool& update, bool& stopHook)
{
    TCustomHookEvent handler;
    {
        std::lock_guard guard(hookLock_);
        handler = OnCustomHook;
    }
    if (handler)
        handler(task ? task->TaskIndex() : -1, bitmap, frameNumber, pts, update, stopHook);
}

void TCustomTranscoder::DoLog(TFFmpeg* task, int level, const std::string& text)
{
    std::unique_lock guard(lock_);
    if (!OnLog || !queueLocked(LogReport{task ? task->TaskIndex() : -1, toLogLevel(level), text}))
        return;
    guard.unlock();
    raiseQueued();
}

void TCustomTranscoder::DoProgress(TFFmpeg* task, const TProgressInfo& progress)
{
    std::unique_lock guard(lock_);
    if (!OnProgress || !queueLocked(ProgressReport{task ? task->TaskIndex() : -1, progress}))
        return;
    guard.unlock();
    raiseQueued();
}

void TCustomTranscoder::DoTerminate(TFFmpeg* task)
{
    std::unique_lock guard(lock_);
    if (destroying_)
        return;
    bool mustRaise = false;
    if (task) {
        mustRaise = queueLocked(TerminateReport{task->TaskIndex(), task->Finished(),
                                                task->ExceptionRaised(), task->ExceptionMessage()});
        // Thread ids are reused; an ended task must not collect later lines.
        task->taskThreadId_ = std::thread::id();
        if (task->inRun_) {
            ++terminatedCount_;
            if (pendingRunCount_ > 0)
                queueLocked(StartNextTask{});
        }
    }
    if (!task || task->inRun_)
        mustRaise = finishRunIfDoneLocked() || mustRaise;
    guard.unlock();
    if (mustRaise)
        raiseQueued();
}

bool TCustomTranscoder::queueRoutedLine(std::thread::id thread, int level,
                                        const std::string& line)
{
    std::lock_guard guard(lock_);
    if (!OnLog)
        return false;
    int index = -1;
    for (const auto& task : tasks_->Items()) {
        if (task->TaskThreadId() == thread) {
            index = task->TaskIndex();
            break;
        }
    }
    return queueLocked(LogReport{index, toLogLevel(level), line});
}

}  // namespace clipmora
