// The process-wide route of the libraries' log output: the libraries call
// RouteLibraryLog on any thread; it keeps each thread's unfinished line, cuts
// complete lines, and hands each to every component, which gives it to the
// task whose thread wrote it.
#include "engine/transcoder.h"

#include "engine/error_text.h"
#include "engine/library_binding.h"

#include <algorithm>
#include <cstdio>

namespace clipmora {
namespace {

// A line that never ends is handed on once it reaches this length, so a
// thread's pending text cannot grow without bound.
constexpr std::size_t kMaxPendingText = 16384;

// "[item name @ XXXXXXXX]": the address is the low 32 bits of the class record's.
std::string classPrefix(void* context, const AVClass* record)
{
    const char* name = record->item_name ? record->item_name(context) : record->class_name;
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, " @ %08X]",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(record) & 0xFFFFFFFFu));
    return std::string("[") + (name ? name : "") + prefix;
}

}  // namespace

std::string& TLogList::PendingText(std::thread::id thread)
{
    for (TLogItem& item : items_)
        if (item.ThreadId == thread)
            return item.Text;
    items_.push_back({thread, {}});
    return items_.back().Text;
}

TComponentRegistry& ComponentRegistry()
{
    static auto* registry = new TComponentRegistry;
    return *registry;
}

TLogList& LogLineBuffers()
{
    static auto* buffers = new TLogList;
    return *buffers;
}

void TComponentRegistry::Add(TCustomTranscoder* component)
{
    std::lock_guard guard(lock_);
    components_.push_back(component);
}

void TComponentRegistry::Remove(TCustomTranscoder* component)
{
    std::lock_guard guard(lock_);
    std::erase(components_, component);
    if (components_.empty() && lib.av_log_set_callback && lib.av_log_default_callback)
        lib.av_log_set_callback(lib.av_log_default_callback);
}

void RouteLibraryLog(void* context, int level, const char* format, va_list args)
{
    // The libraries may add colour bits above the level.
    if (level >= 0)
        level &= 0xFF;
    const int engineLevel = FromLibraryLogLevel(level);
    if (engineLevel > LogThreshold() || !format)
        return;
    // Nothing may unwind into the libraries' C code.
    try {
        TComponentRegistry& registry = ComponentRegistry();
        std::lock_guard guard(registry.Lock());
        const std::thread::id thread = std::this_thread::get_id();
        std::string& pending = LogLineBuffers().PendingText(thread);

        const AVClass* record = context ? *static_cast<const AVClass* const*>(context) : nullptr;
        std::string text = record && pending.empty() ? classPrefix(context, record)
                                                     : std::move(pending);
        text += FormatText(format, args);

        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end = text.find('\n'); end != std::string::npos;
             start = end + 1, end = text.find('\n', start)) {
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(std::move(line));
        }
        text.erase(0, start);
        if (text.size() >= kMaxPendingText)
            lines.push_back(std::exchange(text, {}));
        // Stored before the lines go out: a handler that logs on this thread
        // continues from here.
        pending = std::move(text);

        for (const std::string& line : lines) {
            // A handler may add or remove a component meanwhile: walk a copy
            // and skip the ones that have left.
            const std::vector<TCustomTranscoder*> components = registry.Components();
            for (TCustomTranscoder* component : components) {
                const auto& live = registry.Components();
                if (std::find(live.begin(), live.end(), component) != live.end())
                    component->routeLine(thread, engineLevel, line);
            }
        }
    } catch (...) {
    }
}

void TCustomTranscoder::routeLine(std::thread::id thread, int level, const std::string& line)
{
    DispatchGuard guard(*this);
    if (destroying_)
        return;
    TFFmpeg* owner = nullptr;
    for (const auto& task : tasks_.Items()) {
        if (task->TaskThreadId() == thread) {
            owner = task.get();
            break;
        }
    }
    DoLog(owner, level, line);
}

}  // namespace clipmora
