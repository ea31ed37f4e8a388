// The component's tasks and the list that owns them.
#include "engine/transcoder_tasks.h"

#include <algorithm>

namespace clipmora {

TFFmpeg::~TFFmpeg()
{
    RequestStop();
    joinThreads();
}

void TFFmpeg::joinThreads()
{
    if (startFailure_.joinable())
        startFailure_.join();
    WaitForThread();
}

TFFmpeg* TFFmpegList::At(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return items_[static_cast<std::size_t>(index)].get();
}

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task)
{
    const int index = Count();
    task->taskIndex_ = index;
    items_.push_back(std::move(task));
    return index;
}

std::unique_ptr<TFFmpeg> TFFmpegList::Extract(TFFmpeg* task)
{
    const auto found = std::find_if(items_.begin(), items_.end(),
                                    [task](const auto& item) { return item.get() == task; });
    if (found == items_.end())
        return nullptr;
    std::unique_ptr<TFFmpeg> owned = std::move(*found);
    items_.erase(found);
    for (std::size_t i = 0; i < items_.size(); ++i)
        items_[i]->taskIndex_ = static_cast<int>(i);
    return owned;
}

std::vector<std::unique_ptr<TFFmpeg>> TFFmpegList::ExtractAll()
{
    return std::exchange(items_, {});
}

}  // namespace clipmora
