// Output files and their streams, and the target presets.
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"
#include "tests/support/media_generator.h"
#include "tests/support/task_fixture.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace clipmora {
namespace {

using testing::CachedMedia;
using testing::EngineFailure;

class OutputSetupTest : public testing::TaskFixture {
protected:

    const OutputFile& create(const std::string& name)
    {
        const std::string path = folder.file(name);
        EXPECT_NO_THROW(task.CreateOutputFile(path));
        return task.OutputFiles().back();
    }

    static const AVCodecContext* encoderOf(const OutputFile& file, AVMediaType type)
    {
        for (const OutputStreamSetup& stream : file.streams)
            if (stream.codec->codec_type == type)
                return stream.codec.get();
        return nullptr;
    }

};

TEST_F(OutputSetupTest, DeviceProfileOptionsGiveTheExpectedStreams)
{
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("clip.mp4", testing::Mp4H264Aac())));
    parse({{"vcodec", "mpeg4"}, {"s", "320x240"}, {"b", "512000"}, {"acodec", "libfaac"},
             {"ab", "128000"}, {"ar", "44100"}});
    const OutputFile& file = create("out.mp4");
    EXPECT_STREQ(file.context->oformat->name, "mp4");
    ASSERT_EQ(file.streams.size(), 2u);

    const AVCodecContext* video = encoderOf(file, AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->codec_id, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 240);
    EXPECT_EQ(video->bit_rate, 512000);
    EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(video->time_base.num, 1);
    EXPECT_EQ(video->time_base.den, 25);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_GLOBAL_HEADER) << "mp4 wants global headers";

    const AVCodecContext* audio = encoderOf(file, AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->codec_id, AV_CODEC_ID_AAC) << "the legacy encoder name maps to aac";
    EXPECT_EQ(audio->bit_rate, 128000);
    EXPECT_EQ(audio->sample_rate, 44100);
    EXPECT_EQ(audio->ch_layout.nb_channels, 2);

    // The file exists (opened for writing) and the per-stream settings were consumed.
    EXPECT_TRUE(std::filesystem::exists(file.fileName));
    EXPECT_TRUE(task.Options().output.video.codecName.empty());
    EXPECT_TRUE(task.Options().output.audio.codecName.empty());
    EXPECT_EQ(task.Options().output.forcedFormat, nullptr);
}

TEST_F(OutputSetupTest, AudioOnlyInputGivesOneAudioStream)
{
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("audio_only.m4a", testing::AudioOnly())));
    const OutputFile& file = create("sound.mp4");
    ASSERT_EQ(file.streams.size(), 1u);
    EXPECT_EQ(file.streams[0].codec->codec_type, AVMEDIA_TYPE_AUDIO);
}

TEST_F(OutputSetupTest, WithoutInputsTheFormatsDefaultsDecide)
{
    const OutputFile& file = create("both.avi");
    ASSERT_EQ(file.streams.size(), 2u);
    EXPECT_EQ(file.streams[0].codec->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(file.streams[1].codec->codec_type, AVMEDIA_TYPE_AUDIO);

    parse({{"vn", ""}});
    const OutputFile& soundOnly = create("sound.avi");
    ASSERT_EQ(soundOnly.streams.size(), 1u);
    // The output took its choices whole: the next one starts from fresh ones.
    EXPECT_EQ(create("both_again.avi").streams.size(), 2u);
}

TEST_F(OutputSetupTest, UnknownExtensionWithoutFormatFails)
{
    const std::string path = folder.file("clip.nosuchext");
    EXPECT_EQ(EngineFailure([&] { task.CreateOutputFile(path); }),
              "Unable to find a suitable output format for '" + path + "'");
    EXPECT_TRUE(task.OutputFiles().empty());
}

TEST_F(OutputSetupTest, UnknownEncoderIsNamedInsideTheStreamMessage)
{
    parse({{"vcodec", "nosuchcodec"}});
    EXPECT_EQ(EngineFailure([&] { task.CreateOutputFile(folder.file("x.avi")); }),
              "new_video_stream fail: Unknown encoder 'nosuchcodec'");

    task.PrepareTask();
    parse({{"acodec", "mpeg4"}});
    EXPECT_EQ(EngineFailure([&] { task.CreateOutputFile(folder.file("y.avi")); }),
              "new_audio_stream fail: Invalid encoder type 'mpeg4'");
}

TEST_F(OutputSetupTest, UnwritableFolderCannotBeOpened)
{
    const std::string path = "/no/such/folder/out.avi";
    EXPECT_EQ(EngineFailure([&] { task.CreateOutputFile(path); }),
              "Could not open '" + path + "'");
}

TEST_F(OutputSetupTest, PadsEnlargeTheEncoderPictureAndAspectBecomesPixelShape)
{
    parse({{"s", "320x240"}, {"padtop", "16"}, {"padbottom", "16"}, {"aspect", "16:9"}});
    const AVCodecContext* video = encoderOf(create("padded.avi"), AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 272);
    // 16:9 shown on 320x272 pixels: each pixel is 16/9 * 272/320 wide.
    EXPECT_NEAR(av_q2d(video->sample_aspect_ratio), 16.0 / 9.0 * 272.0 / 320.0, 1e-3);
    EXPECT_LE(video->sample_aspect_ratio.num, 255);
    EXPECT_LE(video->sample_aspect_ratio.den, 255);
}

TEST_F(OutputSetupTest, FrameRateSnapsToTheNearestRateTheEncoderSupports)
{
    struct Case {
        const char* requested;
        AVRational expected;
    };
    for (const Case& c : {Case{"24", {24, 1}}, Case{"26", {25, 1}},
                          Case{"24000/1001", {24000, 1001}}, Case{"29.9", {30000, 1001}}}) {
        task.PrepareTask();
        parse({{"vcodec", "mpeg2video"}, {"r", c.requested}});
        const AVCodecContext* video = encoderOf(create("rate.mpg"), AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->time_base.num, c.expected.den) << c.requested;
        EXPECT_EQ(video->time_base.den, c.expected.num) << c.requested;
    }
}

TEST_F(OutputSetupTest, RateControlOverrideEntries)
{
    parse({{"rc_override", "0,100,2/101,200,-50"}});
    const AVCodecContext* video = encoderOf(create("rc.avi"), AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    ASSERT_EQ(video->rc_override_count, 2);
    EXPECT_EQ(video->rc_override[0].start_frame, 0);
    EXPECT_EQ(video->rc_override[0].end_frame, 100);
    EXPECT_EQ(video->rc_override[0].qscale, 2);
    EXPECT_FLOAT_EQ(video->rc_override[0].quality_factor, 1.0f);
    EXPECT_EQ(video->rc_override[1].start_frame, 101);
    EXPECT_EQ(video->rc_override[1].qscale, 0);
    EXPECT_FLOAT_EQ(video->rc_override[1].quality_factor, 0.5f);

    task.PrepareTask();
    parse({{"rc_override", "0,100/5"}});
    EXPECT_EQ(EngineFailure([&] { task.CreateOutputFile(folder.file("bad.avi")); }),
              "new_video_stream fail: error parsing rc_override");
}

TEST_F(OutputSetupTest, NewStreamsNeedAnOutputFileAndAddToTheLastOne)
{
    try {
        task.ParseOption("newaudio", "");
        FAIL() << "no exception";
    } catch (const FFMpegException& e) {
        EXPECT_STREQ(e.what(), "At least one output file must be specified");
    }
    create("first.avi");
    const OutputFile& second = create("second.avi");
    parse({{"alang", "deu"}, {"newaudio", ""}});
    ASSERT_EQ(second.streams.size(), 3u);
    EXPECT_EQ(task.OutputFiles()[0].streams.size(), 2u);
    const AVDictionaryEntry* language =
        lib.av_dict_get(second.streams[2].stream->metadata, "language", nullptr, 0);
    ASSERT_NE(language, nullptr);
    EXPECT_STREQ(language->value, "deu");
    EXPECT_TRUE(task.Options().output.audioLanguage.empty());
}

TEST_F(OutputSetupTest, TagsReachTheContainer)
{
    parse({{"title", "Harbour"}, {"author", "N. Ortega"}, {"comment", "dawn"}});
    const OutputFile& file = create("tags.mkv");
    auto tag = [&](const char* key) {
        const AVDictionaryEntry* entry = lib.av_dict_get(file.context->metadata, key, nullptr, 0);
        return std::string(entry ? entry->value : "");
    };
    EXPECT_EQ(tag("title"), "Harbour");
    EXPECT_EQ(tag("artist"), "N. Ortega");
    EXPECT_EQ(tag("comment"), "dawn");
    EXPECT_EQ(tag("copyright"), "");
}

// Targets -----------------------------------------------------------------

struct TargetCase {
    const char* norm;
    int width, height;
    AVRational rate;
    int gop;
};

class TargetTest : public OutputSetupTest, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(TargetTest, VcdSizesRatesAndBitRatesFollowTheNorm)
{
    const TargetCase& c = GetParam();
    task.ApplyTarget("vcd", c.norm, "ntsc");
    const OutputFile& file = create("disc.mpg");
    EXPECT_STREQ(file.context->oformat->name, "vcd");
    const AVCodecContext* video = encoderOf(file, AVMEDIA_TYPE_VIDEO);
    const AVCodecContext* audio = encoderOf(file, AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(video->codec_id, AV_CODEC_ID_MPEG1VIDEO);
    EXPECT_EQ(video->width, c.width);
    EXPECT_EQ(video->height, c.height);
    EXPECT_EQ(video->time_base.den, c.rate.num);
    EXPECT_EQ(video->time_base.num, c.rate.den);
    EXPECT_EQ(video->gop_size, c.gop);
    EXPECT_EQ(video->bit_rate, 1150000);
    EXPECT_EQ(video->rc_max_rate, 1150000);
    EXPECT_EQ(video->rc_buffer_size, 327680);
    EXPECT_EQ(audio->codec_id, AV_CODEC_ID_MP2);
    EXPECT_EQ(audio->bit_rate, 224000);
    EXPECT_EQ(audio->sample_rate, 44100);
    EXPECT_EQ(audio->ch_layout.nb_channels, 2);
    EXPECT_FLOAT_EQ(task.Options().muxPreload, 0.44f);
    // The mux rate belongs to the chosen muxer in this library generation.
    int64_t muxRate = 0;
    ASSERT_GE(lib.av_opt_get_int(file.context.get(), "muxrate", AV_OPT_SEARCH_CHILDREN, &muxRate),
              0);
    EXPECT_EQ(muxRate, 1411200);
    int64_t preload = 0;
    ASSERT_GE(lib.av_opt_get_int(file.context.get(), "preload", AV_OPT_SEARCH_CHILDREN, &preload),
              0);
    EXPECT_EQ(preload, 440000);
}

INSTANTIATE_TEST_SUITE_P(Norms, TargetTest,
                         ::testing::Values(TargetCase{"pal", 352, 288, {25, 1}, 15},
                                           TargetCase{"ntsc", 352, 240, {30000, 1001}, 18},
                                           TargetCase{"film", 352, 240, {24000, 1001}, 18}),
                         [](const auto& info) { return std::string(info.param.norm); });

TEST_F(OutputSetupTest, AutomaticNormNeedsAFrameRateAndSaysWhatItAssumed)
{
    try {
        task.ApplyTarget("vcd", "", "ntsc");
        FAIL() << "no exception";
    } catch (const FFMpegException& e) {
        EXPECT_STREQ(e.what(), "frame_rate is invalid.");
    }
    parse({{"r", "25"}});
    task.ApplyTarget("vcd", "", "ntsc");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), (std::pair<int, std::string>{1, "Assuming PAL for target."}));
    EXPECT_EQ(task.Options().frameHeight, 288);

    // An unrecognised rate falls back to the given norm.
    task.PrepareTask();
    parse({{"r", "15"}});
    task.ApplyTarget("vcd", "", "ntsc");
    EXPECT_EQ(log.back().second, "Assuming NTSC for target.");
    EXPECT_EQ(task.Options().frameHeight, 240);
}

TEST_F(OutputSetupTest, AutomaticNormFollowsTheInputsVideo)
{
    testing::MediaSpec spec = testing::MpegProgramStream();
    spec.frameRateNum = 30000;
    spec.frameRateDen = 1001;
    ASSERT_NO_THROW(task.AddInputFile(CachedMedia("ntsc.mpg", spec)));
    parse({{"r", "15"}});  // a rate that says nothing about the norm
    task.ApplyTarget("dvd", "auto", "pal");
    EXPECT_EQ(task.Options().frameWidth, 720);
    EXPECT_EQ(task.Options().frameHeight, 480);
}

TEST_F(OutputSetupTest, DvdKeepsAnAspectAlreadySetAndDoublesMono)
{
    parse({{"aspect", "4:3"}, {"ac", "1"}});
    task.ApplyTarget("dvd", "pal", "ntsc");
    EXPECT_NEAR(task.Options().frameAspectRatio, 4.0 / 3.0, 1e-6);
    EXPECT_EQ(task.Options().audioChannels, 2);
    EXPECT_EQ(task.Options().audioSampleRate, 48000);

    task.PrepareTask();
    task.ApplyTarget("dvd", "ntsc", "ntsc");
    EXPECT_NEAR(task.Options().frameAspectRatio, 16.0 / 9.0, 1e-6);
}

TEST_F(OutputSetupTest, DvPixelFormatsByNorm)
{
    task.ApplyTarget("dv", "pal", "ntsc");
    EXPECT_EQ(task.Options().pixelFormat, AV_PIX_FMT_YUV420P);
    task.ApplyTarget("dv", "ntsc", "ntsc");
    EXPECT_EQ(task.Options().pixelFormat, AV_PIX_FMT_YUV411P);
    task.ApplyTarget("dv50", "pal", "ntsc");
    EXPECT_EQ(task.Options().pixelFormat, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(task.Options().frameWidth, 720);
}

TEST_F(OutputSetupTest, UnknownTargetTypeIsRefused)
{
    EXPECT_THROW(task.ApplyTarget("laserdisc", "pal", "ntsc"), FFMpegException);
    try {
        task.ParseOption("target", "pal-laserdisc");
    } catch (const FFMpegException& e) {
        EXPECT_STREQ(e.what(), "Unknown target type");
    }
}

}  // namespace
}  // namespace clipmora
