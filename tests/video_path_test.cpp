// The video path: frame-rate synchronisation, frame limits, crop, scale and
// pad with their colours, and the frame hooks (custom, before hook, time
// ranges, hook modules). Outputs that check pixels use a lossless encoder.
#include "engine/frame_hook.h"
#include "tests/support/task_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace clipmora {
namespace {

using testing::CachedMedia;
using testing::DecodedSummary;
using testing::DecodeMedia;

class VideoPathTest : public testing::TaskTest {
protected:
    std::string clip() { return CachedMedia("clip.mp4", testing::Mp4H264Aac()); }
    // The source's first picture, as the decoder gives it.
    const DecodedSummary& source()
    {
        static const DecodedSummary decoded = DecodeMedia(clip());
        return decoded;
    }
    // The clip converted to `rate` with uncompressed sound, every dropped
    // and duplicated picture logged.
    DecodedSummary convertToRate(const char* rate, const std::string& name)
    {
        task.SetVerbosity(3);
        run(clip(), {{"r", rate}, {"vcodec", "mpeg4"}, {"acodec", "pcm_s16le"}}, folder.file(name));
        return DecodeMedia(folder.file(name));
    }
};

// Every output's picture and sound last equally long, within one frame. The
// sound is compared as uncompressed samples, which carry no encoder priming.
void expectInStep(const DecodedSummary& summary, double frameRate)
{
    ASSERT_GT(summary.sampleRate, 0);
    const double video = summary.videoFrames / frameRate;
    const double audio = static_cast<double>(summary.audioSamples) / summary.sampleRate;
    EXPECT_NEAR(video, audio, 1.0 / frameRate + 0.03) << "video " << video << " s, audio " << audio;
}

TEST_F(VideoPathTest, HigherRateDuplicatesPicturesInOrder)
{
    const DecodedSummary out = convertToRate("30", "thirty.avi");
    EXPECT_NEAR(out.videoFrames, 60, 1);
    // Each source picture appears, in order; about one in five twice.
    std::vector<int> seen = out.framePatterns;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    EXPECT_EQ(seen.size(), 50u);
    int duplicates = 0;
    for (const auto& [level, text] : log)
        if (text.rfind("*** ", 0) == 0 && text.find(" dup!") != std::string::npos)
            duplicates += std::atoi(text.c_str() + 4);
    EXPECT_EQ(duplicates, out.videoFrames - 50);
    expectInStep(out, 30.0);
}

TEST_F(VideoPathTest, LowerRateDropsPicturesAndCountsThem)
{
    const DecodedSummary out = convertToRate("10", "ten.avi");
    EXPECT_NEAR(out.videoFrames, 20, 1);
    EXPECT_EQ(countLogged("*** drop!"), 50 - out.videoFrames);
    EXPECT_TRUE(std::is_sorted(out.framePatterns.begin(), out.framePatterns.end()));
    expectInStep(out, 10.0);
}

TEST_F(VideoPathTest, FrameLimitHoldsEvenWhenDuplicatesAreDue)
{
    run(clip(), {{"vframes", "20"}, {"r", "30"}, {"vcodec", "mpeg4"}}, folder.file("limit.avi"));
    EXPECT_EQ(DecodeMedia(folder.file("limit.avi")).videoFrames, 20);
}

TEST_F(VideoPathTest, CropPadAndPadColourReachThePixels)
{
    // 160x120 source: crop 32 left and 16 top, pad 8 all round in red.
    run(clip(),
        {{"cropleft", "32"}, {"croptop", "16"}, {"padtop", "8"}, {"padbottom", "8"},
         {"padleft", "8"}, {"padright", "8"}, {"padcolor", "255"}, {"vcodec", "ffv1"},
         {"an", ""}},
        folder.file("framed.mkv"));
    const DecodedSummary out = DecodeMedia(folder.file("framed.mkv"));
    ASSERT_EQ(out.width, 128 + 16);
    ASSERT_EQ(out.height, 104 + 16);
    // The bands carry the pad colour: red is Y 76, U 85, V 255.
    for (auto [x, y] : {std::pair{0, 0}, {70, 2}, {140, 60}, {3, 110}}) {
        EXPECT_EQ(out.Y(x, y), 76) << x << "," << y;
        EXPECT_EQ(out.U(x, y), 85) << x << "," << y;
        EXPECT_EQ(out.V(x, y), 255) << x << "," << y;
    }
    // Inside, the picture is the source moved by the crop and the pad.
    const DecodedSummary& in = source();
    for (auto [x, y] : {std::pair{8, 8}, {60, 40}, {135, 111}})
        EXPECT_EQ(out.Y(x, y), in.Y(x - 8 + 32, y - 8 + 16)) << x << "," << y;
}

// Pad bands carry the pad colour whatever the encoder's pixel format: deeper
// YUV holds the same colour at its depth, RGB holds the colour itself, and
// packed formats get their side bands too. `y`, `u` and `v` are red after the
// decoder's conversion to 8-bit YUV 4:2:0.
class PadColourTest : public VideoPathTest {
protected:
    void expectRedBands(const char* pixelFormat, const char* file, int y, int u, int v)
    {
        const bool raw = std::string(file).ends_with(".nut");
        run(clip(),
            {{"padtop", "8"}, {"padbottom", "8"}, {"padleft", "8"}, {"padright", "8"},
             {"padcolor", "255"}, {"pix_fmt", pixelFormat}, {"vcodec", raw ? "rawvideo" : "ffv1"},
             {"an", ""}},
            folder.file(file));
        const DecodedSummary out = DecodeMedia(folder.file(file));
        ASSERT_EQ(out.width, 160 + 16);
        for (auto [x, row] : {std::pair{0, 0}, {80, 2}, {2, 60}, {172, 60}, {100, 133}}) {
            EXPECT_NEAR(out.Y(x, row), y, 3) << x << "," << row;
            EXPECT_NEAR(out.U(x, row), u, 3) << x << "," << row;
            EXPECT_NEAR(out.V(x, row), v, 3) << x << "," << row;
        }
        // The picture itself is untouched by the bands.
        EXPECT_NEAR(out.Y(60, 40), source().Y(52, 32), 3);
    }
};

TEST_F(PadColourTest, DeepYuv) { expectRedBands("yuv420p10le", "deep.mkv", 76, 85, 255); }
TEST_F(PadColourTest, PlanarRgb) { expectRedBands("gbrp", "planar_rgb.mkv", 76, 85, 255); }
TEST_F(PadColourTest, PackedRgb) { expectRedBands("rgb24", "packed_rgb.nut", 82, 90, 240); }
TEST_F(PadColourTest, PackedYuv) { expectRedBands("yuyv422", "packed_yuv.nut", 76, 85, 255); }

TEST_F(VideoPathTest, ScaleIntoAPaddedPicture)
{
    run(clip(),
        {{"s", "80x60"}, {"padtop", "10"}, {"padbottom", "10"}, {"padcolor", "0"},
         {"vcodec", "ffv1"}, {"an", ""}},
        folder.file("scaled.mkv"));
    const DecodedSummary out = DecodeMedia(folder.file("scaled.mkv"));
    ASSERT_EQ(out.width, 80);
    ASSERT_EQ(out.height, 80);
    // Pad colours convert with full-range coefficients: RGB black is Y 0.
    EXPECT_EQ(out.Y(40, 2), 0) << "black band";
    EXPECT_EQ(out.Y(40, 77), 0) << "black band";
    EXPECT_EQ(out.V(40, 77), 128);
    // The picture between the bands is the source at half size.
    const DecodedSummary& in = source();
    EXPECT_NEAR(out.Y(60, 50), in.Y(120, 80), 12);
}

TEST_F(VideoPathTest, CustomHookInvertsThePicture)
{
    int calls = 0;
    task.SetCustomHookSlot([&](TCustomFFmpeg&, THookBitmap& bitmap, int frameNumber, int64_t,
                               bool& update, bool&) {
        EXPECT_EQ(frameNumber, ++calls);
        EXPECT_EQ(bitmap.Width, 160);
        for (int y = 0; y < bitmap.Height; ++y)
            for (int x = 0; x < bitmap.Width * 3; ++x)
                bitmap.Pixels[y * bitmap.Stride + x] ^= 0xFF;
        update = true;
    });
    run(clip(), {{"vcodec", "ffv1"}, {"an", ""}}, folder.file("inverted.mkv"));
    EXPECT_EQ(calls, 50);
    const DecodedSummary out = DecodeMedia(folder.file("inverted.mkv"));
    const DecodedSummary& in = source();
    // Inverting the colours mirrors luma within its 16..235 range.
    for (auto [x, y] : {std::pair{5, 5}, {80, 60}, {150, 100}})
        EXPECT_NEAR(out.Y(x, y) + in.Y(x, y), 16 + 235, 8) << x << "," << y;
    EXPECT_EQ(out.firstFramePattern, -1) << "inverted blocks are no pattern";
}

TEST_F(VideoPathTest, CustomHookWithoutUpdateLeavesThePictureAndStopHookEndsIt)
{
    int calls = 0;
    task.SetCustomHookSlot([&](TCustomFFmpeg&, THookBitmap& bitmap, int, int64_t, bool& update,
                               bool& stopHook) {
        ++calls;
        bitmap.Pixels[0] ^= 0xFF;  // changed, but not written back
        update = false;
        stopHook = calls == 3;
    });
    run(clip(), {{"vcodec", "ffv1"}, {"an", ""}}, folder.file("untouched.mkv"));
    EXPECT_EQ(calls, 3);
    const DecodedSummary out = DecodeMedia(folder.file("untouched.mkv"));
    EXPECT_EQ(out.framePatterns.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(out.framePatterns[i], i);
}

TEST_F(VideoPathTest, FailingCustomHookIsLoggedAndThePictureKept)
{
    task.SetCustomHookSlot([](TCustomFFmpeg&, THookBitmap&, int, int64_t, bool&, bool&) {
        throw std::runtime_error("no canvas");
    });
    run(clip(), {{"vcodec", "ffv1"}, {"an", ""}, {"vframes", "3"}}, folder.file("failing.mkv"));
    EXPECT_EQ(DecodeMedia(folder.file("failing.mkv")).firstFramePattern, 0);
}

class HookModuleTest : public VideoPathTest {
protected:
    void SetUp() override
    {
        VideoPathTest::SetUp();
        task.ParseOption("vhook", SAMPLE_VHOOK_PATH);
    }
};

TEST_F(HookModuleTest, ModuleProcessesEveryPicture)
{
    run(clip(), {{"vcodec", "ffv1"}, {"an", ""}}, folder.file("module.mkv"));
    const DecodedSummary out = DecodeMedia(folder.file("module.mkv"));
    EXPECT_EQ(out.videoFrames, 50);
    EXPECT_TRUE(std::all_of(out.framePatterns.begin(), out.framePatterns.end(),
                            [](int p) { return p == -1; }));
    EXPECT_EQ(out.Y(80, 60), 255 - source().Y(80, 60));
}

TEST_F(HookModuleTest, BeforeHookIgnoresOnePictureAndStopsForGood)
{
    int calls = 0;
    task.SetBeforeHookSlot([&](TCustomFFmpeg&, int64_t pts, THookAction& action) {
        ++calls;
        const int frame = static_cast<int>((pts + 20000) / 40000);
        action = frame == 2 ? haIgnore : frame == 5 ? haStop : haContinue;
    });
    run(clip(), {{"vcodec", "ffv1"}, {"an", ""}}, folder.file("before.mkv"));
    EXPECT_EQ(calls, 6) << "asked for pictures 0 to 5, never after the stop";
    const std::vector<int>& p = DecodeMedia(folder.file("before.mkv")).framePatterns;
    ASSERT_EQ(p.size(), 50u);
    EXPECT_EQ(p[0], -1);
    EXPECT_EQ(p[1], -1);
    EXPECT_EQ(p[2], 2) << "ignored: not processed";
    EXPECT_EQ(p[3], -1) << "the next picture asks again";
    EXPECT_EQ(p[4], -1);
    for (int i = 5; i < 50; ++i)
        EXPECT_EQ(p[i], i);
}

TEST_F(HookModuleTest, TimeRangesGateTheModule)
{
    // Pictures every 40 ms: 0.0-0.2 s and 1.0-1.2 s are processed, nothing
    // after 1.2 s.
    task.SetHookTimeRanges({{1000000, 1200000}, {0, 200000}});
    run(clip(), {{"vcodec", "ffv1"}, {"an", ""}}, folder.file("ranges.mkv"));
    const std::vector<int>& p = DecodeMedia(folder.file("ranges.mkv")).framePatterns;
    ASSERT_EQ(p.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        const int64_t pts = i * 40000;
        const bool processed = pts <= 200000 || (pts >= 1000000 && pts <= 1200000);
        EXPECT_EQ(p[i], processed ? -1 : i) << "picture " << i;
    }
}

// The first pass writes the encoder's statistics to its log file; the
// second reads them back and encodes every picture again.
TEST_F(VideoPathTest, TwoPassesShareTheirStatistics)
{
    const std::string stats = folder.file("stats");
    run(clip(), {{"pass", "1"}, {"passlogfile", stats.c_str()}, {"vcodec", "mpeg4"}, {"an", ""}},
        folder.file("first.avi"));
    ASSERT_TRUE(std::filesystem::exists(stats + "-0.log"));
    EXPECT_GT(std::filesystem::file_size(stats + "-0.log"), 0u);
    task.PrepareTask();
    run(clip(), {{"pass", "2"}, {"passlogfile", stats.c_str()}, {"vcodec", "mpeg4"}, {"an", ""}},
        folder.file("second.avi"));
    EXPECT_EQ(DecodeMedia(folder.file("second.avi")).videoFrames, 50);
}

TEST_F(VideoPathTest, StatisticsFileHasALinePerPicture)
{
    // Each line measures its own picture: a finite, decent PSNR where the
    // encoder measures the error (mpeg4), none where it does not (libx264,
    // without delay so that every picture gives its packet at once).
    for (const char* encoder : {"mpeg4", "libx264"}) {
        const bool measured = std::string(encoder) == "mpeg4";
        SCOPED_TRACE(encoder);
        const std::string stats = folder.file(std::string(encoder) + ".log");
        task.PrepareTask();
        task.SetVerbosity(0);
        task.ParseOption("vstats_file", stats);
        run(clip(),
            {{"vcodec", encoder}, {"an", ""}, {"vframes", "10"}, {"psnr", ""},
             {"tune", "zerolatency"}},
            folder.file(std::string(encoder) + ".mp4"));
        task.FreeRunState();  // closes the statistics file
        std::ifstream in(stats);
        std::string line;
        int lines = 0;
        while (std::getline(in, line)) {
            ++lines;
            EXPECT_EQ(line.rfind("frame= ", 0), 0u) << line;
            EXPECT_NE(line.find(" type= "), std::string::npos) << line;
            const auto psnr = line.find("PSNR= ");
            if (!measured) {
                EXPECT_EQ(line.find("PSNR"), std::string::npos) << line;
                continue;
            }
            ASSERT_NE(psnr, std::string::npos) << line;
            const double value = std::stod(line.substr(psnr + 6));
            EXPECT_TRUE(std::isfinite(value)) << line;
            EXPECT_GT(value, 20.0) << line;
        }
        EXPECT_EQ(lines, 10);
    }
}

// A transport stream whose pictures shrink from 320x240 to 160x120 after one
// second (each half numbers its frames from 0).
std::string sizeChangingStream(const testing::TempFolder& folder)
{
    testing::MediaSpec large = testing::StartOffset();
    large.audioCodec.clear();
    large.width = 320;
    large.height = 240;
    large.seconds = 1.0;
    large.startTimeUs = 0;
    testing::MediaSpec small = large;
    small.width = 160;
    small.height = 120;
    small.startTimeUs = 1'000'000;
    const std::string joined = folder.file("switch.ts");
    std::ofstream out(joined, std::ios::binary);
    for (const auto& [name, spec] : {std::pair{"large.ts", large}, std::pair{"small.ts", small}})
        out << std::ifstream(CachedMedia(name, spec), std::ios::binary).rdbuf();
    return joined;
}

TEST_F(VideoPathTest, APictureSizeChangeKeepsTheOutputSize)
{
    const std::string clip = sizeChangingStream(folder);
    run(clip, {{"vcodec", "mpeg4"}}, folder.file("kept.avi"));
    const DecodedSummary kept = DecodeMedia(folder.file("kept.avi"));
    EXPECT_EQ(kept.width, 320);
    EXPECT_NEAR(kept.videoFrames, 50, 2);
    EXPECT_EQ(kept.lastFramePattern, 24) << "the small pictures, scaled up";

    task.PrepareTask();
    task.SetVerbosity(0);
    run(clip, {{"vcodec", "mpeg4"}, {"s", "640x480"}}, folder.file("scaled.avi"));
    const DecodedSummary scaled = DecodeMedia(folder.file("scaled.avi"));
    EXPECT_EQ(scaled.width, 640);
    EXPECT_EQ(scaled.height, 480);
    EXPECT_NEAR(scaled.videoFrames, 50, 2);
    EXPECT_EQ(scaled.lastFramePattern, 24);
}

TEST_F(VideoPathTest, FixedQuantiserReachesTheEncoder)
{
    run(clip(), {{"vcodec", "mpeg4"}, {"an", ""}, {"qscale", "2"}}, folder.file("fine.avi"));
    task.PrepareTask();
    task.SetVerbosity(0);
    run(clip(), {{"vcodec", "mpeg4"}, {"an", ""}, {"qscale", "31"}}, folder.file("coarse.avi"));
    const auto fine = std::filesystem::file_size(folder.file("fine.avi"));
    const auto coarse = std::filesystem::file_size(folder.file("coarse.avi"));
    EXPECT_GT(fine, 2 * coarse) << "quantiser 2 keeps far more detail than 31";
}

}  // namespace
}  // namespace clipmora
