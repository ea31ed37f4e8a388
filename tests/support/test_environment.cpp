// Library binding, temporary folders and the media cache that the suites share.
#include "tests/support/test_environment.h"

#include "engine/library_binding.h"
#include "tests/support/media_generator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include <dlfcn.h>
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

// What a clip is: every field of its spec and the codec libraries' version
// that encodes it. Raise kClipRevision when the generator starts drawing or
// sounding clips differently, so clips made before are not taken for new ones.
constexpr int kClipRevision = 1;

std::string clipIdentity(const MediaSpec& spec)
{
    std::ostringstream identity;
    identity.precision(17);
    identity << kClipRevision << '|' << lib.avcodec_version() << '|' << spec.container << '|'
             << spec.videoCodec << '|' << spec.audioCodec << '|' << spec.width << 'x'
             << spec.height << '|' << spec.frameRateNum << '/' << spec.frameRateDen << '|'
             << spec.seconds << '|' << spec.sampleRate << '|' << spec.channels << '|'
             << spec.audioFirst << '|' << spec.startTimeUs << '|' << spec.audioDelayUs << '|'
             << spec.toneAmplitude << '|' << spec.bFrames << '|' << spec.variableFrameRate << '|'
             << spec.videoBitRate << '|' << spec.audioBitRate << '|' << spec.dropEvery;
    // Clips with the usual key frame interval, picture format, preset and
    // groups keep the identity they had before these could be chosen.
    if (spec.keyFrameInterval != MediaSpec{}.keyFrameInterval)
        identity << "|key frames every " << spec.keyFrameInterval;
    if (spec.pixelFormat != MediaSpec{}.pixelFormat)
        identity << "|pictures in " << spec.pixelFormat;
    if (!spec.encoderPreset.empty())
        identity << "|preset " << spec.encoderPreset;
    if (spec.openGop)
        identity << "|open groups";
    for (const auto& [from, to] : spec.toneSpans)
        identity << "|tone " << from << '-' << to;
    return identity.str();
}

// "clip.mp4" -> "<hash of the identity>/clip.mp4": the file keeps the name
// the test gave it, since programs name their outputs after their sources.
std::filesystem::path cachedPath(const std::string& name, const MediaSpec& spec)
{
    uint64_t hash = 14695981039346656037ull;  // 64-bit FNV-1a
    for (const unsigned char c : clipIdentity(spec)) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return std::filesystem::path(hex) / name;
}

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

std::size_t FileChecksum(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return std::hash<std::string>{}(bytes);
}

std::string CachedMedia(const std::string& name, const MediaSpec& spec)
{
    const std::filesystem::path path = CLIPMORA_TEST_MEDIA_DIR / cachedPath(name, spec);
    if (std::filesystem::exists(path))
        return path.string();
    const std::filesystem::path folder = path.parent_path();
    std::filesystem::create_directories(folder);
    // Written under a name of this process's own and renamed into place, so a
    // suite running beside this one sees either no file or a whole one. Two
    // processes making the same clip both rename an identical file.
    const std::filesystem::path part =
        folder / (path.stem().string() + ".part-" + std::to_string(getpid()) +
                  path.extension().string());
    GenerateMedia(part.string(), spec);
    std::filesystem::rename(part, path);
    return path.string();
}

namespace {

std::vector<std::function<void()>>& programEndSteps()
{
    static std::vector<std::function<void()>> steps;
    return steps;
}

using LibraryStep = void (*)();

// A function of a library the program may have loaded; null when it has not.
// Looked up at run time: most test programs do not link these libraries.
template <typename Function>
Function loadedFunction(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

// Ends the playback framework's pooled threads when the program has started
// the framework, through the clean-up it has for test suites: its tasks'
// threads go back to the general-purpose thread pools.
void endPlaybackThreads()
{
    const auto initialised = loadedFunction<int (*)()>("gst_is_initialized");
    const auto cleanUp = loadedFunction<LibraryStep>("gst_task_cleanup_all");
    if (initialised && cleanUp && initialised())
        cleanUp();
}

// The names of this process's threads other than the calling one.
std::vector<std::string> otherThreads()
{
    std::vector<std::string> names;
    const std::string self = std::to_string(gettid());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        if (entry.path().filename() == self)
            continue;
        std::string name;
        std::getline(std::ifstream(entry.path() / "comm"), name);
        names.push_back(name.empty() ? entry.path().filename().string() : name);
    }
    return names;
}

}  // namespace

void AtTestProgramEnd(std::function<void()> step) { programEndSteps().push_back(std::move(step)); }

bool EndOtherThreads()
{
    for (const std::function<void()>& step : programEndSteps())
        step();
    endPlaybackThreads();
    // Idle threads of the general-purpose pools end when told, instead of
    // after their idle time; a thread that reaches a pool's idle queue after
    // one telling hears the next. A thread that was told is gone within
    // moments.
    const auto stopIdle = loadedFunction<LibraryStep>("g_thread_pool_stop_unused_threads");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<std::string> left = otherThreads();
    while (!left.empty() && std::chrono::steady_clock::now() < deadline) {
        if (stopIdle)
            stopIdle();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        left = otherThreads();
    }
    if (left.empty())
        return true;
    std::string names;
    for (const std::string& name : left)
        names += (names.empty() ? "" : ", ") + name;
    std::fprintf(stderr, "threads still running at the end of the tests: %s\n", names.c_str());
    return false;
}

}  // namespace clipmora::testing
