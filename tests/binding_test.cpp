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

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

constexpr CodecLibrary kAllLibraries[] = {
    CodecLibrary::Codec,    CodecLibrary::Format, CodecLibrary::Utility, CodecLibrary::Scaling,
    CodecLibrary::Resample, CodecLibrary::Filter, CodecLibrary::Device};

class BindingTest : public ::testing::Test {
protected:
    void TearDown() override { UnbindCodecLibraries(); }

    // Links the named files of the build's "Common" folder into `folder`.
    static void linkFromCommon(const TempFolder& folder, std::initializer_list<const char*> names)
    {
        for (const char* name : names)
            fs::create_symlink(fs::path(CLIPMORA_COMMON_DIR) / name, folder.path() / name);
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

TEST_F(BindingTest, FileNamesAreSonamesOrPlainNames)
{
    EXPECT_EQ(CodecLibraryFileName(CodecLibrary::Codec, true), "libavcodec.so.59");
    EXPECT_EQ(CodecLibraryFileName(CodecLibrary::Format, true), "libavformat.so.59");
    EXPECT_EQ(CodecLibraryFileName(CodecLibrary::Utility, true), "libavutil.so.57");
    EXPECT_EQ(CodecLibraryFileName(CodecLibrary::Scaling, true), "libswscale.so.6");
    EXPECT_EQ(CodecLibraryFileName(CodecLibrary::Resample, true), "libswresample.so.4");
    EXPECT_EQ(CodecLibraryFileName(CodecLibrary::Filter, true), "libavfilter.so.8");
    EXPECT_EQ(CodecLibraryFileName(CodecLibrary::Device, true), "libavdevice.so.59");
    EXPECT_EQ(CodecLibraryFileName(CodecLibrary::Codec, false), "libavcodec.so");
    EXPECT_EQ(CodecLibraryFileName(CodecLibrary::Device, false), "libavdevice.so");
}

TEST_F(BindingTest, BindsEveryEntryFromTheCommonFolder)
{
    std::string error;
    ASSERT_TRUE(BindCodecLibraries(CLIPMORA_COMMON_DIR, true, error)) << error;
    EXPECT_TRUE(error.empty());
    for (CodecLibrary library : kAllLibraries)
        EXPECT_TRUE(CodecLibraryBound(library));
    EXPECT_NO_THROW(CheckCodecLibrariesBound());
    EXPECT_EQ(lib.avcodec_version() >> 16, LIBAVCODEC_VERSION_MAJOR);
    EXPECT_EQ(lib.avformat_version() >> 16, LIBAVFORMAT_VERSION_MAJOR);
    // The device library was registered, so the script reader's input exists.
    EXPECT_NE(lib.av_find_input_format("lavfi"), nullptr);
    // The libraries' default level is "information".
    EXPECT_EQ(LogThreshold(), 1);
}

TEST_F(BindingTest, PlainNamesAreFoundOnlyWhenAskedFor)
{
    TempFolder folder;
    linkFromCommon(folder, {"libavcodec.so", "libavformat.so", "libavutil.so", "libswscale.so",
                            "libswresample.so", "libavfilter.so", "libavdevice.so"});
    std::string error;
    EXPECT_FALSE(BindCodecLibraries(folder.path().string(), true, error));
    EXPECT_EQ(error.rfind("Load libraray libavcodec.so.59 error: ", 0), 0u) << error;
    expectNothingBound();

    ASSERT_TRUE(BindCodecLibraries(folder.path().string(), false, error)) << error;
    EXPECT_TRUE(CodecLibraryBound(CodecLibrary::Device));
}

TEST_F(BindingTest, MissingLibraryNamesItAndLeavesEverythingUnbound)
{
    TempFolder folder;
    linkFromCommon(folder, {"libavcodec.so.59"});
    std::string error;
    EXPECT_FALSE(BindCodecLibraries(folder.path().string(), true, error));
    EXPECT_EQ(error.rfind("Load libraray libavformat.so.59 error: ", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("Load libraray libavformat.so.59 error: ").size());
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
    linkFromCommon(folder, {"libavcodec.so.59", "libavformat.so.59", "libavutil.so.57"});
    fs::create_symlink(STUB_SWSCALE_PATH, folder.path() / "libswscale.so.6");
    std::string error;
    EXPECT_FALSE(BindCodecLibraries(folder.path().string(), true, error));
    EXPECT_EQ(error.rfind("Load function sws_getCachedContext@libswscale.so.6 error: ", 0), 0u)
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
