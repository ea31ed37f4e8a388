// The generated test media: each preset decodes to the frames, samples and
// frame numbers it was written with, and bad specs fail cleanly.
#include "tests/support/media_generator.h"

#include "engine/library_binding.h"
#include "tests/support/decoded_checks.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

namespace clipmora::testing {
namespace {

struct PresetCase {
    const char* name;
    MediaSpec (*make)();
    const char* file;
    int64_t audioSlack;  // samples: one encoder frame plus the encoder's priming
    int64_t muxerDelayUs = 0;  // start delay the muxer adds to every timestamp
};

void PrintTo(const PresetCase& preset, std::ostream* out) { *out << preset.name; }

const PresetCase kPresets[] = {
    {"Mp4H264Aac", Mp4H264Aac, "h264_aac.mp4", 1024 + 1024},
    {"AviMpeg4Mp3", AviMpeg4Mp3, "mpeg4_mp3.avi", 1152 + 1105},
    // 0.5 s preload plus one frame that moves the first DTS up to zero.
    {"MpegProgramStream", MpegProgramStream, "mpeg2_mp2.vob", 1152, 540'000},
    {"MatroskaClip", MatroskaClip, "h264_vorbis.mkv", 1024},
    {"AsfWmv", AsfWmv, "wmv2_wma.asf", 2048 + 2048},
    {"AudioOnly", AudioOnly, "aac.m4a", 1024 + 1024},
    {"VideoOnly", VideoOnly, "h264.mp4", 0},
    {"AudioFirst", AudioFirst, "audio_first.mp4", 1024 + 1024},
    {"StartOffset", StartOffset, "offset.ts", 1152},
};

// The media types of the file's streams in index order.
std::vector<AVMediaType> StreamKinds(const std::string& path)
{
    AVFormatContext* raw = nullptr;
    if (lib.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return {};
    auto close = [](AVFormatContext* c) { lib.avformat_close_input(&c); };
    std::unique_ptr<AVFormatContext, decltype(close)> format(raw, close);
    if (lib.avformat_find_stream_info(format.get(), nullptr) < 0)
        return {};
    std::vector<AVMediaType> kinds;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        kinds.push_back(format->streams[i]->codecpar->codec_type);
    return kinds;
}

class PresetTest : public ::testing::TestWithParam<PresetCase> {
protected:
    void SetUp() override { BindLibrariesForTests(); }
};

TEST_P(PresetTest, DecodesToWhatWasWritten)
{
    const PresetCase& preset = GetParam();
    const MediaSpec spec = preset.make();
    const std::string path = CachedMedia(preset.file, spec);

    std::vector<AVMediaType> kinds;
    if (!spec.videoCodec.empty())
        kinds.push_back(AVMEDIA_TYPE_VIDEO);
    if (!spec.audioCodec.empty())
        kinds.insert(spec.audioFirst ? kinds.begin() : kinds.end(), AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(StreamKinds(path), kinds);

    const DecodedSummary got = DecodeMedia(path);

    if (spec.videoCodec.empty()) {
        EXPECT_EQ(got.videoFrames, 0);
    } else {
        const int frames =
            static_cast<int>(std::lround(spec.seconds * spec.frameRateNum / spec.frameRateDen));
        EXPECT_NEAR(got.videoFrames, frames, 1);
        EXPECT_EQ(got.width, spec.width);
        EXPECT_EQ(got.height, spec.height);
        EXPECT_EQ(got.firstFramePattern, 0);
        EXPECT_EQ(got.lastFramePattern, got.videoFrames - 1);
        EXPECT_NEAR(got.firstVideoPtsUs, spec.startTimeUs + preset.muxerDelayUs, 100'000);
        if (spec.startTimeUs > 0) {
            EXPECT_EQ(got.firstVideoPtsUs, spec.startTimeUs);  // kept exactly, not rounded
        }
    }
    if (spec.audioCodec.empty()) {
        EXPECT_EQ(got.audioSamples, 0);
    } else {
        const auto samples = std::llround(spec.seconds * spec.sampleRate);
        EXPECT_GE(got.audioSamples, samples - preset.audioSlack);
        EXPECT_LE(got.audioSamples, samples + preset.audioSlack);
        EXPECT_EQ(got.sampleRate, spec.sampleRate);
        EXPECT_EQ(got.channels, spec.channels);
        EXPECT_NEAR(got.firstAudioPtsUs, spec.startTimeUs + preset.muxerDelayUs, 100'000);
    }
}

INSTANTIATE_TEST_SUITE_P(Presets, PresetTest, ::testing::ValuesIn(kPresets),
                         [](const auto& info) { return std::string(info.param.name); });

class GeneratorTest : public ::testing::Test {
protected:
    void SetUp() override { BindLibrariesForTests(); }
    TempFolder folder;
};

// Encoders that want other picture and sample formats (RGB pictures, mono
// 16-bit samples without a fixed frame size), an odd size and a fractional
// frame rate; the decoded RGB pictures go through the luma conversion.
TEST_F(GeneratorTest, ConvertsFormatsForLosslessEncoders)
{
    MediaSpec spec;
    spec.container = "avi";
    spec.videoCodec = "png";
    spec.audioCodec = "pcm_s16le";
    spec.width = 100;
    spec.height = 75;
    spec.frameRateNum = 30000;
    spec.frameRateDen = 1001;
    spec.seconds = 0.5;
    spec.sampleRate = 22050;
    spec.channels = 1;
    const std::string path = folder.file("png_pcm.avi");
    GenerateMedia(path, spec);
    const DecodedSummary got = DecodeMedia(path);
    EXPECT_EQ(got.width, 100);
    EXPECT_EQ(got.height, 75);
    EXPECT_TRUE(HoldsPictures(got, 0, 14));
    EXPECT_EQ(got.audioSamples, 11025);
    EXPECT_EQ(got.channels, 1);
}

TEST_F(GeneratorTest, BadSpecsThrowAndLeaveNoFile)
{
    const std::string path = folder.file("bad.mp4");
    auto expectRejected = [&](const MediaSpec& spec, const char* what) {
        SCOPED_TRACE(what);
        EXPECT_THROW(GenerateMedia(path, spec), std::runtime_error);
        EXPECT_FALSE(std::filesystem::exists(path));
    };
    MediaSpec spec = Mp4H264Aac();
    spec.container = "no-such-container";
    expectRejected(spec, "unknown container");
    spec = Mp4H264Aac();
    spec.videoCodec = "no-such-encoder";
    expectRejected(spec, "unknown video encoder");
    spec = Mp4H264Aac();
    spec.audioCodec = "libx264";
    expectRejected(spec, "video encoder as audio encoder");
    spec = AviMpeg4Mp3();
    spec.sampleRate = 12345;
    expectRejected(spec, "sample rate the encoder lacks");
    spec = Mp4H264Aac();
    spec.videoCodec.clear();
    spec.audioCodec.clear();
    expectRejected(spec, "no streams");
    spec = AviMpeg4Mp3();
    spec.pixelFormat = "yuv422p";
    expectRejected(spec, "picture format the encoder lacks");
    spec = VideoOnly();
    spec.width = 8;
    expectRejected(spec, "picture too small for the pattern");
    spec = VideoOnly();
    spec.seconds = 3000;  // more frames than the pattern can number
    expectRejected(spec, "too many frames");
    // The ipod muxer refuses Vorbis only when writing the header, after the
    // file was created: the file must be removed again.
    spec = Mp4H264Aac();
    spec.container = "ipod";
    spec.audioCodec = "libvorbis";
    expectRejected(spec, "codec the container refuses");

    MediaSpec unwritable = VideoOnly();
    EXPECT_THROW(GenerateMedia(folder.file("missing/dir/clip.mp4"), unwritable),
                 std::runtime_error);
}

TEST_F(GeneratorTest, DecodeRejectsMissingAndGarbageFiles)
{
    EXPECT_THROW(DecodeMedia(folder.file("absent.mp4")), std::runtime_error);
    const std::string garbage = folder.file("garbage.mp4");
    {
        std::ofstream out(garbage, std::ios::binary);
        std::mt19937 random(7);
        for (int i = 0; i < 4096; ++i)
            out.put(static_cast<char>(random()));
    }
    EXPECT_THROW(DecodeMedia(garbage), std::runtime_error);
}

TEST(FramePattern, ReadsBackDrawnValuesAndRejectsOtherPictures)
{
    constexpr int kWidth = 160, kHeight = 120, kStride = 176;
    std::vector<uint8_t> plane(kStride * kHeight, 128);
    for (int value : {0, 1, 2, 255, 4096, 12345, 65535}) {
        DrawFramePattern(plane.data(), kStride, kWidth, kHeight, value);
        EXPECT_EQ(FramePatternValue(plane.data(), kStride, kWidth, kHeight), value);
    }

    // A small picture still carries the pattern, a bigger one reads it too.
    std::vector<uint8_t> small(24 * 16);
    DrawFramePattern(small.data(), 24, 24, 16, 77);
    EXPECT_EQ(FramePatternValue(small.data(), 24, 24, 16), 77);

    // One flipped block (marker, value or check bit) makes the picture unreadable.
    for (int block : {0, 5, 13, 23}) {
        DrawFramePattern(plane.data(), kStride, kWidth, kHeight, 1000);
        const int x = (block % 12) * kWidth / 12 + 6;
        const int y = (block / 12) * kHeight / 8 + 7;
        for (int dy = -4; dy <= 4; ++dy)
            for (int dx = -4; dx <= 4; ++dx) {
                uint8_t& p = plane[(y + dy) * kStride + x + dx];
                p = p > 128 ? 16 : 235;
            }
        EXPECT_EQ(FramePatternValue(plane.data(), kStride, kWidth, kHeight), -1) << block;
    }

    std::vector<uint8_t> gray(kStride * kHeight, 128);
    EXPECT_EQ(FramePatternValue(gray.data(), kStride, kWidth, kHeight), -1);
    std::mt19937 random(42);
    std::vector<uint8_t> noise(kStride * kHeight);
    for (auto& p : noise)
        p = static_cast<uint8_t>(random());
    EXPECT_EQ(FramePatternValue(noise.data(), kStride, kWidth, kHeight), -1);
    std::vector<uint8_t> white(kStride * kHeight, 235);
    EXPECT_EQ(FramePatternValue(white.data(), kStride, kWidth, kHeight), -1);

    // Unusable arguments read as "no pattern" or are refused.
    EXPECT_EQ(FramePatternValue(nullptr, kStride, kWidth, kHeight), -1);
    EXPECT_EQ(FramePatternValue(plane.data(), kWidth - 1, kWidth, kHeight), -1);
    EXPECT_EQ(FramePatternValue(plane.data(), 8, 8, 8), -1);
    EXPECT_THROW(DrawFramePattern(plane.data(), kStride, kWidth, kHeight, 65536),
                 std::invalid_argument);
    EXPECT_THROW(DrawFramePattern(plane.data(), kStride, kWidth, kHeight, -1),
                 std::invalid_argument);
}

}  // namespace
}  // namespace clipmora::testing
