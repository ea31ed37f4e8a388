// The process-wide route of the libraries' log output: the libraries call
// RouteLibraryLog on any thread; it keeps each thread's unfinished line, cuts
// complete lines, and hands each to every component, which gives it to the
// task whose thread wrote it.
#include "engine/transcoder_tasks.h"

#include "engine/error_text.h"
#include "engine/library_binding.h"

#include <algorithm>
#include <atomic>
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

// A thread's unfinished line, and the clearing it belongs to: text from
// before the latest ClearLogBuffers is dropped when the thread next logs.
struct PendingLine {
    uint64_t generation = 0;
    std::string text;
};

std::atomic<uint64_t> gLogGeneration{0};
thread_local PendingLine tPendingLine;

std::string& pendingText()
{
    const uint64_t generation = gLogGeneration.load();
    if (tPendingLine.generation != generation) {
        tPendingLine.generation = generation;
        tPendingLine.text.clear();
    }
    return tPendingLine.text;
}

// Cuts `text` into its complete lines (without "\n" or "\r\n") and leaves
// the unfinished rest in it; a rest as long as kMaxPendingText counts as a line.
std::vector<std::string> takeLines(std::string& text)
{
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
    return lines;
}

}  // namespace

void ClearLogBuffers() { ++gLogGeneration; }

TComponentRegistry& ComponentRegistry()
{
    static auto* registry = new TComponentRegistry;
    return *registry;
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
        std::string& pending = pendingText();
        const AVClass* record = context ? *static_cast<const AVClass* const*>(context) : nullptr;
        std::string text = record && pending.empty() ? classPrefix(context, record)
                                                     : std::move(pending);
        text += FormatText(format, args);
        const std::vector<std::string> lines = takeLines(text);
        // Stored before the lines go out: a handler that logs on this thread
        // continues from here.
        pending = std::move(text);
        if (lines.empty())
            return;

        // Queued to every component under the registry lock, so none can go
        // meanwhile; raised after it, by the components this thread raises for
        // (their destructors wait for that).
        const std::thread::id thread = std::this_thread::get_id();
        std::vector<TCustomTranscoder*> toRaise;
        {
            TComponentRegistry& registry = ComponentRegistry();
            std::lock_guard guard(registry.Lock());
            for (TCustomTranscoder* component : registry.Components()) {
                bool mustRaise = false;
                for (const std::string& line : lines)
                    mustRaise = component->queueRoutedLine(thread, engineLevel, line) || mustRaise;
                if (mustRaise)
                    toRaise.push_back(component);
            }
        }
        for (TCustomTranscoder* component : toRaise)
            component->raiseQueued();
    } catch (...) {
    }
}

}  // namespace clipmora
