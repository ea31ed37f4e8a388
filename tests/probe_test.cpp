// The media probe over generated files of each kind the window accepts.
#include "engine/av_probe.h"
#include "engine/conversions.h"
#include "engine/library_binding.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <vector>

namespace clipmora {
namespace {

using testing::CachedMedia;
using testing::MediaSpec;

// Collects the lines the libraries' logger receives while it is installed.
class LogCapture {
public:
    LogCapture()
    {
        lines().clear();
        lib.av_log_set_callback(&LogCapture::callback);
    }
    ~LogCapture() { lib.av_log_set_callback(lib.av_log_default_callback); }

    static std::vector<std::pair<int, std::string>>& lines()
    {
        static std::vector<std::pair<int, std::string>> captured;
        return captured;
    }

private:
    static void callback(void*, int level, const char* format, va_list args)
    {
        char text[1024];
        std::vsnprintf(text, sizeof text, format, args);
        lines().emplace_back(FromLibraryLogLevel(level), text);
    }
};

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override { testing::BindLibrariesForTests(); }

    // The open file's streams: all of them, then audio, video and subtitle.
    std::array<int, 4> streamCounts() const
    {
        return {probe.StreamCount(), probe.AudioStreamCount(), probe.VideoStreamCount(),
                probe.SubtitleStreamCount()};
    }

    TAVProbe probe;
};

TEST_F(ProbeTest, ClosedProbeHasNoCountsAndPresetRecords)
{
    EXPECT_FALSE(probe.IsOpen());
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.VideoStreamCount(), -1);
    EXPECT_EQ(probe.FirstAudioStream(), -1);

    LogCapture capture;
    const FileInfo info = probe.ReadFileInfo();
    EXPECT_EQ(info.Duration, -1);
    EXPECT_EQ(info.Year, -1);
    EXPECT_TRUE(info.Title.empty());
    const VideoStreamInfo video = probe.ReadFirstVideoStreamInfo();
    EXPECT_EQ(video.Width, -1);
    EXPECT_FLOAT_EQ(video.DisplayAspect, -1.0f);
    ASSERT_EQ(LogCapture::lines().size(), 2u);
    EXPECT_EQ(LogCapture::lines()[0], (std::pair<int, std::string>{1, "file not loaded.\n"}));
}

TEST_F(ProbeTest, AudioBeforeVideoIsCountedByKind)
{
    ASSERT_TRUE(probe.OpenMedia(CachedMedia("audio_first.mp4", testing::AudioFirst())))
        << probe.LastError();
    EXPECT_EQ(streamCounts(), (std::array{2, 1, 1, 0}));
    EXPECT_EQ(probe.FirstAudioStream(), 0);
    EXPECT_EQ(probe.FirstVideoStream(), 1);
    EXPECT_EQ(probe.FirstSubtitleStream(), -1);

    const VideoStreamInfo video = probe.ReadFirstVideoStreamInfo();
    EXPECT_EQ(video.Width, 160);
    EXPECT_EQ(video.Height, 120);
    EXPECT_EQ(video.FrameRateNum * 1.0 / video.FrameRateDen, 25.0);
    EXPECT_EQ(video.CodecName, "h264");

    // Asking for the audio stream as a video stream is refused with a log line.
    LogCapture capture;
    EXPECT_EQ(probe.ReadVideoStreamInfo(0).Width, -1);
    EXPECT_EQ(probe.ReadVideoStreamInfo(7).Width, -1);
    ASSERT_EQ(LogCapture::lines().size(), 2u);
    EXPECT_EQ(LogCapture::lines()[0].second, "stream #0 is not video stream.\n");
    EXPECT_EQ(LogCapture::lines()[1].second, "stream index #7 is invalid.\n");
    EXPECT_EQ(LogCapture::lines()[1].first, 0);
}

TEST_F(ProbeTest, AudioOnlyFileHasNoVideoStreamInfo)
{
    ASSERT_TRUE(probe.OpenMedia(CachedMedia("audio_only.m4a", testing::AudioOnly())))
        << probe.LastError();
    EXPECT_EQ(streamCounts(), (std::array{1, 1, 0, 0}));
    EXPECT_EQ(probe.FirstVideoStream(), -1);

    LogCapture capture;
    const VideoStreamInfo video = probe.ReadFirstVideoStreamInfo();
    EXPECT_EQ(video.Width, -1);
    EXPECT_EQ(video.Height, -1);
    EXPECT_EQ(video.FrameRateNum, -1);
    EXPECT_EQ(video.FrameRateDen, -1);
    EXPECT_FLOAT_EQ(video.DisplayAspect, -1.0f);
    ASSERT_EQ(LogCapture::lines().size(), 1u);
    EXPECT_EQ(LogCapture::lines()[0], (std::pair<int, std::string>{0, "no video stream.\n"}));
}

struct ContainerCase {
    const char* file;
    MediaSpec (*spec)();
    const char* videoCodec;
    int audioStreams;
    int videoStreams;

    friend void PrintTo(const ContainerCase& c, std::ostream* out) { *out << c.file; }
};

class ProbeContainerTest : public ProbeTest,
                           public ::testing::WithParamInterface<ContainerCase> {};

TEST_P(ProbeContainerTest, ReadsDurationRateAndSize)
{
    const ContainerCase& c = GetParam();
    const MediaSpec spec = c.spec();
    ASSERT_TRUE(probe.OpenMedia(CachedMedia(c.file, spec))) << probe.LastError();
    EXPECT_EQ(probe.AudioStreamCount(), c.audioStreams);
    EXPECT_EQ(probe.VideoStreamCount(), c.videoStreams);

    const FileInfo info = probe.ReadFileInfo();
    EXPECT_NEAR(info.Duration / 1e6, spec.seconds, 0.15);
    const VideoStreamInfo video = probe.ReadFirstVideoStreamInfo();
    EXPECT_EQ(video.CodecName, c.videoCodec);
    EXPECT_EQ(video.Width, spec.width);
    EXPECT_EQ(video.Height, spec.height);
    EXPECT_NEAR(video.FrameRateNum * 1.0 / video.FrameRateDen,
                spec.frameRateNum * 1.0 / spec.frameRateDen, 0.01);
    EXPECT_GE(video.PixelFormat, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, ProbeContainerTest,
    ::testing::Values(ContainerCase{"clip.mp4", testing::Mp4H264Aac, "h264", 1, 1},
                      ContainerCase{"clip.avi", testing::AviMpeg4Mp3, "mpeg4", 1, 1},
                      ContainerCase{"clip.mpg", testing::MpegProgramStream, "mpeg2video", 1, 1},
                      ContainerCase{"clip.mkv", testing::MatroskaClip, "h264", 1, 1},
                      ContainerCase{"clip.wmv", testing::AsfWmv, "wmv2", 1, 1},
                      ContainerCase{"video_only.mp4", testing::VideoOnly, "h264", 0, 1}),
    [](const auto& info) {
        std::string name = info.param.file;
        for (char& c : name)
            if (c == '.')
                c = '_';
        return name;
    });

TEST_F(ProbeTest, StartOffsetIsReportedInMicroseconds)
{
    const MediaSpec spec = testing::StartOffset();
    ASSERT_TRUE(probe.OpenMedia(CachedMedia("start_offset.ts", spec))) << probe.LastError();
    EXPECT_NEAR(probe.ReadFileInfo().StartTime / 1e6, spec.startTimeUs / 1e6, 0.2);
    const VideoStreamInfo video = probe.ReadFirstVideoStreamInfo();
    ASSERT_NE(video.StartTimeUs, -1);
    EXPECT_NEAR(video.StartTimeUs / 1e6, spec.startTimeUs / 1e6, 0.2);
    // The stream's own units are the 90 kHz clock of a transport stream.
    EXPECT_NEAR(static_cast<double>(video.StartTime) / 90000.0, video.StartTimeUs / 1e6, 1e-4);
}

TEST_F(ProbeTest, MissingFileSaysSo)
{
    EXPECT_FALSE(probe.OpenMedia("/no/such/clip.mp4"));
    EXPECT_EQ(probe.LastError(), "/no/such/clip.mp4: no such file or directory");
    EXPECT_FALSE(probe.IsOpen());
    EXPECT_EQ(probe.StreamCount(), -1);
}

TEST_F(ProbeTest, UnknownForcedFormatIsRefusedBeforeOpening)
{
    const std::string clip = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    EXPECT_FALSE(probe.OpenMedia(clip, "nosuchformat"));
    EXPECT_EQ(probe.LastError(), "Unknown input format: nosuchformat");
    EXPECT_FALSE(probe.IsOpen());

    ASSERT_TRUE(probe.OpenMedia(clip, "mp4")) << probe.LastError();
    EXPECT_EQ(probe.ForcedFormat(), "mp4");
}

TEST_F(ProbeTest, GarbageIsAnUnknownFormatAndFailureClosesAnEarlierFile)
{
    testing::TempFolder folder;
    const std::string garbage = folder.file("noise.mp4");
    {
        std::ofstream out(garbage, std::ios::binary);
        std::mt19937 random(7);
        for (int i = 0; i < 4096; ++i)
            out.put(static_cast<char>(random() & 0xff));
    }
    ASSERT_TRUE(probe.OpenMedia(CachedMedia("clip.mp4", testing::Mp4H264Aac())));
    EXPECT_FALSE(probe.OpenMedia(garbage));
    EXPECT_EQ(probe.LastError(), garbage + ": Unknown format");
    EXPECT_FALSE(probe.IsOpen());
    EXPECT_EQ(probe.AudioStreamCount(), -1);
}

TEST_F(ProbeTest, CloseMediaResetsEverything)
{
    ASSERT_TRUE(probe.OpenMedia(CachedMedia("clip.mp4", testing::Mp4H264Aac()), "mp4"));
    probe.CloseMedia();
    EXPECT_FALSE(probe.IsOpen());
    EXPECT_TRUE(probe.ForcedFormat().empty());
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.ProgramCount(), -1);
    EXPECT_EQ(probe.FirstVideoStream(), -1);
}

// Year and track tags are read as the number they begin with.
TEST(NumericTagTest, LeadingWholeNumberOrTheFallback)
{
    EXPECT_EQ(LeadingInteger("2009", -1), 2009);
    EXPECT_EQ(LeadingInteger("3/12", -1), 3);
    EXPECT_EQ(LeadingInteger(" +7 (remaster)", -1), 7);
    EXPECT_EQ(LeadingInteger("-4", -1), -4);
    EXPECT_EQ(LeadingInteger("", -1), -1);
    EXPECT_EQ(LeadingInteger("track 3", -1), -1);
    EXPECT_EQ(LeadingInteger("99999999999", -1), -1) << "too large for the field";
}

}  // namespace
}  // namespace clipmora
