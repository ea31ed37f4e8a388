// Taking the name of an output file without racing other writers: a name is
// taken by creating the file exclusively, so two jobs that start at once
// never write into one file, and a writer knows which files are its own to
// remove again when it cannot complete them.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace clipmora {

enum class OutputClaim {
    Created,   // nothing had the name; the file now exists, empty, made here
    Reserved,  // an empty regular file had it: a name taken for this output before
    Existing,  // a file with content, or a device, pipe or folder has the name
    Failed,    // nothing has the name and it cannot be created (errno tells why)
};

// Creates `path` as an empty file unless something already has that name;
// no other process can create it in between.
OutputClaim ClaimOutputFile(const std::string& path);

// True when the claim leaves the file to its writer alone: made by it, or
// reserved for it.
inline bool OwnsClaimedFile(OutputClaim claim)
{
    return claim == OutputClaim::Created || claim == OutputClaim::Reserved;
}

// True when the output goes to `name` in the file system: a plain path, not
// another protocol's address ("pipe:1") nor a "file:" address. Needs bound
// libraries.
bool NamesLocalFile(const std::string& name);

// The address under which the codec libraries open the local file `path`
// as that file: `path` itself when they read it so, else "file:" + path
// (a name such as "cache:x", "file:a.mp4" or "12:30.mp4" that they would
// take for another protocol's address). Needs bound libraries.
std::string LocalFileAddress(const std::string& path);

// The first of base + extension, base-1 + extension, base-2 + extension ...
// (base: `path` without its extension) for which `take` returns true; `take`
// is asked for the names in that order.
template <typename Take>
std::string FirstNumberedName(const std::string& path, const std::string& extension, Take take)
{
    const std::filesystem::path named(path);
    const std::string base = (named.parent_path() / named.stem()).string();
    std::string candidate = base + extension;
    for (int n = 1; !take(candidate); ++n)
        candidate = base + "-" + std::to_string(n) + extension;
    return candidate;
}

// The first numbered name (as above) that nothing has and `skip` does not
// refuse, created empty so that no other writer can take it. Throws
// std::system_error when a name can be neither created nor found taken (a
// missing folder, no permission).
std::string CreateUniqueFile(const std::string& path, const std::string& extension,
                             const std::function<bool(const std::string&)>& skip = {});

// Removes `path` when it is an empty regular file: an output name taken for a
// job that never wrote into it.
void ReleaseUnwrittenFile(const std::string& path);

// An output written under a hidden temporary name in its folder and moved
// onto its final name only when the run succeeded: a file it replaces is
// replaced whole or not at all, and a run that fails or stops leaves
// nothing behind. Outputs that are not files of their own (a device, a
// FIFO, another protocol's address) are written directly. Whatever was not
// committed is removed when the object goes.
class StagedOutput {
public:
    enum class Claim {
        Replace,  // replaces a regular file of the final name
        Taken,    // the final name is an empty file made for this output (a claim)
        Fresh,    // the final name must stay free of other files (refused otherwise)
    };

    // A name that Fresh finds taken by a regular file.
    struct NameTaken : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    StagedOutput() = default;
    // Stages the output for the local file `finalName` (its name as it is,
    // never read as an address). A device, FIFO or folder of that name is
    // written directly, except with Taken. Throws NameTaken, or
    // std::system_error naming the file when the temporary file cannot be
    // made.
    StagedOutput(const std::string& finalName, Claim claim);
    // An output written directly to `address` (a device, another protocol).
    static StagedOutput Direct(const std::string& address);
    ~StagedOutput();
    StagedOutput(StagedOutput&& other) noexcept;
    StagedOutput& operator=(StagedOutput&& other) noexcept;
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    // The name the writer writes to, as the codec libraries read it.
    const std::string& WriteAddress() const { return writeAddress_; }
    const std::string& FinalName() const { return final_; }
    // Whether a temporary file waits to be committed or discarded.
    bool Staged() const { return !temporary_.empty(); }
    // Whether the output is written to its final name itself.
    bool WrittenDirectly() const { return writtenPath_.empty(); }

    // Moves the written file onto its final name and checks it is there.
    // The reason, naming the final file, when it is not (the folder was
    // removed or moved, the move failed); the temporary file is gone then.
    std::optional<std::string> Commit();
    // Removes the temporary file and a claimed empty final name.
    void Discard();
    // `text` with the temporary name replaced by the final one, for
    // messages about the output.
    std::string NamedAsFinal(std::string text) const;

private:
    std::string final_;
    std::string folder_;         // the final name's folder, as given
    std::string temporary_;      // its name in the folder; empty when written directly
    std::string writtenPath_;    // the folder and that name
    std::string writeAddress_;
    int folderHandle_ = -1;      // the folder as it was when the output began
    bool claimedFinal_ = false;  // the final name is an empty file made for this output
    bool committed_ = false;
};

}  // namespace clipmora
