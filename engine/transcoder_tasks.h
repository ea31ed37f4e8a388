// The component's tasks and the process-wide log routing behind it. The
// component's callers see a task only as a pointer (transcoder.h); this is
// the engine's own view of one: the engine state plus its place in the list.
#pragma once

#include "engine/ffmpeg.h"
#include "engine/transcoder.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace clipmora {

class TFFmpegList;

// One task of the component: the engine state plus its place in the list, the
// thread that runs it and the option records it was configured from.
class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg() = default;
    // Stops and joins the task's thread before this class's members go, since
    // the thread reports through them to the component.
    ~TFFmpeg() override;

    // Position in the component's list; -1 until the task enters it.
    int TaskIndex() const { return taskIndex_.load(); }
    // The thread running the task (default id when none or when it has ended).
    std::thread::id TaskThreadId() const { return taskThreadId_.load(); }

    // The records the task was configured from (reset when none were given).
    const TInputOptions& InputOptions() const { return inputOptions_; }
    const TOutputOptions& OutputOptions() const { return outputOptions_; }

private:
    friend class TCustomTranscoder;
    friend class TFFmpegList;

    // Written under the component lock; read on any thread (the accessors
    // above take no lock, hence atomics).
    std::atomic<int> taskIndex_{-1};
    std::atomic<std::thread::id> taskThreadId_{};
    // Joins the task's thread and the start-failure reporter.
    void joinThreads();

    // Owner thread only.
    TInputOptions inputOptions_;
    TOutputOptions outputOptions_;
    uint64_t serial_ = 0;  // identifies the task to a scheduled start
    // Guarded by the component lock.
    bool inRun_ = false;    // counted by the current run
    bool claimed_ = false;  // started, or handed to a termination thread
    // Reports a start that fails its checks (made under the component lock,
    // joined by the owner).
    std::thread startFailure_;
};

// Owns the component's tasks in list order.
class TFFmpegList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    TFFmpeg* At(int index) const;  // null outside the list
    int Add(std::unique_ptr<TFFmpeg> task);
    // Takes the task out; the ones behind it move up and are renumbered.
    std::unique_ptr<TFFmpeg> Extract(TFFmpeg* task);
    std::vector<std::unique_ptr<TFFmpeg>> ExtractAll();
    const std::vector<std::unique_ptr<TFFmpeg>>& Items() const { return items_; }

private:
    std::vector<std::unique_ptr<TFFmpeg>> items_;
};

// Every live component, for the log router.
class TComponentRegistry {
public:
    std::mutex& Lock() { return lock_; }
    void Add(TCustomTranscoder* component);
    // Removes it; when none is left the libraries' default log callback is
    // restored, so no library message can reach a destroyed component.
    void Remove(TCustomTranscoder* component);
    // Call with Lock() held.
    const std::vector<TCustomTranscoder*>& Components() const { return components_; }

private:
    std::mutex lock_;
    std::vector<TCustomTranscoder*> components_;  // guarded by lock_
};

// The process-wide registry. It is never destroyed, so a library thread that
// logs while the process exits finds it intact.
TComponentRegistry& ComponentRegistry();

// Forgets the unfinished line of every thread (each thread drops its own text
// the next time it logs). Any thread.
void ClearLogBuffers();

// The libraries' log callback: joins each thread's messages into whole lines
// (a line begins with "[item name @ XXXXXXXX]" when the message has a context)
// and hands every line to every component, attributed to the component's task
// that runs on the calling thread (or to none). Messages above LogThreshold()
// are dropped. Any thread.
void RouteLibraryLog(void* context, int level, const char* format, va_list args);

// "start-end,start-end" in milliseconds into hook time ranges in microseconds:
// pairs with start <= end and end >= 0, sorted by end. Text that is not a
// number reads as -1.
std::vector<std::pair<int64_t, int64_t>> ParseSegmentList(const std::string& text);

}  // namespace clipmora
