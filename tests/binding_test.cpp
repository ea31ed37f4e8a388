// Binding the codec libraries from a folder, and loading frame hook modules.
#include "engine/av_probe.h"
#include "engine/ffmpeg_exception.h"
#include "engine/frame_hook.h"
#include "engine/library_binding.h"
#include "engine/transcoder.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <initializer_list>
#include <sstream>
#include <vector>

extern "C" {
#include <libavdevice/version.h>
#include <libavfilter/version.h>
#include <libswresample/version.h>
#include <libswscale/version.h>
}

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// In the order the build lists the codec modules.
constexpr CodecLibrary kAllLibraries[] = {
    CodecLibrary::Codec,    CodecLibrary::Format, CodecLibrary::Utility, CodecLibrary::Scaling,
    CodecLibrary::Resample, CodecLibrary::Filter, CodecLibrary::Device};

// The file a library is bound by from a folder of sonames.
std::string soname(CodecLibrary library) { return CodecLibraryFileName(library, true); }

// What the binding reports when it cannot load `library`, up to the loader's text.
std::string loadFailure(CodecLibrary library)
{
    return "Load libraray " + soname(library) + " error: ";
}

class BindingTest : public ::testing::Test {
protected:
    void TearDown() override { UnbindCodecLibraries(); }

    // Links the libraries' files of the build's "Common" folder into
    // `folder`, by their sonames or by their plain names.
    static void linkFromCommon(const TempFolder& folder,
                               const std::vector<CodecLibrary>& libraries,
                               bool versionedNames = true)
    {
        for (CodecLibrary library : libraries) {
            const std::string name = CodecLibraryFileName(library, versionedNames);
            fs::create_symlink(fs::path(CLIPMORA_COMMON_DIR) / name, folder.path() / name);
        }
    }

    static void expectNothingBound()
    {
        EXPECT_FALSE(CodecLibrariesBound());
        for (CodecLibrary library : kAllLibraries)
            EXPECT_FALSE(CodecLibraryBound(library));
        EXPECT_EQ(lib.avcodec_open2, nullptr);
        EXPECT_EQ(lib.avformat_open_input, nullptr);
        EXPECT_EQ(lib.av_log, nullptr);
    }
};

TEST_F(BindingTest, VersionedNamesAreTheSonamesTheBuildFound)
{
    std::vector<std::string> found;
    std::istringstream list(CLIPMORA_CODEC_SONAMES);
    for (std::string name; std::getline(list, name, ',');)
        found.push_back(name);
    ASSERT_EQ(found.size(), std::size(kAllLibraries)) << CLIPMORA_CODEC_SONAMES;
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(soname(kAllLibraries[i]), found[i]);
        // The plain name is the soname without its version.
        EXPECT_EQ(CodecLibraryFileName(kAllLibraries[i], false),
                  found[i].substr(0, found[i].rfind(".so") + 3));
    }
}

TEST_F(BindingTest, BoundLibrariesAreTheGenerationOfTheHeaders)
{
    std::string error;
    ASSERT_TRUE(BindCodecLibraries(CLIPMORA_COMMON_DIR, true, error)) << error;
    struct Generation {
        CodecLibrary library;
        const char* versionEntry;
        unsigned headerMajor;
    };
    const Generation generations[] = {
        {CodecLibrary::Codec, "avcodec_version", LIBAVCODEC_VERSION_MAJOR},
        {CodecLibrary::Format, "avformat_version", LIBAVFORMAT_VERSION_MAJOR},
        {CodecLibrary::Utility, "avutil_version", LIBAVUTIL_VERSION_MAJOR},
        {CodecLibrary::Scaling, "swscale_version", LIBSWSCALE_VERSION_MAJOR},
        {CodecLibrary::Resample, "swresample_version", LIBSWRESAMPLE_VERSION_MAJOR},
        {CodecLibrary::Filter, "avfilter_version", LIBAVFILTER_VERSION_MAJOR},
        {CodecLibrary::Device, "avdevice_version", LIBAVDEVICE_VERSION_MAJOR},
    };
    for (const Generation& generation : generations) {
        SCOPED_TRACE(generation.versionEntry);
        // Already loaded by the binding: this only finds it again.
        const std::string path = (fs::path(CLIPMORA_COMMON_DIR) / soname(generation.library)).string();
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(handle, nullptr) << path;
        auto* version = reinterpret_cast<unsigned (*)()>(dlsym(handle, generation.versionEntry));
        ASSERT_NE(version, nullptr);
        EXPECT_EQ(version() >> 16, generation.headerMajor);
        dlclose(handle);
    }
}

TEST_F(BindingTest, BindsEveryEntryFromTheCommonFolder)
{
    std::string error;
    ASSERT_TRUE(BindCodecLibraries(CLIPMORA_COMMON_DIR, true, error)) << error;
    EXPECT_TRUE(error.empty());
    for (CodecLibrary library : kAllLibraries)
        EXPECT_TRUE(CodecLibraryBound(library));
    EXPECT_NO_THROW(CheckCodecLibrariesBound());
    // The device library was registered, so the script reader's input exists.
    EXPECT_NE(lib.av_find_input_format("lavfi"), nullptr);
    // The libraries' default level is "information".
    EXPECT_EQ(LogThreshold(), 1);
}

TEST_F(BindingTest, PlainNamesAreFoundOnlyWhenAskedFor)
{
    TempFolder folder;
    linkFromCommon(folder, {std::begin(kAllLibraries), std::end(kAllLibraries)}, false);
    std::string error;
    EXPECT_FALSE(BindCodecLibraries(folder.path().string(), true, error));
    EXPECT_EQ(error.rfind(loadFailure(CodecLibrary::Codec), 0), 0u) << error;
    expectNothingBound();

    ASSERT_TRUE(BindCodecLibraries(folder.path().string(), false, error)) << error;
    EXPECT_TRUE(CodecLibraryBound(CodecLibrary::Device));
}

TEST_F(BindingTest, MissingLibraryNamesItAndLeavesEverythingUnbound)
{
    TempFolder folder;
    linkFromCommon(folder, {CodecLibrary::Codec});
    std::string error;
    EXPECT_FALSE(BindCodecLibraries(folder.path().string(), true, error));
    EXPECT_EQ(error.rfind(loadFailure(CodecLibrary::Format), 0), 0u) << error;
    EXPECT_GT(error.size(), loadFailure(CodecLibrary::Format).size());
    expectNothingBound();
    EXPECT_EQ(CodecLibraryError(CodecLibrary::Format), error);
}

TEST_F(BindingTest, TasksCannotBeAppendedBeforeBinding)
{
    UnbindCodecLibraries();
    TTranscoder transcoder;
    EXPECT_EQ(transcoder.AppendTask("/no/such/clip.mp4"), -1);
    EXPECT_NE(transcoder.LastError().find("not loaded"), std::string::npos)
        << transcoder.LastError();
    EXPECT_EQ(transcoder.TaskCount(), 0);
}

TEST_F(BindingTest, MissingEntryPointNamesEntryAndFileAndUnbindsTheOthers)
{
    TempFolder folder;
    linkFromCommon(folder, {CodecLibrary::Codec, CodecLibrary::Format, CodecLibrary::Utility});
    fs::create_symlink(STUB_SWSCALE_PATH, folder.path() / soname(CodecLibrary::Scaling));
    std::string error;
    EXPECT_FALSE(BindCodecLibraries(folder.path().string(), true, error));
    EXPECT_EQ(error.rfind("Load function sws_getCachedContext@" + soname(CodecLibrary::Scaling) +
                              " error: ",
                          0),
              0u)
        << error;
    EXPECT_NE(error.find("sws_getCachedContext"), error.rfind("sws_getCachedContext"))
        << "the loader's own text should follow: " << error;
    expectNothingBound();

    // A failed binding can be retried.
    ASSERT_TRUE(BindCodecLibraries(CLIPMORA_COMMON_DIR, true, error)) << error;
}

TEST_F(BindingTest, SecondBindIsANoOp)
{
    std::string error;
    ASSERT_TRUE(BindCodecLibraries(CLIPMORA_COMMON_DIR, true, error));
    auto* open = lib.avformat_open_input;
    EXPECT_TRUE(BindCodecLibraries("/no/such/folder", false, error));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(lib.avformat_open_input, open);
}

TEST_F(BindingTest, BoundCheckNamesTheFirstMissingLibrary)
{
    try {
        CheckCodecLibrariesBound();
        FAIL() << "no exception";
    } catch (const FFMpegException& e) {
        EXPECT_STREQ(e.what(), "LibAVCodec not loaded.");
    }
    // The probe refuses to work before binding.
    TAVProbe probe;
    EXPECT_THROW(probe.OpenMedia("clip.mp4"), FFMpegException);
}

TEST_F(BindingTest, FolderIsAddedToPathOnceWhateverItsCase)
{
    const char* saved = std::getenv("PATH");
    const std::string original = saved ? saved : "";
    setenv("PATH", "/usr/bin:/Opt/Clipmora/Common", 1);
    AddFolderToSearchPath("/opt/clipmora/COMMON");
    EXPECT_STREQ(std::getenv("PATH"), "/usr/bin:/Opt/Clipmora/Common");
    AddFolderToSearchPath("/srv/common");
    EXPECT_STREQ(std::getenv("PATH"), "/usr/bin:/Opt/Clipmora/Common:/srv/common");
    setenv("PATH", original.c_str(), 1);
}

TEST_F(BindingTest, LogLevelsMapBothWays)
{
    for (int level = -1; level <= 3; ++level)
        EXPECT_EQ(FromLibraryLogLevel(ToLibraryLogLevel(level)), level);
    EXPECT_EQ(FromLibraryLogLevel(AV_LOG_WARNING), 0);
    EXPECT_EQ(FromLibraryLogLevel(AV_LOG_VERBOSE), 2);

    std::string error;
    ASSERT_TRUE(BindCodecLibraries(CLIPMORA_COMMON_DIR, true, error));
    SetLibraryLogLevel(2);
    EXPECT_EQ(LogThreshold(), 2);
    EXPECT_EQ(lib.av_log_get_level(), AV_LOG_DEBUG);
    SetLibraryLogLevel(-1);
    EXPECT_EQ(LogThreshold(), -1);
}

// Frame hook modules ------------------------------------------------------

TEST(FrameHookWords, BlanksSeparateUnlessABarIsPresent)
{
    EXPECT_EQ(SplitFrameHookWords("hook.so red  blue"),
              (std::vector<std::string>{"hook.so", "red", "blue"}));
    EXPECT_EQ(SplitFrameHookWords("hook.so|red  blue"),
              (std::vector<std::string>{"hook.so", "red  blue"}));
    EXPECT_EQ(SplitFrameHookWords("||a||b|"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(SplitFrameHookWords("   ").empty());

    std::string many = "m";
    for (int i = 0; i < 300; ++i)
        many += " w";
    EXPECT_EQ(SplitFrameHookWords(many).size(), 254u);
}

class FrameHookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::BindLibrariesForTests();
        module_ = dlopen(SAMPLE_VHOOK_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override
    {
        if (module_)
            dlclose(module_);
    }
    template <typename Fn>
    Fn entry(const char* name)
    {
        return reinterpret_cast<Fn>(dlsym(module_, name));
    }
    void* module_ = nullptr;
};

TEST_F(FrameHookTest, ConfiguredModuleProcessesPicturesAndIsReleased)
{
    auto lastArgc = entry<int (*)()>("SampleHookLastArgc");
    auto lastWord = entry<const char* (*)(int)>("SampleHookLastWord");
    auto released = entry<int (*)()>("SampleHookReleased");
    const int releasedBefore = released();
    {
        FrameHookChain chain;
        AddFrameHookFromOption(chain, std::string(SAMPLE_VHOOK_PATH) + "|level 3");
        ASSERT_EQ(chain.nodes().size(), 1u);
        EXPECT_EQ(lastArgc(), 2);
        EXPECT_STREQ(lastWord(1), "level 3");

        // A second use of the same module is a second node with its own context.
        AddFrameHookFromOption(chain, SAMPLE_VHOOK_PATH);
        ASSERT_EQ(chain.nodes().size(), 2u);
        EXPECT_NE(chain.nodes()[0].context, chain.nodes()[1].context);

        uint8_t pixels[2 * 4] = {0, 10, 200, 255, 1, 2, 3, 4};
        VHookPicture picture{{pixels, nullptr, nullptr, nullptr}, {4, 0, 0, 0}};
        chain.nodes()[0].process(chain.nodes()[0].context, &picture, 0, 3, 2, 0);
        EXPECT_EQ(pixels[0], 255);
        EXPECT_EQ(pixels[2], 55);
        EXPECT_EQ(pixels[3], 255) << "beyond the width stays untouched";
        EXPECT_EQ(pixels[6], 252);
    }
    EXPECT_EQ(released(), releasedBefore + 2);
}

TEST_F(FrameHookTest, FailuresGiveTheirCodes)
{
    FrameHookChain chain;
    EXPECT_EQ(AddFrameHook(chain, {}), -2);
    EXPECT_EQ(AddFrameHook(chain, {"/no/such/hook.so"}), -1);
    // A library without a "Process" entry is not a hook module.
    EXPECT_EQ(AddFrameHook(chain, {STUB_SWSCALE_PATH}), -2);
    EXPECT_EQ(AddFrameHook(chain, {SAMPLE_VHOOK_PATH, "fail"}), -22);
    EXPECT_TRUE(chain.empty());

    const std::string argument = std::string(SAMPLE_VHOOK_PATH) + " fail";
    try {
        AddFrameHookFromOption(chain, argument);
        FAIL() << "no exception";
    } catch (const FFMpegException& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to add video hook function: " + argument);
    }
}

}  // namespace
}  // namespace clipmora
