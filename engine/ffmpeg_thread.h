// TFFmpegThread: a thread that is created suspended and runs one body at a
// chosen priority (never above normal). Its owner resumes it and joins it;
// destroying a thread that was never resumed ends it without running the body.
#pragma once

#include "engine/engine_types.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace clipmora {

class TFFmpegThread {
public:
    TFFmpegThread(std::function<void()> body, TConvertPriority priority);
    ~TFFmpegThread();
    TFFmpegThread(const TFFmpegThread&) = delete;
    TFFmpegThread& operator=(const TFFmpegThread&) = delete;

    void Resume();
    // Waits for the body to end; does nothing when called on the thread itself.
    void Join();
    std::thread::id Id() const { return thread_.get_id(); }
    bool Suspended() const;

private:
    void main(TConvertPriority priority);

    std::function<void()> body_;
    mutable std::mutex lock_;      // protects resumed_, cancelled_
    std::condition_variable wake_;
    bool resumed_ = false;
    bool cancelled_ = false;
    std::thread thread_;           // last: starts after the fields above exist
};

}  // namespace clipmora
