// The frame server: reading trim scripts, and the engine and the probe
// reading the segment a script describes, exact to the frame.
#include "engine/av_probe.h"
#include "framesrv/trim_script.h"
#include "tests/support/task_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace clipmora {
namespace {

using framesrv::ParseTrimScript;
using framesrv::TrimScript;
using testing::CachedMedia;
using testing::EngineFailure;
using testing::DecodedSummary;
using testing::DecodeMedia;
using testing::MediaSpec;

std::string scriptText(const std::string& source, const std::string& trim, bool avi = false)
{
    std::string text = "LoadPlugin(\"/opt/clipmora/DirectShowSource.dll\")\r\n";
    text += avi ? "AviSource(\"" + source + "\")\r\n"
                : "DirectShowSource(\"" + source + "\", fps=25, convertfps=true)\r\n";
    return text + trim + "\r\n";
}

TEST(TrimScriptText, ReadsBothSourceKindsAndTheFrameRange)
{
    TrimScript script;
    ASSERT_TRUE(ParseTrimScript(scriptText("/v/a clip.mp4", "TRIM(250,500)"), script));
    EXPECT_EQ(script.source, "/v/a clip.mp4");
    EXPECT_FALSE(script.aviSource);
    EXPECT_EQ(script.first, 250);
    EXPECT_EQ(script.last, 500);

    ASSERT_TRUE(ParseTrimScript(scriptText("/v/say \"hi\").avi", "Trim(0,0)", true), script));
    EXPECT_EQ(script.source, "/v/say \"hi\").avi") << "quotes in a name are part of it";
    EXPECT_TRUE(script.aviSource);
    EXPECT_EQ(script.last, 0);

    // LF line ends, no plug-in line and a negative last frame (a count) are
    // read too.
    ASSERT_TRUE(ParseTrimScript("AviSource(\"x.avi\")\nTRIM(10,-5)\n", script));
    EXPECT_EQ(script.last, 14);
}

TEST(TrimScriptText, RefusesAnythingElse)
{
    TrimScript script;
    for (const std::string& text :
         {scriptText("x.mp4", "TRIM(5,2)"), scriptText("x.mp4", "TRIM(a,2)"),
          scriptText("x.mp4", "TRIM(5)"), scriptText("x.mp4", "TRIM(-5,10)"),
          std::string("TRIM(0,0)\r\n"),
          scriptText("x.mp4", "TRIM(0,0)") + "Invert()\r\n",
          scriptText("x.mp4", "TRIM(0,0)") + "AviSource(\"y.avi\")\r\n",
          std::string("DirectShowSource(\"x.mp4\", fps=30)\r\nTRIM(0,0)\r\n"),
          // The plug-in line stands first or nowhere; no line is added or left
          // blank, as a name with a line end would make them.
          scriptText("a.mp4\", fps=25, convertfps=true)\r\nLoadPlugin(\"Q.mp4", "TRIM(0,0)"),
          scriptText("x.mp4", "TRIM(0,0)") + "LoadPlugin(\"y.dll\")\r\n",
          scriptText("x.mp4", "\r\nTRIM(0,0)"),
          // Frame numbers whose counts or times cannot be computed.
          scriptText("x.mp4", "TRIM(0,-9223372036854775808)"),
          scriptText("x.mp4", "TRIM(0,9223372036854775807)"),
          scriptText("x.mp4", "TRIM(9223372036854775807,0)"),
          scriptText("x.mp4", "TRIM(0,99999999999999999999)")})
        EXPECT_FALSE(ParseTrimScript(text, script)) << text;
}

class ServedSegmentTest : public testing::TaskTest {
protected:
    std::string writeScript(const std::string& source, int64_t first, int64_t last,
                            bool avi = false, const std::string& name = "r.avs")
    {
        const std::string path = folder.file(name);
        std::ofstream(path, std::ios::binary)
            << scriptText(source, "TRIM(" + std::to_string(first) + "," + std::to_string(last) + ")",
                          avi);
        return path;
    }

    static MediaSpec ntscClip(double seconds)
    {
        MediaSpec spec = testing::Mp4H264Aac();
        spec.frameRateNum = 30000;
        spec.frameRateDen = 1001;
        spec.seconds = seconds;
        return spec;
    }

    // The source picture on screen at `seconds`: the last one starting at or before it.
    static int pictureAt(double seconds, int rateNum, int rateDen)
    {
        return static_cast<int>(std::floor(seconds * rateNum / rateDen + 1e-9));
    }
};

TEST_F(ServedSegmentTest, MarkedSegmentOfANtscClipIsExactTo25FramesPerSecond)
{
    const std::string source = CachedMedia("ntsc_22s.mp4", ntscClip(22.0));
    const std::string script = writeScript(source, 250, 500);

    TAVProbe probe;
    ASSERT_TRUE(probe.OpenMedia(script)) << probe.LastError();
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    const VideoStreamInfo info = probe.ReadFirstVideoStreamInfo();
    EXPECT_EQ(info.FrameRateNum * 1.0 / info.FrameRateDen, 25.0);
    EXPECT_NEAR(probe.ReadFileInfo().Duration, 251 * 40000, 1000);
    probe.CloseMedia();

    run(script, {{"vcodec", "mpeg4"}, {"acodec", "pcm_s16le"}, {"qscale", "2"}},
        folder.file("segment.avi"));
    EXPECT_NEAR(task.TotalOutputDurationMs(), 10040, 1);
    const DecodedSummary out = DecodeMedia(folder.file("segment.avi"));
    EXPECT_EQ(out.videoFrames, 251);
    EXPECT_EQ(out.firstFramePattern, pictureAt(10.0, 30000, 1001));
    EXPECT_EQ(out.lastFramePattern, pictureAt(20.0, 30000, 1001));
    for (int n = 0; n < 251; ++n)
        ASSERT_EQ(out.framePatterns[n], pictureAt((250 + n) / 25.0, 30000, 1001)) << n;
    EXPECT_NEAR(static_cast<double>(out.audioSamples) / out.sampleRate, 251 / 25.0, 1024.0 / 44100);
}

// A segment holds the source pictures on screen at its frames' times (an
// AVI's own rate, else 25 per second), with the sound of the same span.
TEST_F(ServedSegmentTest, SegmentsHoldThePicturesShownAtTheirFramesAndTheirSound)
{
    // The muxer makes room for the MP3 encoder's delay with an empty index
    // entry after the first picture: the others lie one frame late.
    MediaSpec thirty = testing::AviMpeg4Mp3();
    thirty.frameRateNum = 30;
    thirty.seconds = 3.0;
    // Every tenth entry is empty (a dropped frame), and the sound can be
    // compared sample by sample.
    MediaSpec dropped = testing::AviMpeg4Mp3();
    dropped.audioCodec = "pcm_s16le";
    dropped.seconds = 4.0;
    dropped.dropEvery = 10;
    // Pictures reordered by the decoder, which hands each out a packet late.
    MediaSpec reordered = dropped;
    reordered.dropEvery = 0;
    reordered.bFrames = 2;
    MediaSpec programStream = testing::MpegProgramStream();
    programStream.seconds = 3.0;
    struct Case {
        const char* name;
        MediaSpec spec;
        int64_t first, last;
        int (*shownAt)(int64_t frame);  // the source picture on screen at a frame
    };
    for (const Case& c :
         {Case{"thirty.avi", thirty, 30, 59, [](int64_t n) { return static_cast<int>(n - 1); }},
          Case{"dropped.avi", dropped, 41, 78,
               [](int64_t n) { return static_cast<int>(n % 10 == 9 ? n - 1 : n); }},
          Case{"reordered.avi", reordered, 60, 99, [](int64_t n) { return static_cast<int>(n); }},
          Case{"sound.mpg", programStream, 30, 54,
               [](int64_t n) { return static_cast<int>(n); }}}) {
        task.PrepareTask();
        task.SetVerbosity(0);
        const std::string source = CachedMedia(c.name, c.spec);
        const std::string output = folder.file(std::string(c.name) + ".nut");
        run(writeScript(source, c.first, c.last, c.spec.container == "avi"),
            {{"vcodec", "copy"}, {"acodec", "copy"}}, output);
        const DecodedSummary out = DecodeMedia(output);
        std::vector<int> shown;
        for (int64_t n = c.first; n <= c.last; ++n)
            shown.push_back(c.shownAt(n));
        EXPECT_EQ(out.framePatterns, shown) << c.name;

        const double rate = static_cast<double>(c.spec.frameRateNum) / c.spec.frameRateDen;
        EXPECT_NEAR(static_cast<double>(out.audioSamples) / out.sampleRate,
                    static_cast<double>(c.last - c.first + 1) / rate, 0.03)
            << c.name;
        if (c.spec.audioCodec != "pcm_s16le")
            continue;
        const int64_t from = std::llround(static_cast<double>(c.first) / rate * c.spec.sampleRate);
        for (std::size_t i = 0; i < out.samples.size(); ++i) {
            const auto channel = static_cast<int>(i % out.channels);
            const int64_t at = from + static_cast<int64_t>(i / out.channels);
            ASSERT_NEAR(out.samples[i],
                        32767 * testing::ToneValue(channel, at, c.spec.sampleRate,
                                                   c.spec.toneAmplitude),
                        1.0)
                << c.name << ": sample " << at << " of channel " << channel;
        }
    }
}

TEST_F(ServedSegmentTest, ZeroZeroIsTheWholeClip)
{
    const std::string source = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    run(writeScript(source, 0, 0), {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"acodec", "pcm_s16le"}},
        folder.file("whole.avi"));
    const DecodedSummary out = DecodeMedia(folder.file("whole.avi"));
    EXPECT_TRUE(HoldsPictures(out, 0, 49));
}

TEST_F(ServedSegmentTest, SourceStartTimeDoesNotMoveTheCut)
{
    MediaSpec late = testing::StartOffset();  // clock starts at 10 s
    late.seconds = 3.0;
    MediaSpec plain = late;
    plain.startTimeUs = 0;
    const std::string lateSource = CachedMedia("late_start.ts", late);
    const std::string plainSource = CachedMedia("plain_start.ts", plain);

    run(writeScript(lateSource, 20, 44),
        {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"acodec", "pcm_s16le"}},
        folder.file("late.avi"));
    task.PrepareTask();
    task.SetVerbosity(0);
    run(writeScript(plainSource, 20, 44, false, "plain.avs"),
        {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"an", ""}}, folder.file("plain.avi"));
    const DecodedSummary a = DecodeMedia(folder.file("late.avi"));
    const DecodedSummary b = DecodeMedia(folder.file("plain.avi"));
    EXPECT_EQ(a.videoFrames, 25);
    EXPECT_EQ(a.framePatterns, b.framePatterns);
    EXPECT_EQ(a.firstFramePattern, 20);
    // This source's sound (MPEG audio layer 2) is decoded ahead of the graph;
    // it is cut to the same second and its file does not stay behind.
    EXPECT_NEAR(static_cast<double>(a.audioSamples) / a.sampleRate, 1.0, 0.03);
    EXPECT_FALSE(std::filesystem::exists(folder.file("r-sound.wav")));
}

// The engine reads a segment's frames as the graph gives them; outputs that
// copy its streams still get them as raw pictures and PCM sound.
TEST_F(ServedSegmentTest, CopiedStreamsOfASegmentAreItsRawPicturesAndSound)
{
    const std::string source = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    run(writeScript(source, 10, 14), {{"vcodec", "copy"}, {"acodec", "copy"}},
        folder.file("raw.nut"));
    const DecodedSummary out = DecodeMedia(folder.file("raw.nut"));
    EXPECT_TRUE(HoldsPictures(out, 10, 14));
    EXPECT_NEAR(static_cast<double>(out.audioSamples) / out.sampleRate, 0.2, 1024.0 / 44100);
}

// Served frames cannot be sought: a start time drops the frames before it.
TEST_F(ServedSegmentTest, StartTimeOnAScriptStartsInsideTheSegment)
{
    const std::string source = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    run(writeScript(source, 0, 49), {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"an", ""}},
        folder.file("later.avi"), {{"ss", "1"}});
    const DecodedSummary out = DecodeMedia(folder.file("later.avi"));
    ASSERT_GT(out.videoFrames, 0);
    EXPECT_NEAR(out.firstFramePattern, 25, 1);
    EXPECT_EQ(out.lastFramePattern, 49);
}

TEST_F(ServedSegmentTest, SourceWithoutSoundGivesPictureOnly)
{
    const std::string source = CachedMedia("video_only.mp4", testing::VideoOnly());
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenMedia(writeScript(source, 5, 9))) << probe.LastError();
    EXPECT_EQ(probe.StreamCount(), 1);
    EXPECT_EQ(probe.VideoStreamCount(), 1);
}

TEST_F(ServedSegmentTest, AwkwardFileNamesAreServedWhole)
{
    const std::string clip = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    const std::string awkward =
        folder.file("it's [a] \"test\", x:y; b\\c ünï.mp4");
    std::filesystem::copy_file(clip, awkward);
    run(writeScript(awkward, 10, 14), {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"an", ""}},
        folder.file("awkward.avi"));
    const DecodedSummary out = DecodeMedia(folder.file("awkward.avi"));
    EXPECT_EQ(out.videoFrames, 5);
    EXPECT_EQ(out.firstFramePattern, 10);
}

TEST_F(ServedSegmentTest, BrokenScriptsFailWithTheInputMessages)
{
    const std::string junk = folder.file("junk.avs");
    std::ofstream(junk) << "Version()\r\n";
    EXPECT_EQ(EngineFailure([&] { task.AddInputFile(junk); }),
              junk + ": Unknown format");

    const std::string missingSource = writeScript(folder.file("gone.mp4"), 0, 0);
    EXPECT_EQ(EngineFailure([&] { task.AddInputFile(missingSource); }),
              missingSource + ": no such file or directory");

    EXPECT_EQ(EngineFailure([&] { task.AddInputFile(folder.file("none.avs")); }),
              folder.file("none.avs") + ": no such file or directory");
}

TEST_F(ServedSegmentTest, SoundOnlySourcesAreCutByTheSameFrameNumbers)
{
    MediaSpec mpegSound = testing::StartOffset();  // MPEG audio layer 2 in a transport stream
    mpegSound.videoCodec.clear();
    mpegSound.seconds = 3.0;
    for (const std::string& source : {CachedMedia("sound.m4a", testing::AudioOnly()),
                                       CachedMedia("sound.ts", mpegSound)}) {
        task.PrepareTask();
        task.SetVerbosity(0);
        // Frames 25 to 49 at 25 per second: the second second.
        run(writeScript(source, 25, 49), {{"acodec", "pcm_s16le"}}, folder.file("second.wav"));
        const DecodedSummary out = DecodeMedia(folder.file("second.wav"));
        EXPECT_EQ(out.videoFrames, 0) << source;
        EXPECT_NEAR(static_cast<double>(out.audioSamples) / out.sampleRate, 1.0, 0.03) << source;
        std::filesystem::remove(folder.file("second.wav"));
    }
}

}  // namespace
}  // namespace clipmora
