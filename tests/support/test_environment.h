// Shared set-up for the test executables.
#pragma once

#include <filesystem>
#include <string>

namespace clipmora::testing {

// Binds the codec libraries from the build tree's "Common" folder once per
// process; fails the calling test when that is impossible.
void BindLibrariesForTests();

// A fresh private folder, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The media file `name` in a folder shared by the tests of this process,
// generated on first use from `spec` (preset name -> file), so a suite makes
// each clip once.
struct MediaSpec;
std::string CachedMedia(const std::string& name, const MediaSpec& spec);

}  // namespace clipmora::testing
