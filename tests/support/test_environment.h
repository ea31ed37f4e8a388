// Shared set-up for the test executables.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
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

// A hash of the whole content of the file at `path` (of nothing when it
// cannot be read), to tell whether a file was changed.
std::size_t FileChecksum(const std::string& path);

// A media file made from `spec` and named after `name`, kept in a folder of
// the build tree that every test process shares: a clip is made once, by
// the first process that asks for it, and found again by what it is (its
// spec and the codec libraries' version), not by its name alone.
// Tests read these files; a test that changes one must copy it first.
struct MediaSpec;
std::string CachedMedia(const std::string& name, const MediaSpec& spec);

// Adds a step that the test program takes once every test has run, before
// it waits for its other threads to end (see EndOtherThreads): a library
// that keeps threads parked for later work is told to end them there.
void AtTestProgramEnd(std::function<void()> step);

// Takes the steps given to AtTestProgramEnd, asks the playback framework (when
// the program has started it) to end its pooled threads, and waits until the
// main thread is the only one left. The leak checker that runs at the
// process's end stops every thread; one caught half-way through ending
// itself crashes it. False, after naming them on standard error, when other
// threads are still there after a minute: a wait that only a stuck thread
// reaches, also on a loaded machine.
bool EndOtherThreads();

}  // namespace clipmora::testing
