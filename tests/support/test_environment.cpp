// Library binding, temporary folders and the per-process media cache.
#include "tests/support/test_environment.h"

#include "engine/library_binding.h"
#include "tests/support/media_generator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <unistd.h>

namespace clipmora::testing {
namespace {

// Every test process gets a runtime folder of its own, so that the split's
// private work folder (and the trim scripts in it) is never shared between
// tests that run at the same time. Child processes inherit it.
struct PrivateRuntimeFolder {
    PrivateRuntimeFolder()
    {
        static TempFolder folder;
        setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
    }
};
const PrivateRuntimeFolder gPrivateRuntimeFolder;

}  // namespace

void BindLibrariesForTests()
{
    std::string error;
    ASSERT_TRUE(BindCodecLibraries(CLIPMORA_COMMON_DIR, true, error)) << error;
    // Keep the libraries' own chatter out of the test output.
    SetLibraryLogLevel(0);
}

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "clipmora-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string CachedMedia(const std::string& name, const MediaSpec& spec)
{
    static TempFolder folder;
    static std::map<std::string, std::string> made;
    if (auto found = made.find(name); found != made.end())
        return found->second;
    const std::string path = folder.file(name);
    GenerateMedia(path, spec);
    made.emplace(name, path);
    return path;
}

}  // namespace clipmora::testing
