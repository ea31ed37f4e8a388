// The component's lock and the guard its event dispatch takes.
#include "engine/transcoder.h"

namespace clipmora {

void TCustomTranscoder::ComponentLock::lock()
{
    mutex_.lock();
    if (depth_++ == 0)
        owner_.store(std::this_thread::get_id());
}

void TCustomTranscoder::ComponentLock::unlock()
{
    if (--depth_ == 0)
        owner_.store(std::thread::id());
    mutex_.unlock();
}

TCustomTranscoder::DispatchGuard::DispatchGuard(TCustomTranscoder& component)
    : component_(component)
{
    ComponentRegistry().Lock().lock();
    component_.lock_.lock();
}

TCustomTranscoder::DispatchGuard::~DispatchGuard()
{
    component_.lock_.unlock();
    ComponentRegistry().Lock().unlock();
}

}  // namespace clipmora
