// Loading the codec libraries with dlopen and resolving their entries by name.
#include "engine/library_binding.h"

#include "engine/ffmpeg_exception.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cfenv>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace clipmora {
namespace {

LibraryApi gApi;

struct EntrySlot {
    const char* name;
    std::size_t offset;  // of the function pointer inside LibraryApi
};

#define CLIPMORA_ENTRY_SLOT(name) EntrySlot{#name, offsetof(LibraryApi, name)},
constexpr EntrySlot kCodecEntries[] = {CLIPMORA_AVCODEC_ENTRIES(CLIPMORA_ENTRY_SLOT)};
constexpr EntrySlot kFormatEntries[] = {CLIPMORA_AVFORMAT_ENTRIES(CLIPMORA_ENTRY_SLOT)};
constexpr EntrySlot kUtilityEntries[] = {CLIPMORA_AVUTIL_ENTRIES(CLIPMORA_ENTRY_SLOT)};
constexpr EntrySlot kScalingEntries[] = {CLIPMORA_SWSCALE_ENTRIES(CLIPMORA_ENTRY_SLOT)};
constexpr EntrySlot kResampleEntries[] = {CLIPMORA_SWRESAMPLE_ENTRIES(CLIPMORA_ENTRY_SLOT)};
constexpr EntrySlot kFilterEntries[] = {CLIPMORA_AVFILTER_ENTRIES(CLIPMORA_ENTRY_SLOT)};
constexpr EntrySlot kDeviceEntries[] = {CLIPMORA_AVDEVICE_ENTRIES(CLIPMORA_ENTRY_SLOT)};
#undef CLIPMORA_ENTRY_SLOT

struct LibraryDescriptor {
    const char* baseName;     // "avcodec": files libavcodec.so.59 / libavcodec.so
    int majorVersion;         // from the headers the engine was built against
    const char* displayName;  // for the bound-check message
    const EntrySlot* entries;
    std::size_t entryCount;
    void (*afterBind)();      // registration step, or null
};

template <std::size_t N>
constexpr LibraryDescriptor describe(const char* base, int major, const char* display,
                                     const EntrySlot (&entries)[N], void (*afterBind)() = nullptr)
{
    return {base, major, display, entries, N, afterBind};
}

// The device library registers its input formats (among them the "lavfi"
// reader of the trim-script layer) only when asked to.
void registerDevices() { gApi.avdevice_register_all(); }

const std::array<LibraryDescriptor, kCodecLibraryCount> kLibraries = {
    describe("avcodec", LIBAVCODEC_VERSION_MAJOR, "LibAVCodec", kCodecEntries),
    describe("avformat", LIBAVFORMAT_VERSION_MAJOR, "LibAVFormat", kFormatEntries),
    describe("avutil", LIBAVUTIL_VERSION_MAJOR, "LibAVUtil", kUtilityEntries),
    describe("swscale", LIBSWSCALE_VERSION_MAJOR, "LibSwScale", kScalingEntries),
    describe("swresample", LIBSWRESAMPLE_VERSION_MAJOR, "LibSwResample", kResampleEntries),
    describe("avfilter", LIBAVFILTER_VERSION_MAJOR, "LibAVFilter", kFilterEntries),
    describe("avdevice", LIBAVDEVICE_VERSION_MAJOR, "LibAVDevice", kDeviceEntries, registerDevices),
};

struct LibraryState {
    void* handle = nullptr;
    bool bound = false;
    bool versionedNames = false;
    std::string error;
};

// Written only on the main thread while no task exists (see the header).
std::array<LibraryState, kCodecLibraryCount> gState;
bool gAllBound = false;
std::atomic<int> gLogThreshold{1};

// Saves the floating-point environment when the engine is loaded and runs the
// process with every floating-point exception masked and round-to-nearest, as
// the codec libraries expect; restores the saved environment at exit.
class FloatingPointSetup {
public:
    FloatingPointSetup()
    {
        std::feholdexcept(&saved_);
        std::fesetround(FE_TONEAREST);
    }
    ~FloatingPointSetup() { std::fesetenv(&saved_); }

private:
    std::fenv_t saved_{};
};
const FloatingPointSetup gFloatingPointSetup;

std::string loaderText()
{
    const char* text = dlerror();
    return text ? text : "unknown error";
}

void clearEntries(const LibraryDescriptor& library)
{
    auto* base = reinterpret_cast<unsigned char*>(&gApi);
    for (std::size_t i = 0; i < library.entryCount; ++i)
        std::memset(base + library.entries[i].offset, 0, sizeof(void*));
}

// Where a library file is loaded from: a path in `folder`, or the bare name
// for the system's search path when no folder is named.
std::string libraryPath(const std::string& folder, const std::string& fileName)
{
    return folder.empty() ? fileName : folder + "/" + fileName;
}

bool bindOne(std::size_t index, const std::string& folder)
{
    const LibraryDescriptor& library = kLibraries[index];
    LibraryState& state = gState[index];
    const std::string fileName =
        CodecLibraryFileName(static_cast<CodecLibrary>(index), state.versionedNames);

    if (!state.handle) {
        // dlopen searches neither the current directory nor "PATH", so a named
        // folder is used by loading from its path. The libraries stay mapped
        // after unbinding: they and the libraries they pull in register exit
        // handlers and keep global state that must not vanish under them.
        // Lazy binding leaves the libraries' own calls among themselves to be
        // resolved on first use, which takes a sixth off the load; every entry
        // the engine calls is still resolved below, so a missing one is
        // refused here as before.
        const std::string path = libraryPath(folder, fileName);
        state.handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
        if (!state.handle) {
            // "libraray" is the program's established text; callers match it.
            state.error = "Load libraray " + fileName + " error: " + loaderText();
            return false;
        }
    }
    if (!state.bound) {
        auto* base = reinterpret_cast<unsigned char*>(&gApi);
        for (std::size_t i = 0; i < library.entryCount; ++i) {
            const EntrySlot& entry = library.entries[i];
            dlerror();
            void* symbol = dlsym(state.handle, entry.name);
            if (!symbol) {
                state.error = std::string("Load function ") + entry.name + "@" + fileName +
                              " error: " + loaderText();
                clearEntries(library);
                return false;
            }
            std::memcpy(base + entry.offset, &symbol, sizeof symbol);
        }
        if (library.afterBind)
            library.afterBind();
        state.bound = true;
    }
    return true;
}

std::string upperCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

const LibraryApi& lib = gApi;

std::string CodecLibraryFileName(CodecLibrary library, bool versionedNames)
{
    const LibraryDescriptor& d = kLibraries[static_cast<std::size_t>(library)];
    std::string name = std::string("lib") + d.baseName + ".so";
    if (versionedNames)
        name += "." + std::to_string(d.majorVersion);
    return name;
}

void AddFolderToSearchPath(const std::string& folder)
{
    const char* current = std::getenv("PATH");
    const std::string path = current ? current : "";
    if (upperCase(path).find(upperCase(folder)) != std::string::npos)
        return;
    const std::string extended = path + ":" + folder;
    setenv("PATH", extended.c_str(), 1);
}

bool CodecLibraryFilesPresent(const std::string& folder, bool versionedNames)
{
    if (folder.empty())
        return true;
    for (std::size_t i = 0; i < kLibraries.size(); ++i) {
        const std::string path = libraryPath(
            folder, CodecLibraryFileName(static_cast<CodecLibrary>(i), versionedNames));
        if (access(path.c_str(), R_OK) != 0)
            return false;
    }
    return true;
}

bool BindCodecLibraries(const std::string& folder, bool versionedNames, std::string& error)
{
    if (gAllBound)
        return true;
    error.clear();
    if (!folder.empty())
        AddFolderToSearchPath(folder);

    bool ok = true;
    for (std::size_t i = 0; i < kLibraries.size() && ok; ++i) {
        gState[i].versionedNames = versionedNames;
        ok = bindOne(i, folder);
        if (!ok)
            error = gState[i].error;
    }
    gAllBound = ok;
    if (ok) {
        gLogThreshold.store(FromLibraryLogLevel(gApi.av_log_get_level()));
    } else {
        UnbindCodecLibraries();
    }
    return gAllBound;
}

void UnbindCodecLibraries()
{
    gAllBound = false;
    for (std::size_t i = 0; i < kLibraries.size(); ++i) {
        LibraryState& state = gState[i];
        clearEntries(kLibraries[i]);
        state.bound = false;
        if (state.handle) {
            dlclose(state.handle);
            state.handle = nullptr;
        }
    }
}

bool CodecLibrariesBound() { return gAllBound; }

bool CodecLibraryBound(CodecLibrary library)
{
    return gState[static_cast<std::size_t>(library)].bound;
}

std::string CodecLibraryVersion(CodecLibrary library)
{
    if (!CodecLibraryBound(library))
        return {};
    // In CodecLibrary's order.
    const decltype(&::avcodec_version) versionEntries[kCodecLibraryCount] = {
        gApi.avcodec_version, gApi.avformat_version, gApi.avutil_version, gApi.swscale_version,
        gApi.swresample_version, gApi.avfilter_version, gApi.avdevice_version};
    const unsigned version = versionEntries[static_cast<std::size_t>(library)]();
    return std::to_string(AV_VERSION_MAJOR(version)) + "." +
           std::to_string(AV_VERSION_MINOR(version)) + "." +
           std::to_string(AV_VERSION_MICRO(version));
}

std::string CodecLibraryError(CodecLibrary library)
{
    return gState[static_cast<std::size_t>(library)].error;
}

void CheckCodecLibrariesBound()
{
    for (std::size_t i = 0; i < kLibraries.size(); ++i)
        if (!gState[i].bound)
            throw FFMpegException(std::string(kLibraries[i].displayName) + " not loaded.");
}

int ToLibraryLogLevel(int engineLevel)
{
    if (engineLevel < kLogError)
        return AV_LOG_QUIET;
    static constexpr int kLevels[] = {AV_LOG_ERROR, AV_LOG_INFO, AV_LOG_DEBUG, AV_LOG_TRACE};
    return kLevels[std::min(engineLevel, static_cast<int>(kLogEverything))];
}

int FromLibraryLogLevel(int libraryLevel)
{
    if (libraryLevel < AV_LOG_PANIC)
        return kLogQuiet;
    if (libraryLevel <= AV_LOG_WARNING)
        return kLogError;
    if (libraryLevel <= AV_LOG_INFO)
        return kLogInfo;
    if (libraryLevel <= AV_LOG_DEBUG)
        return kLogDebug;
    return kLogEverything;
}

int LogThreshold() { return gLogThreshold.load(); }

void SetLibraryLogLevel(int engineLevel)
{
    gApi.av_log_set_level(ToLibraryLogLevel(engineLevel));
    gLogThreshold.store(FromLibraryLogLevel(gApi.av_log_get_level()));
}

void EngineLog(void* context, int engineLevel, const char* format, ...)
{
    if (!gApi.av_vlog)
        return;
    va_list args;
    va_start(args, format);
    gApi.av_vlog(context, ToLibraryLogLevel(engineLevel), format, args);
    va_end(args);
}

}  // namespace clipmora
