// Starting, stopping and ending a task, and the run wrapper around the
// conversion.
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"
#include "engine/ffmpeg_thread.h"

#include <algorithm>

namespace clipmora {

void TCustomFFmpeg::SetHookTimeRanges(std::vector<std::pair<int64_t, int64_t>> ranges)
{
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    hookRanges_ = std::move(ranges);
}

TFFmpegThread* TCustomFFmpeg::StartTask(bool threaded, TConvertPriority priority)
{
    if (running_ || terminated_)
        return nullptr;
    const char* missing = outputs_.empty() ? "Must supply at least one output file"
                          : inputs_.empty() ? "Must supply at least one input file"
                                            : nullptr;
    if (missing) {
        FreeRunState();
        if (logSlot_)
            logSlot_(*this, -1, missing);
        exceptionRaised_ = true;
        exceptionMessage_ = missing;
        NotifyTerminated();
        return nullptr;
    }
    running_ = true;
    stopRequested_ = false;
    finished_ = false;
    terminated_ = false;
    if (!threaded) {
        RunTask();
        return nullptr;
    }
    thread_ = std::make_unique<TFFmpegThread>([this] { RunTask(); }, priority);
    return thread_.get();
}

void TCustomFFmpeg::RunTask()
{
    finished_ = false;
    try {
        Run();
    } catch (const std::exception& e) {
        if (logSlot_)
            logSlot_(*this, -1, e.what());
        exceptionRaised_ = true;
        exceptionMessage_ = e.what();
    }
    FreeRunState();
    NotifyTerminated();
}

void TCustomFFmpeg::RequestStop()
{
    stopRequested_ = true;
    if (thread_ && thread_->Suspended())
        thread_->Resume();
}

void TCustomFFmpeg::NotifyTerminated()
{
    running_ = false;
    terminated_ = true;
    if (terminateSlot_)
        terminateSlot_(*this);
}

void TCustomFFmpeg::TerminateWithoutRunning()
{
    if (running_ || terminated_ || thread_)
        return;
    thread_ = std::make_unique<TFFmpegThread>([this] { NotifyTerminated(); }, tpIdle);
    thread_->Resume();
}

void TCustomFFmpeg::WaitForThread()
{
    if (thread_)
        thread_->Join();
}

std::thread::id TCustomFFmpeg::ThreadId() const
{
    return thread_ ? thread_->Id() : std::thread::id();
}

}  // namespace clipmora
