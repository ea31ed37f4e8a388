// Whole runs of one task: stream copy, re-encoding, stopping, stream
// mapping, and inputs that are cut short.
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_thread.h"
#include "tests/support/task_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace clipmora {
namespace {

using testing::CachedMedia;
using testing::EngineFailure;
using testing::DecodedSummary;
using testing::DecodeMedia;

class RunTest : public testing::TaskTest {};

TEST_F(RunTest, StreamCopyIntoAnotherContainerKeepsEveryFrame)
{
    const std::string output = folder.file("copy.mkv");
    run(CachedMedia("clip.mp4", testing::Mp4H264Aac()), {{"vcodec", "copy"}, {"acodec", "copy"}},
        output);
    EXPECT_TRUE(task.Finished()) << task.ExceptionMessage() << loggedText();
    EXPECT_FALSE(task.ExceptionRaised()) << task.ExceptionMessage();

    const DecodedSummary summary = DecodeMedia(output);
    EXPECT_TRUE(HoldsPictures(summary, 0, 49));
    EXPECT_NEAR(summary.audioSamples, 88200, 2048);
}

TEST_F(RunTest, ReencodeGivesEveryPictureOnceAndTheWholeSound)
{
    const std::string output = folder.file("clip.avi");
    run(CachedMedia("clip.mp4", testing::Mp4H264Aac()),
        {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}, {"b", "800000"}}, output);
    EXPECT_TRUE(task.Finished()) << task.ExceptionMessage() << loggedText();

    const DecodedSummary summary = DecodeMedia(output);
    EXPECT_EQ(summary.width, 160);
    EXPECT_TRUE(HoldsPictures(summary, 0, 49));
    EXPECT_EQ(summary.sampleRate, 44100);
    EXPECT_EQ(summary.channels, 2);
    // Both codecs add their own priming and padding.
    EXPECT_NEAR(summary.audioSamples, 88200, 3 * 1152);
}

TEST_F(RunTest, ResizeAndResampleToTheRequestedFormat)
{
    const std::string output = folder.file("small.mp4");
    run(CachedMedia("clip.avi", testing::AviMpeg4Mp3()),
        {{"vcodec", "mpeg4"}, {"s", "96x64"}, {"acodec", "aac"}, {"ar", "22050"}, {"ac", "1"}},
        output);
    EXPECT_TRUE(task.Finished()) << task.ExceptionMessage() << loggedText();
    const DecodedSummary summary = DecodeMedia(output);
    EXPECT_EQ(summary.width, 96);
    EXPECT_EQ(summary.height, 64);
    EXPECT_EQ(summary.videoFrames, 50);
    EXPECT_EQ(summary.sampleRate, 22050);
    EXPECT_EQ(summary.channels, 1);
    EXPECT_NEAR(summary.audioSamples, 44100, 2048);
}

TEST_F(RunTest, StopEndsTheRunWithAPlayableFile)
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 6.0;
    const std::string output = folder.file("stopped.avi");
    task.SetProgressIntervalUs(0);
    int reports = 0;
    task.SetProgressSlot([&](TCustomFFmpeg& self, const TProgressInfo& info) {
        ++reports;
        if (info.FrameNumber >= 10)
            self.RequestStop();
    });
    run(CachedMedia("six_seconds.mp4", spec), {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}},
        output);
    EXPECT_FALSE(task.Finished());
    EXPECT_FALSE(task.ExceptionRaised()) << task.ExceptionMessage();
    EXPECT_GT(reports, 1);

    // The trailer was written: the file decodes, and holds only the start.
    const DecodedSummary summary = DecodeMedia(output);
    EXPECT_GE(summary.videoFrames, 10);
    EXPECT_LT(summary.videoFrames, 100);
    EXPECT_EQ(summary.firstFramePattern, 0);
}

TEST_F(RunTest, RecordingTimeLimitsTheOutput)
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 3.0;
    const std::string output = folder.file("one_second.avi");
    run(CachedMedia("three_seconds.mp4", spec),
        {{"t", "1"}, {"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}}, output);
    EXPECT_TRUE(task.Finished()) << loggedText();
    const DecodedSummary summary = DecodeMedia(output);
    EXPECT_NEAR(summary.videoFrames, 25, 1);
    EXPECT_NEAR(summary.audioSamples, 44100, 3 * 1152);
}

TEST_F(RunTest, ProgressCarriesTheExpectedTotal)
{
    std::vector<TProgressInfo> reports;
    task.SetProgressIntervalUs(0);
    task.SetProgressSlot(
        [&](TCustomFFmpeg&, const TProgressInfo& info) { reports.push_back(info); });
    run(CachedMedia("clip.mp4", testing::Mp4H264Aac()), {{"vcodec", "mpeg4"}},
        folder.file("progress.avi"));
    ASSERT_FALSE(reports.empty());
    for (const TProgressInfo& info : reports)
        EXPECT_NEAR(info.TotalOutputDurationMs, 2000, 100);
    EXPECT_NEAR(reports.back().CurrentDurationMs, 2000, 100);
    EXPECT_EQ(reports.back().FrameNumber, 50);
    EXPECT_GT(reports.back().CurrentSize, 0);
}

TEST_F(RunTest, NoBitRateBeforeAnyOutputTime)
{
    std::vector<TProgressInfo> reports;
    task.SetProgressIntervalUs(0);
    task.SetProgressSlot(
        [&](TCustomFFmpeg&, const TProgressInfo& info) { reports.push_back(info); });
    // Copied pictures start at time 0, so the first reports have no output time yet.
    run(CachedMedia("clip.mp4", testing::Mp4H264Aac()), {{"vcodec", "copy"}, {"an", ""}},
        folder.file("copied.mp4"));
    ASSERT_FALSE(reports.empty());
    for (const TProgressInfo& info : reports) {
        if (info.CurrentDurationMs == 0) {
            EXPECT_EQ(info.BitRate, 0.0f) << "size " << info.CurrentSize;
        }
    }
    EXPECT_LT(reports.back().BitRate, 1000.0f);
}

TEST_F(RunTest, AudioOnlyOutputReportsNoFrames)
{
    std::vector<TProgressInfo> reports;
    task.SetProgressSlot(
        [&](TCustomFFmpeg&, const TProgressInfo& info) { reports.push_back(info); });
    run(CachedMedia("clip.mp4", testing::Mp4H264Aac()), {{"vn", ""}}, folder.file("sound.mp3"));
    EXPECT_TRUE(task.Finished()) << loggedText();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().FrameNumber, -1);
    EXPECT_EQ(reports.back().FPS, -1);
    EXPECT_FLOAT_EQ(reports.back().Quality, -1.0f);
}

TEST_F(RunTest, StreamMapsMustMatchAndPointAtRealStreams)
{
    const std::string clip = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    struct Case {
        std::vector<const char*> maps;
        const char* message;
    };
    for (const Case& c : {Case{{"0.2", "0.1"}, "Could not find input stream #0.2"},
                          Case{{"0.0", "0.1", "0.1"},
                               "Number of stream maps must match number of output streams"},
                          Case{{"0.1", "0.1"}, "Codec type mismatch for mapping #0.1 -> #0.0"}}) {
        task.PrepareTask();
        task.SetVerbosity(0);
        ASSERT_NO_THROW(task.AddInputFile(clip));
        for (const char* map : c.maps)
            task.ParseOption("map", map);
        ASSERT_NO_THROW(task.CreateOutputFile(folder.file("mapped.avi")));
        task.StartTask(false, tpNormal);
        EXPECT_TRUE(task.ExceptionRaised());
        EXPECT_EQ(task.ExceptionMessage(), c.message);
    }
}

TEST_F(RunTest, TwoOutputsShareOneInputStream)
{
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("clip.mp4", testing::Mp4H264Aac())));
    task.ParseOption("vcodec", "mpeg4");
    ASSERT_NO_THROW(task.CreateOutputFile(folder.file("first.avi")));
    task.ParseOption("vcodec", "mpeg4");
    ASSERT_NO_THROW(task.CreateOutputFile(folder.file("second.avi")));
    task.StartTask(false, tpNormal);
    EXPECT_TRUE(task.Finished()) << task.ExceptionMessage();
    EXPECT_EQ(DecodeMedia(folder.file("first.avi")).videoFrames, 50);
    EXPECT_EQ(DecodeMedia(folder.file("second.avi")).videoFrames, 50);
}

TEST_F(RunTest, ACopyAndAnEncodingShareOneInputStream)
{
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("clip.mp4", testing::Mp4H264Aac())));
    parse({{"vcodec", "copy"}, {"acodec", "copy"}});
    ASSERT_NO_THROW(task.CreateOutputFile(folder.file("copy.mkv")));
    parse({{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}});
    ASSERT_NO_THROW(task.CreateOutputFile(folder.file("encoded.avi")));
    task.StartTask(false, tpNormal);
    EXPECT_TRUE(task.Finished()) << task.ExceptionMessage();
    const DecodedSummary copy = DecodeMedia(folder.file("copy.mkv"));
    EXPECT_EQ(copy.videoFrames, 50);
    EXPECT_NEAR(copy.audioSamples, 88200, 2048);
    EXPECT_EQ(DecodeMedia(folder.file("encoded.avi")).videoFrames, 50);
}

TEST_F(RunTest, TruncatedInputEndsCleanly)
{
    const std::string clip = CachedMedia("clip.avi", testing::AviMpeg4Mp3());
    const std::string truncated = folder.file("truncated.avi");
    {
        std::ifstream in(clip, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(truncated, std::ios::binary).write(bytes.data(), bytes.size() / 2);
    }
    run(truncated, {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}}, folder.file("rescued.avi"));
    EXPECT_TRUE(task.Finished()) << task.ExceptionMessage();
    const DecodedSummary summary = DecodeMedia(folder.file("rescued.avi"));
    EXPECT_GT(summary.videoFrames, 5);
    EXPECT_LT(summary.videoFrames, 50);
}

TEST_F(RunTest, MissingOutputOrInputEndsAtOnce)
{
    task.StartTask(false, tpNormal);
    EXPECT_TRUE(task.Terminated());
    EXPECT_TRUE(task.ExceptionRaised());
    EXPECT_EQ(task.ExceptionMessage(), "Must supply at least one output file");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), (std::pair<int, std::string>{-1, "Must supply at least one output file"}));
}

TEST_F(RunTest, ZeroByteOutputIsDeletedWhenTheTaskGoes)
{
    const std::string output = folder.file("never.avi");
    {
        TCustomFFmpeg unused;
        unused.PrepareTask();
        ASSERT_NO_THROW(unused.AddInputFile(CachedMedia("clip.mp4", testing::Mp4H264Aac())));
        ASSERT_NO_THROW(unused.CreateOutputFile(output));
        EXPECT_TRUE(std::filesystem::exists(output));
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(RunTest, ThreadedRunCanBeStoppedFromOutside)
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 6.0;
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("six_seconds.mp4", spec)));
    task.ParseOption("vcodec", "mpeg4");
    ASSERT_NO_THROW(task.CreateOutputFile(folder.file("threaded.avi")));
    std::atomic<bool> ended{false};
    task.SetTerminateSlot([&](TCustomFFmpeg&) { ended = true; });
    TFFmpegThread* thread = task.StartTask(true, tpLower);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(task.Running());
    // Stopped before its first packet: the stop resumes the thread itself.
    task.RequestStop();
    task.WaitForThread();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(task.Terminated());
    EXPECT_FALSE(task.Finished());
    EXPECT_FALSE(task.ExceptionRaised()) << task.ExceptionMessage();
    EXPECT_FALSE(std::filesystem::exists(folder.file("threaded.avi")))
        << "a file without a packet is no output";
}

TEST_F(RunTest, SecondSoundStreamIsLeftUnclaimed)
{
    // Two inputs with sound, one sound output: the first input's sound is
    // taken; the second input's packets are read and dropped.
    testing::MediaSpec longer = testing::AudioOnly();
    longer.seconds = 3.0;
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("clip.mp4", testing::Mp4H264Aac())));
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("three_seconds.m4a", longer)));
    parse({{"vn", ""}, {"acodec", "pcm_s16le"}});
    ASSERT_NO_THROW(task.CreateOutputFile(folder.file("first_sound.wav")));
    task.StartTask(false, tpNormal);
    EXPECT_TRUE(task.Finished()) << task.ExceptionMessage();
    const DecodedSummary out = DecodeMedia(folder.file("first_sound.wav"));
    EXPECT_NEAR(static_cast<double>(out.audioSamples) / out.sampleRate, 2.0, 0.05);
}

TEST_F(RunTest, GarbageInputIsRefusedWithTheInputMessage)
{
    const std::string garbage = folder.file("noise.avi");
    {
        std::ofstream out(garbage, std::ios::binary);
        for (int i = 0; i < 8192; ++i)
            out.put(static_cast<char>((i * 7919) & 0xff));
    }
    EXPECT_EQ(EngineFailure([&] { task.AddInputFile(garbage); }),
              garbage + ": Unknown format");
    EXPECT_TRUE(task.InputFiles().empty());
}

TEST_F(RunTest, LastReportCarriesQuantiserHistogramAndPsnr)
{
    run(CachedMedia("clip.mp4", testing::Mp4H264Aac()),
        {{"vcodec", "mpeg4"}, {"psnr", ""}, {"qphist", ""}, {"an", ""}},
        folder.file("measured.avi"));
    std::string report;
    for (const auto& [level, text] : log)
        if (text.rfind("frame=", 0) == 0)
            report = text;
    ASSERT_FALSE(report.empty()) << loggedText();
    EXPECT_NE(report.find("frame=   50 "), std::string::npos) << report;
    const auto histogram = report.find(" L");
    ASSERT_NE(histogram, std::string::npos) << report;
    const std::string digits = report.substr(histogram + 2, 32);
    EXPECT_EQ(digits.find_first_not_of("0123456789ABCDEF"), std::string::npos) << report;
    const auto psnr = report.find("PSNR=Y:");
    ASSERT_NE(psnr, std::string::npos) << report;
    EXPECT_NE(report.find(" U:", psnr), std::string::npos);
    EXPECT_NE(report.find(" *:", psnr), std::string::npos);
    // A clean tone-and-gradient picture encodes well above 25 dB.
    EXPECT_GT(std::stod(report.substr(psnr + 7)), 25.0) << report;
}

TEST_F(RunTest, EachRunCountsItsOwnQuantiserHistogram)
{
    // One report per run (the last), so each run counts exactly one quantiser.
    auto histogram = [&](const std::string& name) {
        log.clear();
        task.PrepareTask();
        task.SetVerbosity(0);
        task.SetProgressIntervalUs(int64_t{1} << 50);
        run(CachedMedia("clip.mp4", testing::Mp4H264Aac()),
            {{"vcodec", "mpeg4"}, {"qphist", ""}, {"an", ""}}, folder.file(name));
        for (const auto& [level, text] : log)
            if (const auto at = text.find(" L"); text.rfind("frame=", 0) == 0 && at != std::string::npos)
                return text.substr(at + 2, 32);
        return std::string();
    };
    const std::string first = histogram("first.avi");
    const std::string second = histogram("second.avi");
    ASSERT_EQ(first.size(), 32u);
    EXPECT_EQ(std::count(first.begin(), first.end(), '1'), 1) << first;
    EXPECT_EQ(second, first) << "a later run starts from an empty histogram";
}

TEST_F(RunTest, TwoPassesShareTheirStatisticsLog)
{
    const std::string prefix = folder.file("passes");
    const std::string clip = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    // A second pass without a first one has nothing to read.
    task.ParseOption("pass", "2");
    task.ParseOption("passlogfile", prefix);
    ASSERT_NO_THROW(task.AddInputFile(clip));
    parse({{"vcodec", "mpeg4"}, {"an", ""}});
    ASSERT_NO_THROW(task.CreateOutputFile(folder.file("early.avi")));
    task.StartTask(false, tpNormal);
    EXPECT_EQ(task.ExceptionMessage(), "creat open fail: " + prefix + "-0.log");

    for (const char* pass : {"1", "2"}) {
        task.PrepareTask();
        task.SetVerbosity(0);
        task.ParseOption("pass", pass);
        task.ParseOption("passlogfile", prefix);
        run(clip, {{"vcodec", "mpeg4"}, {"b", "300000"}, {"an", ""}},
            folder.file(std::string("pass") + pass + ".avi"));
    }
    EXPECT_GT(std::filesystem::file_size(prefix + "-0.log"), 0u);
    EXPECT_EQ(DecodeMedia(folder.file("pass2.avi")).videoFrames, 50);
}

TEST_F(RunTest, SetupRefusalsEndTheTaskBeforeAnythingIsWritten)
{
    struct Case {
        std::string input;
        const char* option;
        const char* value;
        std::string message;
    };
    const std::string clip = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    // A Matroska file cut where its first picture would begin: its header
    // names the streams, but no picture tells their format.
    const std::string headerOnly = folder.file("header only.mkv");
    {
        std::ifstream in(CachedMedia("clip.mkv", testing::MatroskaClip()), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        // The first cluster's time (0), then its first block.
        const std::size_t firstBlock = bytes.find(std::string("\xE7\x81\x00\xA3", 4));
        ASSERT_NE(firstBlock, std::string::npos);
        std::ofstream(headerOnly, std::ios::binary).write(bytes.data(), firstBlock + 3);
    }
    for (const Case& c : {Case{clip, "map_meta_data", "1:0",
                               "Invalid output file index 1 map_meta_data(1,0)"},
                          Case{clip, "vcodec", "copy",
                               "-vcodec copy and CustomHook are incompatible (frames are not "
                               "decoded)"},
                          Case{headerOnly, "vcodec", "mpeg4",
                               headerOnly + ": the picture format of stream #0.0 is unknown"}}) {
        SCOPED_TRACE(c.message);
        task.PrepareTask();
        task.SetVerbosity(0);
        task.SetCustomHookSlot(
            [](TCustomFFmpeg&, THookBitmap&, int, int64_t, bool&, bool&) {});
        ASSERT_NO_THROW(task.AddInputFile(c.input));
        task.ParseOption(c.option, c.value);
        const std::string output = folder.file("refused.mkv");
        ASSERT_NO_THROW(task.CreateOutputFile(output));
        task.StartTask(false, tpNormal);
        EXPECT_TRUE(task.ExceptionRaised());
        EXPECT_EQ(task.ExceptionMessage(), c.message);
        EXPECT_FALSE(std::filesystem::exists(output)) << "an empty output does not stay";
    }
}

}  // namespace
}  // namespace clipmora
