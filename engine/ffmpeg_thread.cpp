// Suspended-start threads with a niceness that follows the priority.
#include "engine/ffmpeg_thread.h"

#include <sys/resource.h>
#include <unistd.h>

namespace clipmora {
namespace {

// Niceness per priority; normal keeps the process's own.
constexpr int kNiceness[] = {19, 10, 5, 0};

}  // namespace

TFFmpegThread::TFFmpegThread(std::function<void()> body, TConvertPriority priority)
    : body_(std::move(body)), thread_([this, priority] { main(priority); })
{
}

TFFmpegThread::~TFFmpegThread()
{
    {
        std::lock_guard guard(lock_);
        if (!resumed_)
            cancelled_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();  // a body that destroys its own thread object
        else
            thread_.join();
    }
}

void TFFmpegThread::main(TConvertPriority priority)
{
    {
        std::unique_lock guard(lock_);
        wake_.wait(guard, [this] { return resumed_ || cancelled_; });
        if (cancelled_)
            return;
    }
    const int niceness = kNiceness[priority <= tpNormal ? priority : tpNormal];
    if (niceness > 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), niceness);
    body_();
}

void TFFmpegThread::Resume()
{
    {
        std::lock_guard guard(lock_);
        resumed_ = true;
    }
    wake_.notify_all();
}

bool TFFmpegThread::Suspended() const
{
    std::lock_guard guard(lock_);
    return !resumed_ && !cancelled_;
}

void TFFmpegThread::Join()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

}  // namespace clipmora
