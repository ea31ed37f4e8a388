// Opening input files: what each input reports back into the option state,
// the seek to the start time and the timestamp offset.
#include "engine/ffmpeg.h"
#include "tests/support/media_generator.h"
#include "tests/support/task_fixture.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

namespace clipmora {
namespace {

using testing::CachedMedia;
using testing::EngineFailure;

class InputOpenTest : public testing::TaskFixture {};

TEST_F(InputOpenTest, InputReportsItsPictureAndSoundIntoTheSettings)
{
    testing::MediaSpec spec = testing::AviMpeg4Mp3();
    spec.width = 176;
    spec.height = 144;
    spec.sampleRate = 22050;
    spec.channels = 1;
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("qcif.avi", spec)));
    const OptionState& o = task.Options();
    EXPECT_EQ(o.frameWidth, 176);
    EXPECT_EQ(o.frameHeight, 144);
    EXPECT_NEAR(o.frameAspectRatio, 176.0 / 144.0, 1e-5) << "square pixels give width/height";
    EXPECT_EQ(o.frameRate.num * 1.0 / o.frameRate.den, 25.0);
    EXPECT_EQ(o.pixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(o.audioSampleRate, 22050);
    EXPECT_EQ(o.audioChannels, 1);
    EXPECT_NEAR(task.TotalOutputDurationMs(), 2000, 100);

    ASSERT_EQ(task.InputFiles().size(), 1u);
    EXPECT_EQ(task.InputFiles()[0].decoders.size(), 2u);
    EXPECT_EQ(task.InputFiles()[0].tsOffset, 0);
}

TEST_F(InputOpenTest, TotalDurationIsTheLongestInput)
{
    testing::MediaSpec longer = testing::Mp4H264Aac();
    longer.seconds = 3.0;
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("long.mp4", longer)));
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("clip.mp4", testing::Mp4H264Aac())));
    EXPECT_NEAR(task.TotalOutputDurationMs(), 3000, 100);
}

TEST_F(InputOpenTest, StartTimeSeeksPastTheFilesOwnStartAndShiftsTimestamps)
{
    const testing::MediaSpec spec = testing::StartOffset();
    parse({{"ss", "1"}, {"itsoffset", "0.5"}});
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("start_offset.ts", spec)));
    const InputFile& input = task.InputFiles()[0];
    const int64_t fileStart = input.context->start_time;
    EXPECT_NEAR(fileStart / 1e6, spec.startTimeUs / 1e6, 0.2);
    EXPECT_EQ(input.tsOffset, 500000 - (1000000 + fileStart));
    EXPECT_EQ(task.Options().startTime, 0) << "the start time applies to this input only";
}

TEST_F(InputOpenTest, CopyTimestampsKeepsOnlyTheGivenOffset)
{
    parse({{"copyts", ""}, {"itsoffset", "2"}});
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("start_offset.ts", testing::StartOffset())));
    EXPECT_EQ(task.InputFiles()[0].tsOffset, 2000000);
}

TEST_F(InputOpenTest, DisabledKindsAreDiscardedAndPerInputSettingsConsumed)
{
    parse({{"an", ""}, {"vcodec", "h264"}});
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("audio_first.mp4", testing::AudioFirst())));
    const AVFormatContext* context = task.InputFiles()[0].context.get();
    EXPECT_EQ(context->streams[0]->discard, AVDISCARD_ALL) << "audio";
    EXPECT_NE(context->streams[1]->discard, AVDISCARD_ALL) << "video";
    EXPECT_TRUE(task.Options().output.video.codecName.empty());
}

TEST_F(InputOpenTest, FailuresLeaveNothingOpenAndSayWhy)
{
    EXPECT_EQ(EngineFailure([&] { task.AddInputFile("/no/such/clip.avi"); }),
              "/no/such/clip.avi: no such file or directory");

    task.ParseOption("acodec", "nosuchdecoder");
    const std::string clip = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    EXPECT_EQ(EngineFailure([&] { task.AddInputFile(clip); }), "Unknown decoder 'nosuchdecoder'");
    EXPECT_TRUE(task.Options().output.audio.codecName.empty()) << "consumed also on failure";

    task.ParseOption("f", "wav");
    const std::string avi = CachedMedia("clip.avi", testing::AviMpeg4Mp3());
    EXPECT_THROW(task.AddInputFile(avi), FFMpegException);
    EXPECT_TRUE(task.InputFiles().empty());
    EXPECT_EQ(task.Options().forcedInputFormat, nullptr);
}

}  // namespace
}  // namespace clipmora
