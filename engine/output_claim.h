// Taking the name of an output file without racing other writers: a name is
// taken by creating the file exclusively, so two jobs that start at once
// never write into one file, and a writer knows which files are its own to
// remove again when it cannot complete them.
#pragma once

#include <filesystem>
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

// The first numbered name (as above) that nothing has, created empty so that
// no other writer can take it. Throws std::system_error when a name can be
// neither created nor found taken (a missing folder, no permission).
std::string CreateUniqueFile(const std::string& path, const std::string& extension);

// Removes `path` when it is an empty regular file: an output name taken for a
// job that never wrote into it.
void ReleaseUnwrittenFile(const std::string& path);

}  // namespace clipmora
