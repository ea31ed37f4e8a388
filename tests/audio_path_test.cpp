// The audio path: rate and channel conversion into encoder-sized frames,
// volume, synchronisation with late sound, and encoders without framing.
#include "tests/support/task_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace clipmora {
namespace {

using testing::CachedMedia;
using testing::DecodedSummary;
using testing::DecodeMedia;
using testing::DecodeOptions;
using testing::MediaSpec;

class AudioPathTest : public testing::TaskTest {};

// A lossless clip: 16-bit PCM sound (and a lossless picture), so sample
// values survive the trip.
MediaSpec losslessClip(int sampleRate, int channels, double amplitude)
{
    MediaSpec spec = testing::AviMpeg4Mp3();
    spec.videoCodec = "ffv1";
    spec.audioCodec = "pcm_s16le";
    spec.sampleRate = sampleRate;
    spec.channels = channels;
    spec.toneAmplitude = amplitude;
    return spec;
}

TEST_F(AudioPathTest, StereoAt48kBecomesMonoAt44kInWholeFrames)
{
    MediaSpec spec = losslessClip(48000, 2, 0.25);
    run(CachedMedia("stereo48k.avi", spec),
        {{"vn", ""}, {"acodec", "mp2"}, {"ar", "44100"}, {"ac", "1"}}, folder.file("mono.mp2"));
    const DecodedSummary out = DecodeMedia(folder.file("mono.mp2"));
    EXPECT_EQ(out.sampleRate, 44100);
    EXPECT_EQ(out.channels, 1);
    EXPECT_EQ(out.audioSamples % 1152, 0) << "every packet holds one whole frame";
    EXPECT_NEAR(out.audioSamples, 88200, 1152);
}

// Sound converted to another rate keeps its length, whether the rate is asked
// for or is the encoder's nearest to the source's (8 kHz into MPEG audio,
// which starts at 16 kHz); into PCM it keeps every sample's worth.
struct RateChangeCase {
    int sourceRate;
    const char* outputRate;  // empty: the encoder picks
    const char* output;
    int expectedRate;
    bool everySample;  // no encoder frames: the count is exact
};

class AudioRateChangeTest : public testing::TaskTest,
                            public ::testing::WithParamInterface<RateChangeCase> {};

TEST_P(AudioRateChangeTest, KeepsTheWholeLength)
{
    const RateChangeCase& c = GetParam();
    const std::string clip = CachedMedia("tone" + std::to_string(c.sourceRate) + ".avi",
                                         losslessClip(c.sourceRate, 1, 0.25));
    if (*c.outputRate)
        run(clip, {{"vn", ""}, {"ar", c.outputRate}}, folder.file(c.output));
    else
        run(clip, {{"vn", ""}}, folder.file(c.output));
    const DecodedSummary out = DecodeMedia(folder.file(c.output));
    EXPECT_EQ(out.sampleRate, c.expectedRate);
    EXPECT_NEAR(static_cast<double>(out.audioSamples) / out.sampleRate, 2.0, 0.08)
        << "seconds of sound";
    if (c.everySample) {
        EXPECT_EQ(out.audioSamples,
                  DecodeMedia(clip).audioSamples * c.expectedRate / c.sourceRate);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, AudioRateChangeTest,
    ::testing::Values(RateChangeCase{8000, "", "nearest.mpg", 16000, false},
                      RateChangeCase{8000, "48000", "up6.mp2", 48000, false},
                      RateChangeCase{22050, "44100", "up2.mp2", 44100, false},
                      RateChangeCase{48000, "44100", "down.wav", 44100, true}),
    // "From8000ToNearestInMpg", "From48000To44100InWav", ...
    [](const ::testing::TestParamInfo<RateChangeCase>& info) {
        const RateChangeCase& c = info.param;
        const std::string output = c.output;
        std::string extension = output.substr(output.rfind('.') + 1);
        extension[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(extension[0])));
        return "From" + std::to_string(c.sourceRate) + "To" +
               (*c.outputRate ? std::string(c.outputRate) : std::string("Nearest")) + "In" +
               extension;
    });

// The largest difference, in 16-bit steps, between the samples of out and
// those of in scaled by volume (256 = unity) and clipped at full scale.
double WorstVolumeError(const DecodedSummary& in, const DecodedSummary& out, int volume,
                        bool asFloat)
{
    double worst = 0;
    for (std::size_t i = 0; i < in.samples.size(); ++i) {
        if (!asFloat) {
            const int64_t expected =
                std::clamp<int64_t>((int64_t{in.samples[i]} * volume + 128) >> 8, -32768, 32767);
            worst = std::max(worst, std::fabs(static_cast<double>(out.samples[i] - expected)));
        } else {
            // Unity leaves float sound as decoded, even past full scale.
            const double sample = in.floatSamples[i];
            const double expected =
                volume == 256 ? sample
                              : std::clamp(sample * volume / 256.0, -1.0, 32767.0 / 32768.0);
            worst = std::max(worst, std::fabs(out.floatSamples[i] - expected) * 32768.0);
        }
    }
    return worst;
}

// Volume on both kinds of path. 16-bit sound into a 16-bit encoder gets
// exactly the integer formula's samples; sound decoded as float into a
// 16-bit encoder stays within one step of the formula applied to its 16-bit
// reading, and into a float encoder it is scaled without being cut down to
// 16 bits first. Every sample arrives.
TEST_F(AudioPathTest, VolumeScalesEverySampleAndClipsAtFullScale)
{
    const std::string pcm = CachedMedia("loud.avi", losslessClip(44100, 2, 0.75));
    MediaSpec floatSpec = testing::AudioOnly();  // AAC decodes to float
    floatSpec.toneAmplitude = 0.75;
    const std::string aac = CachedMedia("loud_aac.mp4", floatSpec);
    const DecodeOptions keepFloat{.keepFloatSound = true};
    const DecodedSummary pcmIn = DecodeMedia(pcm), aacIn = DecodeMedia(aac, keepFloat);

    enum class Check { Int16, Float, Count };
    struct Case {
        const char* output;
        const DecodedSummary& in;
        const std::string& source;
        int volume;
        const char* codec;
        Check check;
        double steps;  // largest difference from the expected sample, in 16-bit steps
    };
    for (const Case& c : {
             Case{"same.wav", pcmIn, pcm, 256, "pcm_s16le", Check::Int16, 0},
             Case{"louder.wav", pcmIn, pcm, 300, "pcm_s16le", Check::Int16, 0},
             Case{"quieter.wav", pcmIn, pcm, 77, "pcm_s16le", Check::Int16, 0},
             Case{"double.wav", pcmIn, pcm, 512, "pcm_s16le", Check::Int16, 0},
             Case{"max.wav", pcmIn, pcm, 999999999, "pcm_s16le", Check::Int16, 0},
             Case{"float same.wav", aacIn, aac, 256, "pcm_s16le", Check::Int16, 0},
             Case{"float louder.wav", aacIn, aac, 300, "pcm_s16le", Check::Int16, 1},
             Case{"float to float.wav", aacIn, aac, 256, "pcm_f32le", Check::Float, 0},
             Case{"float louder to float.wav", aacIn, aac, 300, "pcm_f32le", Check::Float, 0.01},
             Case{"float louder.m4a", aacIn, aac, 300, "aac", Check::Count, 0},
             Case{"pcm louder.m4a", pcmIn, pcm, 300, "aac", Check::Count, 0},
         }) {
        SCOPED_TRACE(c.output);
        task.PrepareTask();
        task.SetVerbosity(0);
        const std::string volume = std::to_string(c.volume);
        run(c.source, {{"vn", ""}, {"acodec", c.codec}, {"vol", volume.c_str()}},
            folder.file(c.output));
        const DecodedSummary out = DecodeMedia(folder.file(c.output), keepFloat);
        if (c.check == Check::Count) {
            // The encoder's whole frames: the last one is completed with silence.
            EXPECT_NEAR(out.audioSamples, c.in.audioSamples, 1024);
            continue;
        }
        ASSERT_EQ(out.audioSamples, c.in.audioSamples);
        EXPECT_LE(WorstVolumeError(c.in, out, c.volume, c.check == Check::Float), c.steps);
    }
}

// 16-bit sound into a 16-bit encoder, and into a float one (the path then
// carries float, and silence is counted in samples all the same).
TEST_F(AudioPathTest, LateSoundIsPrecededBySilenceWithAudioSync)
{
    MediaSpec spec = losslessClip(44100, 1, 0.5);
    spec.container = "matroska";  // keeps the sound's own start time
    spec.audioDelayUs = 500000;
    const std::string clip = CachedMedia("late_sound.mkv", spec);
    ASSERT_NEAR(DecodeMedia(clip).firstAudioPtsUs, 500000, 1000);
    for (const char* codec : {"pcm_s16le", "pcm_f32le"}) {
        SCOPED_TRACE(codec);
        task.PrepareTask();
        task.SetVerbosity(0);
        const std::string output = folder.file(std::string("synced ") + codec + ".avi");
        run(clip, {{"async", "1"}, {"vcodec", "ffv1"}, {"acodec", codec}}, output);
        const DecodedSummary out = DecodeMedia(output);
        // Half a second of silence, then the tone.
        const auto firstSound = std::find_if(out.samples.begin(), out.samples.end(),
                                             [](int16_t s) { return std::abs(s) > 300; });
        const auto silence = firstSound - out.samples.begin();
        EXPECT_NEAR(static_cast<double>(silence), 22050, 441) << "samples of leading silence";
        EXPECT_NEAR(out.audioSamples, 22050 + 88200, 1152);
    }
}

// Sound from before the start stays out, whether the input is read from the
// key frame before its start time or the output starts late, and also when
// the sound changes its rate on the way (what is dropped counts at the
// source's rate, what is left at the output's).
TEST_F(AudioPathTest, SoundBeforeTheStartIsLeftOut)
{
    // A key frame every 12 pictures: reading from 1.4 s starts at 0.96 s.
    const std::string clip = CachedMedia("clip.mp4", testing::Mp4H264Aac());
    const DecodedSummary in = DecodeMedia(clip);
    struct Case {
        const char* output;
        Options inputOptions;
        Options outputOptions;
        int rate = 44100;         // of the output
        int64_t tolerance = 1024; // samples
    };
    const Options lossless = {{"vcodec", "ffv1"}, {"acodec", "pcm_s16le"}};
    for (const Case& c : {Case{"input start.avi", {{"ss", "1.4"}}, {}},
                          Case{"input start synced.avi", {{"ss", "1.4"}}, {{"async", "1"}}},
                          Case{"output start.avi", {}, {{"ss", "1.4"}}},
                          Case{"input start 22050.avi", {{"ss", "1.4"}}, {{"ar", "22050"}},
                               22050, 32}}) {
        SCOPED_TRACE(c.output);
        task.PrepareTask();
        task.SetVerbosity(0);
        Options outputOptions = c.outputOptions;
        outputOptions.insert(outputOptions.end(), lossless.begin(), lossless.end());
        run(clip, outputOptions, folder.file(c.output), c.inputOptions);
        const DecodedSummary out = DecodeMedia(folder.file(c.output));
        EXPECT_EQ(out.sampleRate, c.rate);
        EXPECT_NEAR(out.audioSamples,
                    (in.audioSamples - std::llround(1.4 * in.sampleRate)) * c.rate / in.sampleRate,
                    c.tolerance);
        EXPECT_NEAR(out.firstFramePattern, 35, 1);
    }
}

TEST_F(AudioPathTest, PcmOutputTakesBlocksAsTheyCome)
{
    run(CachedMedia("clip.mp4", testing::Mp4H264Aac()), {{"vn", ""}, {"acodec", "pcm_s16le"}},
        folder.file("plain.wav"));
    const DecodedSummary out = DecodeMedia(folder.file("plain.wav"));
    EXPECT_EQ(out.sampleRate, 44100);
    EXPECT_EQ(out.channels, 2);
    EXPECT_NEAR(out.audioSamples, 88200, 1024);
}

// Sound whose channels or rate change in the middle of the stream (two MPEG
// audio streams played one after the other, as in a broadcast recording):
// the second part is converted to the shape the output was set up for, and
// none of it is lost.
TEST_F(AudioPathTest, SoundThatChangesItsShapeMidStreamIsConvertedWhole)
{
    const struct {
        const char* name;
        int firstRate, firstChannels, secondRate, secondChannels;
    } cases[] = {{"fewer channels", 44100, 2, 44100, 1},
                 {"more channels", 44100, 1, 44100, 2},
                 {"another rate", 44100, 2, 48000, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto part = [](int rate, int channels) {
            MediaSpec spec = testing::AudioOnly();
            spec.container = "mp2";
            spec.audioCodec = "mp2";
            spec.sampleRate = rate;
            spec.channels = channels;
            spec.seconds = 1.0;
            std::ifstream in(CachedMedia("part" + std::to_string(rate) + "x" +
                                             std::to_string(channels) + ".mp2",
                                         spec),
                             std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        const std::string joined = folder.file("joined.mp2");
        std::ofstream(joined, std::ios::binary)
            << part(c.firstRate, c.firstChannels) << part(c.secondRate, c.secondChannels);
        run(joined, {{"acodec", "pcm_s16le"}}, folder.file("joined.wav"));
        const DecodedSummary out = DecodeMedia(folder.file("joined.wav"));
        EXPECT_EQ(out.sampleRate, c.firstRate);
        EXPECT_NEAR(out.audioSamples, 2 * c.firstRate, 2 * 1152);
        // The tone goes on to the end (a quarter of full scale: RMS 5,800).
        const std::size_t tail = static_cast<std::size_t>(c.firstRate / 4 * out.channels);
        ASSERT_GT(out.samples.size(), tail);
        double energy = 0;
        for (std::size_t i = out.samples.size() - tail; i < out.samples.size(); ++i)
            energy += double(out.samples[i]) * out.samples[i];
        EXPECT_GT(std::sqrt(energy / double(tail)), 4000.0);
    }
}

TEST_F(AudioPathTest, CopyWithAVolumeChangeIsRefusedBeforeWriting)
{
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("clip.mp4", testing::Mp4H264Aac())));
    parse({{"acodec", "copy"}, {"vol", "300"}});
    ASSERT_NO_THROW(task.CreateOutputFile(folder.file("refused.mp4")));
    task.StartTask(false, tpNormal);
    EXPECT_TRUE(task.ExceptionRaised());
    EXPECT_EQ(task.ExceptionMessage(),
              "-acodec copy and -vol are incompatible (frames are not decoded)");
}

}  // namespace
}  // namespace clipmora
