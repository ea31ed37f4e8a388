// The timeline strip's builder over generated files: each slot shows the key
// frame at or before its time, and its loudness is that of the loudest
// moment of its span.
#include "engine/key_frame_strip.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <map>
#include <utility>
#include <vector>
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

// Runs one build of `slots` over `file` to its end.
void buildStrip(const std::string& file, std::vector<StripSlot> slots, int pictureHeight,
                Gathered& gathered)
{
    TKeyFrameStrip strip;
    gatherInto(strip, gathered);
    strip.Start(StripRequest{file, std::move(slots), pictureHeight});
    {
        std::unique_lock hold(gathered.lock);
        gathered.finishedCondition.wait(hold, [&] { return gathered.finished; });
    }
    strip.Cancel();
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
    std::vector<StripSlot> slots;
    for (const int64_t time : times)
        slots.push_back(StripSlot{time, time + 100, time});

    Gathered gathered;
    buildStrip(file, slots, row.pictureHeight, gathered);
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

    // The tone is steady: every span has its level (an encoder's start
    // may overshoot its peak a little).
    if (row.spec.audioCodec.empty()) {
        EXPECT_TRUE(gathered.loudness.empty());
        return;
    }
    EXPECT_EQ(gathered.loudness.size(), times.size());
    for (const auto& [slot, loudness] : gathered.loudness) {
        SCOPED_TRACE(::testing::Message() << "loudness slot " << slot);
        EXPECT_EQ(loudness.firstMs, slots[static_cast<size_t>(slot)].firstMs);
        EXPECT_EQ(loudness.endMs, slots[static_cast<size_t>(slot)].endMs);
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
        StripCase{"mp4_video_only", sized(testing::VideoOnly(), 320, 240, 3.0), 60, 4.0 / 3.0},
        StripCase{"ts_starting_at_10s", sized(testing::StartOffset(), 320, 240, 3.0), 60,
                  4.0 / 3.0}),
    [](const ::testing::TestParamInfo<StripCase>& info) { return std::string(info.param.name); });

// A minute of uncompressed sound whose tone sounds only in `spans`.
std::string gatedTone(const char* name, std::vector<std::pair<double, double>> spans)
{
    MediaSpec spec = testing::AudioOnly();
    spec.container = "wav";
    spec.audioCodec = "pcm_s16le";
    spec.seconds = 60.0;
    spec.toneAmplitude = 0.5;
    spec.toneSpans = std::move(spans);
    return CachedMedia(name, spec);
}

// `count` slots of `lengthMs` each from `firstMs` on.
std::vector<StripSlot> evenSlots(int64_t firstMs, int64_t lengthMs, int count)
{
    std::vector<StripSlot> slots;
    for (int i = 0; i < count; ++i) {
        const int64_t first = firstMs + i * lengthMs;
        slots.push_back(StripSlot{first, first + lengthMs, first + lengthMs / 2});
    }
    return slots;
}

struct LoudnessCase {
    const char* name;
    std::vector<std::pair<double, double>> toneSpans;  // seconds
    std::vector<StripSlot> slots;
    std::vector<int> loudSlots;  // the others are silent
};

void PrintTo(const LoudnessCase& row, std::ostream* out) { *out << row.name; }

class StripLoudnessTest : public ::testing::TestWithParam<LoudnessCase> {
protected:
    void SetUp() override { testing::BindLibrariesForTests(); }
};

TEST_P(StripLoudnessTest, EachSlotShowsTheLoudestMomentOfItsWholeSpan)
{
    const LoudnessCase& row = GetParam();
    const std::string file = gatedTone((std::string(row.name) + ".wav").c_str(), row.toneSpans);
    Gathered gathered;
    buildStrip(file, row.slots, 36, gathered);
    ASSERT_TRUE(gathered.completed);
    ASSERT_EQ(gathered.loudness.size(), row.slots.size());
    const double amplitude = 0.5;
    for (const auto& [slot, loudness] : gathered.loudness) {
        SCOPED_TRACE(::testing::Message() << "slot " << slot << " from " << loudness.firstMs);
        EXPECT_EQ(loudness.firstMs, row.slots[static_cast<size_t>(slot)].firstMs);
        if (std::find(row.loudSlots.begin(), row.loudSlots.end(), slot) != row.loudSlots.end()) {
            EXPECT_NEAR(loudness.peak, amplitude, 0.02);
            EXPECT_NEAR(loudness.rms, amplitude / std::sqrt(2.0), 0.02);
        } else {
            EXPECT_LT(loudness.peak, 0.01);
            EXPECT_LT(loudness.rms, 0.01);
        }
    }
}

std::vector<std::pair<double, double>> fiveOnFiveOff()
{
    std::vector<std::pair<double, double>> spans;
    for (double on = 0.0; on < 60.0; on += 10.0)
        spans.emplace_back(on, on + 5.0);
    return spans;
}

INSTANTIATE_TEST_SUITE_P(
    Sounds, StripLoudnessTest,
    ::testing::Values(
        // Ten slots of 6 s: only the one holding the tone is loud, though its
        // middle (33 s) is silent.
        LoudnessCase{"one_second_tone", {{30.0, 31.0}}, evenSlots(0, 6000, 10), {5}},
        // Slots of 2.5 s: two loud, two silent, in turn.
        LoudnessCase{"five_on_five_off", fiveOnFiveOff(), evenSlots(0, 2500, 24),
                     {0, 1, 4, 5, 8, 9, 12, 13, 16, 17, 20, 21}},
        // Zoomed in on 28..32 s: the slots follow the view.
        LoudnessCase{"zoomed_in", {{30.0, 31.0}}, evenSlots(28000, 500, 8), {4, 5}},
        // Spans far apart are reached by seeking.
        LoudnessCase{"far_apart",
                     {{30.0, 31.0}},
                     {StripSlot{5000, 5500, 5250}, StripSlot{30200, 30700, 30450},
                      StripSlot{50000, 50500, 50250}},
                     {1}}),
    [](const ::testing::TestParamInfo<LoudnessCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace clipmora
