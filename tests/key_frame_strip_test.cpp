// The timeline strip's builder over generated files: each slot shows the key
// frame at or before its time, and the loudness is the tone's.
#include "engine/key_frame_strip.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>

namespace clipmora {
namespace {

using testing::CachedMedia;
using testing::MediaSpec;

// What one build handed on, gathered from the worker thread.
struct Gathered {
    std::mutex lock;
    std::condition_variable finishedCondition;
    std::map<int, StripPicture> pictures;  // by slot
    std::map<int, StripLoudness> loudness;
    bool finished = false;
    bool completed = false;
};

void gatherInto(TKeyFrameStrip& strip, Gathered& gathered)
{
    strip.OnPicture = [&](const StripPicture& picture) {
        const std::lock_guard hold(gathered.lock);
        gathered.pictures[picture.slot] = picture;
    };
    strip.OnLoudness = [&](const StripLoudness& loudness) {
        const std::lock_guard hold(gathered.lock);
        gathered.loudness[loudness.slot] = loudness;
    };
    strip.OnFinished = [&](bool completed) {
        const std::lock_guard hold(gathered.lock);
        gathered.finished = true;
        gathered.completed = completed;
        gathered.finishedCondition.notify_all();
    };
}

// The frame number an RGB picture carries, read from its luma.
int rgbPattern(const StripPicture& picture)
{
    std::vector<uint8_t> luma(static_cast<size_t>(picture.width) * picture.height);
    for (size_t i = 0; i < luma.size(); ++i) {
        const uint8_t* rgb = &picture.rgb[i * 3];
        luma[i] = static_cast<uint8_t>((299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2]) / 1000);
    }
    return testing::FramePatternValue(luma.data(), picture.width, picture.width, picture.height);
}

struct StripCase {
    const char* name;
    MediaSpec spec;
    int pictureHeight;
    double aspect;  // the pictures' width to height
};

void PrintTo(const StripCase& row, std::ostream* out) { *out << row.name; }

class KeyFrameStripTest : public ::testing::TestWithParam<StripCase> {
protected:
    void SetUp() override { testing::BindLibrariesForTests(); }
};

TEST_P(KeyFrameStripTest, SlotsShowTheKeyFrameAtOrBeforeTheirTimeAndTheTonesLevel)
{
    const StripCase& row = GetParam();
    const std::string file = CachedMedia(std::string("strip_") + row.name, row.spec);
    const std::vector<int64_t> times{0, 450, 500, 1300, 1990, 2900};

    TKeyFrameStrip strip;
    Gathered gathered;
    gatherInto(strip, gathered);
    strip.Start(StripRequest{file, times, row.pictureHeight, 200});
    {
        std::unique_lock hold(gathered.lock);
        gathered.finishedCondition.wait(hold, [&] { return gathered.finished; });
    }
    strip.Cancel();
    ASSERT_TRUE(gathered.completed);
    ASSERT_EQ(gathered.pictures.size(), times.size());

    const double frameMs = 1000.0 * row.spec.frameRateDen / row.spec.frameRateNum;
    for (const auto& [slot, picture] : gathered.pictures) {
        SCOPED_TRACE(::testing::Message() << "slot " << slot);
        const int frame = static_cast<int>(times[static_cast<size_t>(slot)] / frameMs);
        const int key = frame / row.spec.keyFrameInterval * row.spec.keyFrameInterval;
        EXPECT_EQ(picture.timeMs, times[static_cast<size_t>(slot)]);
        EXPECT_EQ(picture.height, row.pictureHeight);
        EXPECT_NEAR(static_cast<double>(picture.width) / picture.height, row.aspect, 0.05);
        EXPECT_EQ(rgbPattern(picture), key);
        // Containers may shift every time a little (the sound's priming).
        EXPECT_NEAR(static_cast<double>(picture.keyTimeMs), key * frameMs, frameMs);
    }

    // The tone is steady: every window has its level (an encoder's start
    // may overshoot its peak a little).
    if (row.spec.audioCodec.empty()) {
        EXPECT_TRUE(gathered.loudness.empty());
        return;
    }
    EXPECT_EQ(gathered.loudness.size(), times.size());
    for (const auto& [slot, loudness] : gathered.loudness) {
        SCOPED_TRACE(::testing::Message() << "loudness slot " << slot);
        EXPECT_NEAR(loudness.peak, row.spec.toneAmplitude, 0.15);
        EXPECT_NEAR(loudness.rms, row.spec.toneAmplitude / std::sqrt(2.0), 0.04);
    }
}

MediaSpec sized(MediaSpec spec, int width, int height, double seconds)
{
    spec.width = width;
    spec.height = height;
    spec.seconds = seconds;
    return spec;
}

INSTANTIATE_TEST_SUITE_P(
    Files, KeyFrameStripTest,
    ::testing::Values(
        StripCase{"mp4_h264_aac", sized(testing::Mp4H264Aac(), 320, 240, 3.0), 60, 4.0 / 3.0},
        StripCase{"avi_mpeg4_mp3", sized(testing::AviMpeg4Mp3(), 320, 240, 3.0), 60, 4.0 / 3.0},
        StripCase{"mkv_wide", sized(testing::MatroskaClip(), 320, 180, 3.0), 48, 16.0 / 9.0},
        StripCase{"mp4_video_only", sized(testing::VideoOnly(), 320, 240, 3.0), 60, 4.0 / 3.0}),
    [](const ::testing::TestParamInfo<StripCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace clipmora
