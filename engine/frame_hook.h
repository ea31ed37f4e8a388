// Frame hook modules: plug-in libraries that the "vhook" option adds to a
// task's hook chain. A module file is loaded once per process and stays
// loaded; each use by a task is one node with its own context.
//
// Threads: modules are added while a task is configured (main thread); the
// chain is then used by the task's worker and released by its owner.
#pragma once

#include "engine/vhook_module.h"

#include <string>
#include <vector>

namespace clipmora {

struct FrameHookNode {
    VHookConfigureFn configure = nullptr;
    VHookProcessFn process = nullptr;
    VHookReleaseFn release = nullptr;
    void* context = nullptr;
};

// A task's hook chain. Release() (also run by the destructor) calls every
// node's Release with its context, in order, and empties the chain.
class FrameHookChain {
public:
    FrameHookChain() = default;
    FrameHookChain(const FrameHookChain&) = delete;
    FrameHookChain& operator=(const FrameHookChain&) = delete;
    ~FrameHookChain() { Release(); }

    void Append(const FrameHookNode& node) { nodes_.push_back(node); }
    void Release();
    bool empty() const { return nodes_.empty(); }
    const std::vector<FrameHookNode>& nodes() const { return nodes_; }

private:
    std::vector<FrameHookNode> nodes_;
};

// Splits a "vhook" argument into words: at "|" when the text contains one,
// otherwise at blanks; runs of separators give no empty words; at most 254.
std::vector<std::string> SplitFrameHookWords(const std::string& argument);

// Loads the module named by words[0] (once per process) and appends a
// configured node to `chain`. Returns 0 on success, -2 for no words or a
// missing entry point, -1 when the module cannot be loaded, -22 when its
// Configure fails; the reason is logged at the error level.
int AddFrameHook(FrameHookChain& chain, const std::vector<std::string>& words);

// The "vhook" option: splits `argument`, adds the module, and on any failure
// throws FFMpegException("Failed to add video hook function: " + argument).
void AddFrameHookFromOption(FrameHookChain& chain, const std::string& argument);

}  // namespace clipmora
