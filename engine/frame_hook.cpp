// Loading frame hook modules and keeping a task's chain of configured hooks.
#include "engine/frame_hook.h"

#include "engine/ffmpeg_exception.h"
#include "engine/library_binding.h"

#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>

namespace clipmora {
namespace {

constexpr std::size_t kMaxHookWords = 254;

// Process-wide: module file -> handle. Modules are never unloaded, since a
// running task may still call into them.
std::mutex gModulesLock;  // protects gModules
std::map<std::string, void*> gModules;

void* loadModule(const std::string& file)
{
    std::lock_guard guard(gModulesLock);
    if (auto found = gModules.find(file); found != gModules.end())
        return found->second;
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        EngineLog(nullptr, kLogError, "%s\n", text ? text : "cannot load module");
        return nullptr;
    }
    gModules.emplace(file, handle);
    return handle;
}

}  // namespace

void FrameHookChain::Release()
{
    for (const FrameHookNode& node : nodes_)
        if (node.release)
            node.release(node.context);
    nodes_.clear();
}

std::vector<std::string> SplitFrameHookWords(const std::string& argument)
{
    const char separator = argument.find('|') != std::string::npos ? '|' : ' ';
    std::vector<std::string> words;
    std::size_t pos = 0;
    while (pos < argument.size() && words.size() < kMaxHookWords) {
        const std::size_t start = argument.find_first_not_of(separator, pos);
        if (start == std::string::npos)
            break;
        const std::size_t end = argument.find(separator, start);
        words.push_back(argument.substr(start, end == std::string::npos ? std::string::npos
                                                                        : end - start));
        pos = end == std::string::npos ? argument.size() : end;
    }
    return words;
}

int AddFrameHook(FrameHookChain& chain, const std::vector<std::string>& words)
{
    if (words.empty())
        return -2;
    const std::string& file = words.front();
    if (const auto slash = file.rfind('/'); slash != std::string::npos)
        AddFolderToSearchPath(file.substr(0, slash));

    void* module = loadModule(file);
    if (!module)
        return -1;

    FrameHookNode node;
    node.configure = reinterpret_cast<VHookConfigureFn>(dlsym(module, "Configure"));
    node.process = reinterpret_cast<VHookProcessFn>(dlsym(module, "Process"));
    node.release = reinterpret_cast<VHookReleaseFn>(dlsym(module, "Release"));
    if (!node.process) {
        EngineLog(nullptr, kLogError, "Failed to find Process entrypoint in %s\n", file.c_str());
        return -2;
    }
    if (!node.configure && words.size() > 1) {
        EngineLog(nullptr, kLogError, "Failed to find Configure entrypoint in %s\n", file.c_str());
        return -2;
    }
    if (node.configure) {
        // Configure receives a writable argument vector, as a C main() would.
        std::vector<std::vector<char>> storage;
        std::vector<char*> argv;
        for (const std::string& word : words) {
            storage.emplace_back(word.begin(), word.end());
            storage.back().push_back('\0');
        }
        for (auto& word : storage)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        if (node.configure(&node.context, static_cast<int>(words.size()), argv.data()) != 0) {
            EngineLog(nullptr, kLogError, "Failed to Configure %s\n", file.c_str());
            return -22;
        }
    }
    chain.Append(node);
    return 0;
}

void AddFrameHookFromOption(FrameHookChain& chain, const std::string& argument)
{
    if (AddFrameHook(chain, SplitFrameHookWords(argument)) != 0)
        throw FFMpegException("Failed to add video hook function: " + argument);
}

}  // namespace clipmora
