// The split job: output names, marks, the trim script it writes, and a split
// into every format of the catalogue read back by the probe and by
// GStreamer's discoverer.
#include "job/segment_marks.h"
#include "job/split_job.h"
#include "job/trim_script_writer.h"
#include "engine/transcoder.h"
#include "profiles/format_catalogue.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::CachedMedia;
using testing::TempFolder;

void touch(const std::string& path) { std::ofstream(path) << "x"; }

TEST(SplitNames, UniqueNamesCountUpAndOverwriteReusesTheName)
{
    TempFolder folder;
    const std::string source = folder.file("holiday.mov");
    touch(source);
    const std::string out = folder.path().string();
    // A name is taken the moment it is chosen, before anything is written.
    EXPECT_EQ(SplitOutputFileName(source, out, ".mp4", false), folder.file("holiday.mp4"));
    EXPECT_EQ(SplitOutputFileName(source, out, ".mp4", false), folder.file("holiday-1.mp4"));
    touch(folder.file("holiday-2.mp4"));
    EXPECT_EQ(SplitOutputFileName(source, out, ".mp4", false), folder.file("holiday-3.mp4"));
    EXPECT_EQ(SplitOutputFileName(source, out, ".mp4", true), folder.file("holiday.mp4"));
}

TEST(SplitNames, TheSourceIsNeverTheOutput)
{
    TempFolder folder;
    const std::string source = folder.file("talk.mp4");
    touch(source);
    EXPECT_EQ(SplitOutputFileName(source, folder.path().string(), ".mp4", true),
              folder.file("talk-1.mp4"));
    EXPECT_EQ(SplitOutputFileName(source, folder.path().string(), ".mp4", false),
              folder.file("talk-2.mp4"));
}

// A staged output reaches its name only by a commit that finds it there;
// whatever does not reach it leaves nothing behind.
TEST(SplitNames, AStagedOutputIsThereWholeOrNotAtAll)
{
    testing::BindLibrariesForTests();
    using Files = std::set<std::string>;  // "path in the folder=content"
    struct Case {
        const char* what;
        bool overwrite;
        // Done to the output folder while the output is written.
        std::function<void(const fs::path& folder)> meanwhile;
        bool committed;
        Files left;
    };
    const Case cases[] = {
        {"a new name", false, [](const fs::path&) {}, true,
         {"talk.mkv=x", "out/talk.mp4=old", "out/talk-1.mp4=new"}},
        {"a replaced file", true, [](const fs::path&) {}, true,
         {"talk.mkv=x", "out/talk.mp4=new"}},
        {"the folder removed", false, [](const fs::path& at) { fs::remove_all(at); }, false,
         {"talk.mkv=x"}},
        {"the folder renamed", true,
         [](const fs::path& at) { fs::rename(at, at.string() + " moved"); }, false,
         {"talk.mkv=x", "out moved/talk.mp4=old"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const fs::path out = folder.path() / "out";
        fs::create_directory(out);
        const std::string source = folder.file("talk.mkv");
        touch(source);
        std::ofstream((out / "talk.mp4").string()) << "old";
        {
            StagedOutput output = StageSplitOutput(source, out.string(), ".mp4", c.overwrite, {});
            const std::string name = output.FinalName();
            std::ofstream(output.WriteAddress()) << "new";
            c.meanwhile(out);
            const std::optional<std::string> failed = output.Commit();
            EXPECT_EQ(!failed, c.committed) << failed.value_or("");
            if (failed) {
                EXPECT_NE(failed->find("\"" + name + "\""), std::string::npos) << *failed;
            }
        }
        Files left;
        for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
            if (!entry.is_regular_file())
                continue;
            std::stringstream text;
            text << std::ifstream(entry.path()).rdbuf();
            left.insert(fs::relative(entry.path(), folder.path()).string() + "=" + text.str());
        }
        EXPECT_EQ(left, c.left);
    }
}

TEST(SplitOptions, VolumeFrameRateAndMarks)
{
    EXPECT_EQ(OutputVolumeForPosition(0), 1);
    EXPECT_EQ(OutputVolumeForPosition(5), 255);
    EXPECT_EQ(OutputVolumeForPosition(10), 600);
    EXPECT_EQ(OutputVolumeForPosition(11), 255);

    EXPECT_EQ(FrameRateOption(" Auto "), "");
    EXPECT_EQ(FrameRateOption("29.97 fps"), "29.97");
    EXPECT_EQ(FrameRateOption("15.0 fps"), "15.0");
    EXPECT_EQ(FrameRateOption("fps"), "25");

    // 29.97 fps marked at 10 s and 20 s: native 300 and 599, then 250 and 500 at 25 fps.
    EXPECT_EQ(MarkFrameNumber(10000, "29.97", "clip.mp4"), 250);
    EXPECT_EQ(MarkFrameNumber(20000, "29.97", "clip.mp4"), 500);
    EXPECT_EQ(MarkFrameNumber(20000, "29.97", "clip.AVI"), 599) << "AVI keeps its own frames";
    EXPECT_EQ(MarkFrameNumber(100, "25", "clip.mp4"), 2) << "2.5 rounds to even";
    EXPECT_EQ(MarkFrameNumber(5000, "0", "sound.mp3"), 125) << "sound only: 25 per second";
    EXPECT_EQ(MarkFrameNumber(1500, "0", "sound.mp3"), 38) << "37.5 rounds to even";
    // A mark's frame back to its time, for a copy that cuts by time.
    EXPECT_DOUBLE_EQ(MarkSeconds(250, "29.97", "clip.mp4"), 10.0);
    EXPECT_NEAR(MarkSeconds(599, "29.97", "clip.AVI"), 20.0, 1.0 / 29.97);
    EXPECT_DOUBLE_EQ(MarkSeconds(125, "0", "sound.mp3"), 5.0);

    EXPECT_EQ(SourceFrameRateText(30000, 1001, true), "29.97");
    EXPECT_EQ(SourceFrameRateText(24000, 1001, true), "23.98");
    EXPECT_EQ(SourceFrameRateText(25, 1, true), "25");
    EXPECT_EQ(SourceFrameRateText(25, 1, false), "0");
    EXPECT_EQ(FormatDuration(3909, ":"), "01:05:09");
    EXPECT_EQ(FormatDuration(0, ":"), "00:00:00");
}

// The note after a kept-streams copy: what an exact cut re-encoded at each
// end, to one decimal; a key-frame start, with the reason when an exact cut
// was asked for and could not be made.
TEST(SplitOptions, TypedMarksReadEveryFormAndRefuseTheRest)
{
    const struct {
        const char* text;
        std::optional<double> seconds;
    } rows[] = {
        {"83.5", 83.5},         {" 1:23.5 ", 83.5},  {"0:01:23.500", 83.5}, {"90:00", 5400},
        {"2:00:00", 7200},      {"0", 0},            {"1e2", 100},          {"12.", 12},
        {"", {}},               {"-1", {}},          {"inf", {}},           {"1:60", {}},
        {"1:5", {}},            {"1.5:00", {}},      {"1:00:00:00", {}},    {"1:", {}},
        {":30", {}},            {"1:30.", {}},       {"1:-30", {}},         {"12s", {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ParseMarkTime(row.text), row.seconds) << '"' << row.text << '"';
}

TEST(SplitOptions, TheNoteAfterACopySaysWhatWasReencoded)
{
    const struct {
        bool exact;
        double start, end;    // seconds re-encoded
        int64_t durationMs;   // of the pictures written
        double startSeconds;  // where the output starts; the start mark is 10 s
        const char* fallback;
        const char* note;
    } cases[] = {
        {true, 0.7, 0.2, 5000, 10.0, "",
         "Exact cut: 0.7 s re-encoded at the start, 0.2 s at the end; the rest copied"},
        {true, 0.68, 0.0, 5000, 10.0, "", "Exact cut: 0.7 s re-encoded at the start; the rest copied"},
        {true, 0.0, 0.08, 5000, 10.0, "", "Exact cut: 0.1 s re-encoded at the end; the rest copied"},
        {true, 0.04, 0.0, 5000, 10.0, "",
         "Exact cut: under 0.1 s re-encoded at the start; the rest copied"},
        {true, 0.0, 0.0, 5000, 10.0, "", "Exact cut: nothing re-encoded; everything copied"},
        {true, 0.36, 0.12, 480, 10.0, "", "Exact cut: every picture re-encoded (0.5 s)"},
        {false, 0.0, 0.0, 5000, 9.84, "the pictures are interlaced",
         "Started at the key frame at 9.84 s; no exact cut: the pictures are interlaced"},
        {false, 0.0, 0.0, 5000, 10.0, "the pictures are interlaced",
         "No exact cut: the pictures are interlaced"},
        {false, 0.0, 0.0, 5000, 9.84, "", "Started at the key frame at 9.84 s"},
        {false, 0.0, 0.0, 5000, 10.0, "", ""},
    };
    for (const auto& c : cases) {
        StreamCutResult result;
        result.end = StreamCutResult::End::Finished;
        result.requestedStart = 10.0;
        result.startSeconds = c.startSeconds;
        result.durationMs = c.durationMs;
        result.exact = c.exact;
        result.reencodedStartSeconds = c.start;
        result.reencodedEndSeconds = c.end;
        result.exactFallback = c.fallback;
        EXPECT_EQ(StreamCutNote(result), c.note);
    }
}

TEST(TrimScriptFile, ThreeLinesWithCrLfAndTheRightSource)
{
    EXPECT_EQ(TrimScriptText("/opt/clipmora", "/v/clip.mp4", 250, 500),
              "LoadPlugin(\"/opt/clipmora/DirectShowSource.dll\")\r\n"
              "DirectShowSource(\"/v/clip.mp4\", fps=25, convertfps=true)\r\n"
              "TRIM(250,500)\r\n");
    EXPECT_EQ(TrimScriptText("/opt/clipmora/", "/v/clip.AVI", 0, 0),
              "LoadPlugin(\"/opt/clipmora/DirectShowSource.dll\")\r\n"
              "AviSource(\"/v/clip.AVI\")\r\n"
              "TRIM(0,0)\r\n");
}

TEST(TrimScriptFile, EachJobHasItsOwnFolderWithRAvs)
{
    const std::string base = ScriptWorkFolder();
    EXPECT_EQ(base.substr(base.size() - 8), "$$7777a/");
    EXPECT_EQ(fs::status(fs::path(base).parent_path().parent_path()).permissions() &
                  (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none)
        << "the work folder lies in a private folder";
    // A job of a process that is gone, and one of a process that runs (pid 1).
    const std::string gone = base + "999999999-3/";
    const std::string running = base + "1-3/";
    fs::create_directories(gone);
    fs::create_directories(running);
    touch(gone + "r.avs");
    touch(running + "r.avs");

    const std::string first = WriteTrimScript("/opt/clipmora", "/v/a.mp4", 1, 2);
    const std::string second = WriteTrimScript("/opt/clipmora", "/v/b.mp4", 3, 4);
    EXPECT_EQ(fs::path(first).filename(), "r.avs");
    EXPECT_EQ(fs::path(second).filename(), "r.avs");
    EXPECT_NE(first, second) << "two jobs never share a script";
    EXPECT_EQ(fs::path(first).parent_path().parent_path().string() + "/", base);
    EXPECT_EQ(fs::status(fs::path(second).parent_path()).permissions() & fs::perms::all,
              fs::perms::owner_all);
    std::ifstream in(second, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("b.mp4"), std::string::npos);
    EXPECT_NE(text.find("TRIM(3,4)\r\n"), std::string::npos);

    EXPECT_FALSE(fs::exists(gone)) << "left behind by a process that is gone";
    EXPECT_TRUE(fs::exists(running + "r.avs")) << "another process's job is not ours to clear";
    fs::remove_all(running);
}

// Runs split jobs through the component and waits for their end.
class SplitRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(engine.LoadCodecLibraries(CLIPMORA_COMMON_DIR, true)) << engine.LastError();
        engine.SetLogLevel(llError);
        engine.OnTerminate = [this](int index, bool finished, bool exception,
                                    const std::string& message) {
            std::lock_guard guard(lock);
            if (index < 0) {
                done = true;
                ended.notify_all();
            } else {
                this->finished = finished;
                failure = exception ? message : "";
            }
        };
        FillFixedLists(profile);
        FillFormatList(profile);
    }
    void TearDown() override { engine.DetachEvents(); }

    void choose(const std::string& format)
    {
        ASSERT_TRUE(profile.ComboOutputFormat.SelectText(format)) << format;
        FormatChangeStep(profile);
        ApplyQualityLevels(profile);
    }

    // Starts the job and waits for its end; returns the output file.
    std::string split(const SplitRequest& request)
    {
        done = false;
        SplitOutcome outcome = StartSplitJob(engine, request, profile);
        EXPECT_EQ(outcome.Result, SplitStart::Started) << outcome.Error;
        if (outcome.Result != SplitStart::Started)
            return {};
        std::unique_lock guard(lock);
        EXPECT_TRUE(ended.wait_for(guard, std::chrono::minutes(2), [this] { return done; }));
        EXPECT_TRUE(finished) << failure;
        EXPECT_EQ(outcome.Job.Staged.Commit(), std::nullopt);
        return outcome.Job.OutputFile;
    }

    SplitRequest request(const std::string& source)
    {
        SplitRequest r;
        r.SourceFile = source;
        r.OutputFolder = folder.path().string();
        r.ProgramFolder = CLIPMORA_BIN_DIR;
        return r;
    }

    TempFolder folder;
    TTranscoder engine;
    TProfileControls profile;
    std::mutex lock;  // guards done, finished, failure
    std::condition_variable ended;
    bool done = false;
    bool finished = false;
    std::string failure;
};

TEST_F(SplitRun, UnmarkedSplitReadsTheFileItselfAndNamesCountUp)
{
    const std::string source = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    choose("AVI - DivX Video (*.avi)");
    SplitRequest r = request(source);
    const std::string first = split(r);
    const std::string second = split(r);
    EXPECT_EQ(fs::path(first).filename(), "clip.avi");
    EXPECT_EQ(fs::path(second).filename(), "clip-1.avi");
    EXPECT_EQ(testing::DecodeMedia(second).videoFrames, 50);

    const SplitJob job = PrepareSplitJob(r, profile);
    EXPECT_EQ(job.EngineInput, source);
    EXPECT_EQ(job.Output.VideoCodec, "mpeg4");
    EXPECT_EQ(job.Output.Volume, 255);
}

TEST_F(SplitRun, MarkedSplitGoesThroughTheScript)
{
    const std::string source = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    choose("AVI - DivX Video (*.avi)");
    SplitRequest r = request(source);
    r.Marked = true;
    r.StartFrame = 10;
    r.EndFrame = 34;
    const std::string output = split(r);
    const testing::DecodedSummary out = testing::DecodeMedia(output);
    EXPECT_EQ(out.videoFrames, 25);
    EXPECT_EQ(out.firstFramePattern, 10);
}

TEST_F(SplitRun, TheFileSplitIsTheFileNamedEvenWithTrailingBlanks)
{
    const std::string clip = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    const std::string plain = folder.file("tw.mp4");
    const std::string blank = folder.file("tw.mp4 ");
    fs::copy_file(clip, blank);
    touch(plain);  // not a video: reading it instead would fail
    choose("AVI - DivX Video (*.avi)");
    fs::create_directory(folder.file("out"));
    SplitRequest r = request(blank);
    r.OutputFolder = folder.file("out");
    EXPECT_EQ(PrepareSplitJob(r, profile).EngineInput, blank);
    const std::string whole = split(r);
    EXPECT_EQ(testing::DecodeMedia(whole).videoFrames, 50);

    r.Marked = true;
    r.StartFrame = 0;
    r.EndFrame = 9;
    const std::string segment = split(r);
    EXPECT_EQ(testing::DecodeMedia(segment).videoFrames, 10);

    // A line end cannot stand in the script: a marked split of such a name
    // is refused with its name before anything is written, and no name can
    // make the script read another file of its folder.
    fs::copy_file(clip, folder.file("other.mp4"));
    const auto outputs = [&] {
        return std::distance(fs::directory_iterator(r.OutputFolder), fs::directory_iterator());
    };
    const auto written = outputs();
    for (const std::string name :
         {"tw.mp4\n", "tw\r.mp4", "other.mp4\", fps=25, convertfps=true)\nLoadPlugin(\"Q.mp4"}) {
        const std::string lineEnd = folder.file(name);
        fs::copy_file(clip, lineEnd);
        r.SourceFile = lineEnd;
        const SplitOutcome refused = StartSplitJob(engine, r, profile);
        EXPECT_EQ(refused.Result, SplitStart::Failed) << name;
        EXPECT_TRUE(refused.ErrorForUser);
        EXPECT_NE(refused.Error.find("\"" + lineEnd + "\""), std::string::npos) << refused.Error;
        EXPECT_EQ(outputs(), written) << name;
    }
    // The whole file is read without a script, whatever its name.
    r.Marked = false;
    EXPECT_EQ(testing::DecodeMedia(split(r)).videoFrames, 50);
}

// Every format of the catalogue, at its defaults with "Normal" quality.
struct FormatCase {
    const char* format;
    const char* container;  // as the discoverer names it
    const char* video;
    int width, height;
    const char* audio;
    int sampleRate;
    int channels;

    friend void PrintTo(const FormatCase& c, std::ostream* out) { *out << c.format; }
};

// The discoverer's report of a file, or empty when it cannot read it.
std::string discover(const std::string& file)
{
    const std::string command = "gst-discoverer-1.0 '" + file + "' 2>&1";
    std::string report;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, pipe))
            report += line;
        pclose(pipe);
    }
    return report;
}

class EveryFormat : public SplitRun, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(EveryFormat, SplitGivesTheFormatsStreams)
{
    const FormatCase& c = GetParam();
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 1.0;
    const std::string source = CachedMedia("second.mp4", spec);
    choose(c.format);
    const std::string output = split(request(source));
    ASSERT_FALSE(output.empty());

    TAVProbe& probe = engine.Probe();
    ASSERT_TRUE(probe.OpenMedia(output)) << probe.LastError();
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    probe.CloseMedia();

    const std::string report = discover(output);
    auto has = [&](const std::string& text) { return report.find(text) != std::string::npos; };
    EXPECT_TRUE(has(std::string("container #0: ") + c.container + "\n")) << report;
    EXPECT_TRUE(has(std::string(": ") + c.video)) << report;
    EXPECT_TRUE(has("Width: " + std::to_string(c.width) + "\n")) << report;
    EXPECT_TRUE(has("Height: " + std::to_string(c.height) + "\n")) << report;
    EXPECT_TRUE(has(std::string(": ") + c.audio)) << report;
    EXPECT_TRUE(has("Sample rate: " + std::to_string(c.sampleRate) + "\n")) << report;
    EXPECT_TRUE(has("Channels: " + std::to_string(c.channels) + " ")) << report;
}

constexpr const char* kQuickTime = "Quicktime";
constexpr const char* kAvi = "Audio Video Interleave (AVI)";
constexpr const char* kAsf = "Advanced Streaming Format (ASF)";
constexpr const char* kMpeg4 = "MPEG-4 Video";
constexpr const char* kAac = "MPEG-4 AAC";
constexpr const char* kMp3 = "MPEG-1 Layer 3 (MP3)";
constexpr const char* kAmr = "Adaptive Multi Rate (AMR)";

INSTANTIATE_TEST_SUITE_P(
    Catalogue, EveryFormat,
    ::testing::Values(
        FormatCase{"3GP - Mobile Video Format (*.3gp)", "3GP", kMpeg4, 176, 144, kAmr, 8000, 1},
        FormatCase{"3G2 - Mobile Video Format (*.3g2)", kQuickTime, kMpeg4, 176, 144, kAmr, 8000, 1},
        FormatCase{"ASF - Advance Streaming Format (*.asf)", kAsf, "Microsoft MPEG-4 4.3", 160,
                   120, kMp3, 48000, 2},
        FormatCase{"AVI - Audio Video Interleave (*.avi)", kAvi, kMpeg4, 160, 120,
                   "Raw 16-bit PCM audio", 48000, 2},
        FormatCase{"AVI - DivX Video (*.avi)", kAvi, kMpeg4, 160, 120, kMp3, 48000, 2},
        FormatCase{"MOV - QuickTime Video (*.mov)", kQuickTime, kMpeg4, 160, 120, kAac, 44100, 2},
        FormatCase{"MP4 - MPEG4 Video (*.mp4)", kQuickTime, kMpeg4, 160, 120, kAac, 44100, 2},
        FormatCase{"MPEG-1 Movie (*.mpg)", "MPEG-1 System Stream", "MPEG-1 Video", 320, 240,
                   "MPEG-1 Layer 2 (MP2)", 44100, 2},
        FormatCase{"MPEG-2 Movie (*.mpg)", "MPEG-2 System Stream", "MPEG-2 Video", 320, 240,
                   "MPEG-1 Layer 2 (MP2)", 44100, 2},
        FormatCase{"RM - Real Video (*.rm)", "Realmedia", "RealVideo 1.0", 320, 240,
                   "AC-3 (ATSC A/52)", 48000, 2},
        FormatCase{"WMV - Windows Media Video (*.wmv)", kAsf, "Windows Media Video 8", 320, 240,
                   "Windows Media Audio 8", 48000, 2},
        FormatCase{"Apple TV (*.mp4)", kQuickTime, kMpeg4, 640, 480, kAac, 44100, 2},
        FormatCase{"iPod (*.mp4)", kQuickTime, kMpeg4, 320, 240, kAac, 44100, 2},
        FormatCase{"iPod Touch (*.mp4)", kQuickTime, kMpeg4, 480, 320, kAac, 44100, 2},
        FormatCase{"iPhone (*.mp4)", kQuickTime, kMpeg4, 480, 320, kAac, 44100, 2},
        FormatCase{"PSP Video (*.mp4)", kQuickTime, kMpeg4, 368, 208, kAac, 24000, 2},
        FormatCase{"PS3 Video (*.mp4)", kQuickTime, "H.264", 720, 480, kAac, 44100, 2},
        FormatCase{"Xbox360 AVI Video (*.avi)", kAvi, kMpeg4, 160, 120, "Raw 16-bit PCM audio",
                   48000, 2},
        FormatCase{"Xbox360 MPEG2 Video (*.mpg)", "MPEG-2 System Stream", "MPEG-2 Video", 320,
                   240, "MPEG-1 Layer 2 (MP2)", 44100, 2},
        FormatCase{"Xbox360 MPEG4 Video (*.mp4)", kQuickTime, kMpeg4, 160, 120, kAac, 44100, 2},
        FormatCase{"Xbox360 WMV Video (*.wmv)", kAsf, "Windows Media Video 8", 320, 240,
                   "Windows Media Audio 8", 48000, 2},
        FormatCase{"Zune Mpeg4 Video (*.mp4)", kQuickTime, kMpeg4, 320, 240, kAac, 44100, 2},
        FormatCase{"Zune WMV Windows Media Video (*.wmv)", kAsf, "Windows Media Video 8", 320,
                   240, "Windows Media Audio 8", 48000, 2},
        FormatCase{"Archos AV500/GMini402 (*.avi)", kAvi, kMpeg4, 480, 272, kMp3, 48000, 2},
        FormatCase{"Archos AV700 (*.avi)", kAvi, kMpeg4, 720, 480, kMp3, 48000, 2},
        FormatCase{"BlackBerry MPEG-4 Video (*.mp4)", kQuickTime, kMpeg4, 320, 240, kAac, 44100, 2},
        FormatCase{"BlackBerry AVI Video (*.avi)", kAvi, "ITU H.26n", 176, 144, kMp3, 44100, 2},
        FormatCase{"BlackBerry 3GP Video (*.3gp)", "3GP", kMpeg4, 176, 144, kAmr, 8000, 1},
        FormatCase{"Creative Zen Vision (*.avi)", kAvi, kMpeg4, 640, 480, kMp3, 48000, 2},
        FormatCase{"iRiver PMP100 (*.avi)", kAvi, kMpeg4, 640, 480, kMp3, 48000, 2}),
    [](const auto& info) {
        std::string name;
        for (const char c : std::string(info.param.format))
            if (std::isalnum(static_cast<unsigned char>(c)))
                name += c;
        return name;
    });

}  // namespace
}  // namespace clipmora
