// The option vocabulary of a task and the libraries' named parameters: what
// options do to a run, and how the handlers check and store their values.
#include "engine/conversions.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"
#include "tests/support/task_fixture.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

namespace clipmora {
namespace {

class OptionsTest : public testing::TaskFixture {
protected:
    void TearDown() override { SetLibraryLogLevel(0); }

    // The FFMpegException text the option raises, or "" when it raises none.
    std::string failure(const std::string& name, const std::string& value)
    {
        try {
            task.ParseOption(name, value);
        } catch (const FFMpegException& e) {
            return e.what();
        }
        return "";
    }

    bool logged(const std::string& text) const { return countLogged(text) > 0; }

    const OptionState& o() const { return task.Options(); }

    // New video and audio encoder contexts that got the parameters set so far
    // for their kind, as new streams get them.
    struct NewStreams {
        CodecContextPtr video{lib.avcodec_alloc_context3(nullptr)};
        CodecContextPtr audio{lib.avcodec_alloc_context3(nullptr)};
    };
    NewStreams newStreams() const
    {
        NewStreams streams;
        CopyGenericParameters(task.Defaults(), streams.video.get(),
                              task.Defaults().of(CodecKind::Video),
                              AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        CopyGenericParameters(task.Defaults(), streams.audio.get(),
                              task.Defaults().of(CodecKind::Audio),
                              AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        return streams;
    }
};

// Options set through the table change what a run writes ------------------

class OptionEffectTest : public testing::TaskTest {
protected:
    // Re-encodes the two-second test clip (50 pictures, stereo sound) into an
    // AVI with `options` set before the input or the output, as they belong.
    testing::DecodedSummary convert(Options outputOptions, const Options& inputOptions = {})
    {
        const std::string output = folder.file("converted.avi");
        outputOptions.insert(outputOptions.begin(), {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}});
        run(testing::CachedMedia("clip.mp4", testing::Mp4H264Aac()), outputOptions, output,
            inputOptions);
        return testing::DecodeMedia(output);
    }
};

TEST_F(OptionEffectTest, FrameLimitsStopThePictures)
{
    const testing::DecodedSummary summary = convert({{"vframes", "8"}});
    EXPECT_EQ(summary.videoFrames, 8);
    EXPECT_EQ(summary.lastFramePattern, 7);
}

TEST_F(OptionEffectTest, DisabledSoundIsLeftOut)
{
    const testing::DecodedSummary noSound = convert({{"an", ""}});
    EXPECT_EQ(noSound.videoFrames, 50);
    EXPECT_EQ(noSound.channels, 0);
    EXPECT_EQ(noSound.audioSamples, 0);
}

TEST_F(OptionEffectTest, DisabledPictureIsLeftOut)
{
    const testing::DecodedSummary noPicture = convert({{"vn", ""}});
    EXPECT_EQ(noPicture.videoFrames, 0);
    EXPECT_EQ(noPicture.channels, 2);
    EXPECT_GT(noPicture.audioSamples, 0);
}

TEST_F(OptionEffectTest, StartTimeSkipsTheBeginningOfTheInput)
{
    const testing::DecodedSummary summary = convert({}, {{"ss", "1"}});
    // Picture 25 is the one at 1 s; the output's frame timing may round the
    // cut to its neighbour.
    EXPECT_NEAR(summary.firstFramePattern, 25, 1);
    EXPECT_EQ(summary.lastFramePattern, 49);
    EXPECT_NEAR(summary.videoFrames, 25, 1);
}

TEST_F(OptionEffectTest, VolumeZeroSilencesTheSound)
{
    const testing::DecodedSummary summary = convert({{"vol", "0"}});
    ASSERT_FALSE(summary.samples.empty());
    for (const int16_t sample : summary.samples)
        ASSERT_LE(std::abs(sample), 1);
}

TEST_F(OptionEffectTest, FrameRateAndCroppingShapeThePictures)
{
    const testing::DecodedSummary summary =
        convert({{"r", "10"}, {"s", "160x120"}, {"croptop", "40"}});
    EXPECT_NEAR(summary.videoFrames, 20, 1);
    EXPECT_EQ(summary.width, 160);
    EXPECT_EQ(summary.height, 80);
}

TEST_F(OptionsTest, MalformedNumbersRaiseTheConversionError)
{
    EXPECT_THROW(task.ParseOption("dframes", "12x"), ConversionError);
    EXPECT_THROW(task.ParseOption("vol", ""), ConversionError);
    EXPECT_THROW(task.ParseOption("fs", "1e3"), ConversionError);
    EXPECT_THROW(task.ParseOption("croptop", "eight"), ConversionError);
    EXPECT_THROW(task.ParseOption("muxdelay", "0,5"), ConversionError);
    EXPECT_THROW(task.ParseOption("qscale", "high"), ConversionError);
    EXPECT_EQ(o().maxDataFrames, INT_MAX);
    EXPECT_EQ(o().audioVolume, 256);
    // Options without a value do not read it.
    EXPECT_NO_THROW(task.ParseOption("sameq", "anything"));
}

TEST_F(OptionsTest, SampleRateAndChannelsOnlyTakePositiveValues)
{
    parse({{"ar", "0"}, {"ac", "-1"}});
    EXPECT_EQ(o().audioSampleRate, 44100);
    EXPECT_EQ(o().audioChannels, 2);
    parse({{"ar", "48000"}, {"ac", "1"}});
    EXPECT_EQ(o().audioSampleRate, 48000);
    EXPECT_EQ(o().audioChannels, 1);
}

TEST_F(OptionsTest, EmptyTagTextKeepsTheTag)
{
    parse({{"title", "Holiday"}, {"title", ""}, {"genre", "Drama"}});
    EXPECT_EQ(o().title, "Holiday");
    EXPECT_EQ(o().genre, "Drama");
}

// Messages, do-nothing and unsupported rows ---------------------------------

TEST_F(OptionsTest, CompatibilityOptionsOnlyLog)
{
    for (const char* name : {"version", "L", "h", "formats", "i", "y", "benchmark", "vpre"})
        EXPECT_EQ(failure(name, "x"), "") << name;
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0], (std::pair<int, std::string>{1, "Do nothing: option - version"}));
    EXPECT_EQ(log[6].second, "Do nothing: option - benchmark");
}

TEST_F(OptionsTest, UnsupportedOptionsAreRefusedByName)
{
    for (const char* name : {"threads", "absf", "vbsf", "sbsf"})
        EXPECT_EQ(failure(name, "2"), std::string("TODO: option - ") + name);
}

TEST_F(OptionsTest, UnknownNameChangesAndReportsNothing)
{
    task.ParseOption("no_such_option", "1");
    task.ParseOption("Vcodec", "mpeg4");  // names are case-sensitive
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(task.Defaults().names.empty());
    EXPECT_TRUE(o().output.video.codecName.empty());
}

// Frame size, crop, pad, aspect ---------------------------------------------

TEST_F(OptionsTest, CropNeedsAFrameSizeAndReducesIt)
{
    const std::string vertical =
        "Vertical crop dimensions are outside the range of the original image.\n"
        "Remember to crop first and scale second.";
    EXPECT_EQ(failure("croptop", "8"), vertical);

    parse({{"s", "640x480"}, {"croptop", "8"}, {"cropleft", "16"}, {"cropright", "4"}});
    EXPECT_EQ(o().frameHeight, 472);
    EXPECT_EQ(o().frameWidth, 620);
    EXPECT_EQ(o().cropTop, 8);
    EXPECT_EQ(o().cropRight, 4);

    parse({{"croptop", "-2"}});
    EXPECT_EQ(o().cropTop, 8);
    EXPECT_EQ(o().frameHeight, 472);

    EXPECT_EQ(failure("croptop", "3"), "Top crop size must be a multiple of 2");
    EXPECT_EQ(failure("cropbottom", "5"), "Bottom crop size must be a multiple of 2");
    EXPECT_EQ(failure("cropbottom", "472"), vertical);
    EXPECT_EQ(failure("cropleft", "620"),
              "Horizontal crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    EXPECT_EQ(o().frameWidth, 620);
}

TEST_F(OptionsTest, FrameSizeIsCheckedBeforeItIsStored)
{
    EXPECT_EQ(failure("s", "641x480"), "Frame size must be a multiple of 2");
    EXPECT_EQ(failure("s", "320x241"), "Frame size must be a multiple of 2");
    EXPECT_EQ(failure("s", "321x241"), "Frame size must be a multiple of 2");
    EXPECT_EQ(failure("s", "Auto"), "Incorrect frame size");
    EXPECT_EQ(o().frameWidth, 0);
    parse({{"s", "vga"}});
    EXPECT_EQ(o().frameWidth, 640);
    EXPECT_EQ(o().frameHeight, 480);
}

TEST_F(OptionsTest, PadsMustBeEvenAndNegativeOnesAreIgnored)
{
    parse({{"padtop", "4"}, {"padright", "-6"}});
    EXPECT_EQ(o().padTop, 4);
    EXPECT_EQ(o().padRight, 0);
    EXPECT_EQ(failure("padleft", "3"), "Left pad size must be a multiple of 2");
    EXPECT_EQ(failure("padbottom", "1"), "Bottom pad size must be a multiple of 2");
}

TEST_F(OptionsTest, PadColourIsConvertedToYuv)
{
    parse({{"padcolor", "255"}});
    EXPECT_EQ(o().padColorYuv, (std::array<int, 3>{76, 85, 255}));
    parse({{"padcolor", "0"}});
    EXPECT_EQ(o().padColorYuv, (std::array<int, 3>{0, 128, 128}));
    parse({{"padcolor", "16777215"}});  // white
    EXPECT_EQ(o().padColorYuv, (std::array<int, 3>{255, 128, 128}));
}

TEST_F(OptionsTest, AspectAcceptsRatiosAndDecimals)
{
    parse({{"aspect", "16:9"}});
    EXPECT_FLOAT_EQ(o().frameAspectRatio, 1.7777778f);
    parse({{"aspect", "1.5"}});
    EXPECT_FLOAT_EQ(o().frameAspectRatio, 1.5f);
    for (const char* bad : {"4:0", "abc", "0", "x:3", "-16:9", "-1.5", "inf"})
        EXPECT_EQ(failure("aspect", bad), "Incorrect aspect ratio specification.") << bad;
    EXPECT_FLOAT_EQ(o().frameAspectRatio, 1.5f);
}

// Quality, passes, tags, matrices, codecs ------------------------------------

TEST_F(OptionsTest, QscaleAndPassAreRangeChecked)
{
    EXPECT_EQ(failure("qscale", "0"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(failure("qscale", "256"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(failure("qscale", "255"), "");
    EXPECT_FLOAT_EQ(o().videoQScale, 255.0f);

    EXPECT_EQ(failure("pass", "3"), "pass number can be only 1 or 2");
    EXPECT_EQ(failure("pass", "0"), "pass number can be only 1 or 2");
    parse({{"pass", "2"}});
    EXPECT_EQ(o().pass, 2);
}

TEST_F(OptionsTest, CodecTagsAreFourCharacters)
{
    EXPECT_EQ(failure("vtag", "DX5"), "video tag parameter must be 4 chars");
    EXPECT_EQ(failure("atag", "mp4a!"), "audio tag parameter must be 4 chars");
    parse({{"vtag", "DX50"}, {"atag", "\xff" "abc"}});
    EXPECT_EQ(o().videoCodecTag, 0x30355844u);
    EXPECT_EQ(o().audioCodecTag, 0x636261FFu);
}

TEST_F(OptionsTest, MatrixNeedsAll64Coefficients)
{
    std::string full;
    for (int i = 1; i <= 64; ++i)
        full += (i > 1 ? "," : "") + std::to_string(i + 8);
    parse({{"intra_matrix", full.c_str()}});
    ASSERT_TRUE(o().intraMatrix.has_value());
    EXPECT_EQ((*o().intraMatrix)[0], 9);
    EXPECT_EQ((*o().intraMatrix)[63], 72);
    EXPECT_FALSE(o().interMatrix.has_value());

    const std::string ten = "1,2,3,4,5,6,7,8,9,10";
    EXPECT_EQ(failure("inter_matrix", ten), "Syntax error in matrix \"" + ten + "\" at coeff 9");
    EXPECT_FALSE(o().interMatrix.has_value());

    // A zero coefficient would make the encoder divide by zero.
    const std::string zero = "0" + full.substr(full.find(','));
    EXPECT_EQ(failure("intra_matrix", zero), "Syntax error in matrix \"" + zero + "\" at coeff 0");
    EXPECT_EQ((*o().intraMatrix)[0], 9);
}

TEST_F(OptionsTest, CodecNamesAndStreamCopy)
{
    parse({{"vcodec", "mpeg4"}, {"acodec", "copy"}, {"scodec", "mov_text"}});
    EXPECT_EQ(o().output.video.codecName, "mpeg4");
    EXPECT_FALSE(o().output.video.streamCopy);
    EXPECT_TRUE(o().output.audio.streamCopy);
    EXPECT_TRUE(o().output.audio.codecName.empty());
    EXPECT_EQ(o().output.subtitle.codecName, "mov_text");
    parse({{"vcodec", "copy"}});
    EXPECT_TRUE(o().output.video.streamCopy);
    EXPECT_TRUE(o().output.video.codecName.empty());
}

TEST_F(OptionsTest, PixelFormatsByNameOrListed)
{
    parse({{"pix_fmt", "yuv422p"}});
    EXPECT_EQ(o().pixelFormat, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(failure("pix_fmt", "yuv4200p"), "Unknown pixel format requested: yuv4200p");
    EXPECT_EQ(o().pixelFormat, AV_PIX_FMT_YUV422P);

    parse({{"pix_fmt", "list"}});
    ASSERT_GT(log.size(), 40u);
    EXPECT_EQ(log[0].second.rfind("name", 0), 0u);
    EXPECT_EQ(log[1].second.rfind("yuv420p ", 0), 0u);
    for (const auto& [level, line] : log) {
        EXPECT_EQ(level, 1);
        EXPECT_FALSE(line.empty() || line.back() == ' ') << line;
    }
}

TEST_F(OptionsTest, FrameRatesAreParsed)
{
    parse({{"r", "30000/1001"}});
    EXPECT_EQ(o().frameRate.num, 30000);
    EXPECT_EQ(o().frameRate.den, 1001);
    parse({{"r", "pal"}});
    EXPECT_EQ(o().frameRate.num, 25);
    EXPECT_EQ(failure("r", "fast"), "Incorrect frame rate");
}

// Times ----------------------------------------------------------------------

TEST_F(OptionsTest, DurationBeyond32BitsSetsTheTotalOutputDuration)
{
    EXPECT_EQ(task.TotalOutputDurationMs(), -1);
    parse({{"t", "00:40:00"}});
    EXPECT_EQ(o().recordingTime, 2400000000LL);
    EXPECT_EQ(task.TotalOutputDurationMs(), 2400000);

    // Below a millisecond there is nothing to limit.
    parse({{"t", "0.0004"}});
    EXPECT_EQ(o().recordingTime, 2400000000LL);
    parse({{"t", "1.0019"}});
    EXPECT_EQ(o().recordingTime, 1001000);
    EXPECT_EQ(task.TotalOutputDurationMs(), 1001);
}

TEST_F(OptionsTest, UnreadableTimesNameTheirKindAndOption)
{
    EXPECT_EQ(failure("t", "forever"), "Invalid duration specification for t: forever");
    EXPECT_EQ(failure("ss", "1:xx"), "Invalid duration specification for ss: 1:xx");
    EXPECT_EQ(failure("timestamp", "yesterday"), "Invalid date specification for timestamp: yesterday");
}

TEST_F(OptionsTest, TimestampIsStoredInSeconds)
{
    parse({{"timestamp", "1970-01-02T00:00:00.6Z"}});
    EXPECT_EQ(o().recordingTimestamp, 86401);
}

// Maps and time scales --------------------------------------------------------

TEST_F(OptionsTest, StreamMapsWithAndWithoutSyncStream)
{
    parse({{"map", "0.1:0.0"}, {"map", "1.2"}, {"map", "0x1.010"}, {"map_meta_data", "1:0"}});
    ASSERT_EQ(o().streamMaps.size(), 3u);
    const TStreamMap& synced = o().streamMaps[0];
    EXPECT_EQ(synced.FileIndex, 0);
    EXPECT_EQ(synced.StreamIndex, 1);
    EXPECT_EQ(synced.SyncFileIndex, 0);
    EXPECT_EQ(synced.SyncStreamIndex, 0);
    const TStreamMap& plain = o().streamMaps[1];
    EXPECT_EQ(plain.SyncFileIndex, 1);
    EXPECT_EQ(plain.SyncStreamIndex, 2);
    // Numbers are C literals: hexadecimal and octal read as such.
    EXPECT_EQ(o().streamMaps[2].FileIndex, 1);
    EXPECT_EQ(o().streamMaps[2].StreamIndex, 8);
    ASSERT_EQ(o().metaDataMaps.size(), 1u);
    EXPECT_EQ(o().metaDataMaps[0].OutFile, 1);
    EXPECT_EQ(o().metaDataMaps[0].InFile, 0);
}

TEST_F(OptionsTest, TwentyFirstMapIsRefused)
{
    for (int i = 0; i < kMaxMaps; ++i) {
        task.ParseOption("map", "0." + std::to_string(i));
        task.ParseOption("map_meta_data", "0:0");
    }
    EXPECT_THROW(task.ParseOption("map", "0.0"), FFMpegException);
    EXPECT_THROW(task.ParseOption("map_meta_data", "0:0"), FFMpegException);
    EXPECT_EQ(o().streamMaps.size(), 20u);
    EXPECT_EQ(o().metaDataMaps.size(), 20u);
}

TEST_F(OptionsTest, TimeScalesAreKeptPerStream)
{
    parse({{"itsscale", "1:2.5"}});
    EXPECT_EQ(o().nextInputTimeScales[1], 2.5);
    EXPECT_EQ(o().nextInputTimeScales[0], 0.0);
    EXPECT_EQ(failure("itsscale", "20:1"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(failure("itsscale", "-1:1"), "stream index over MAX_STREAMS(20)");
}

// Formats, files, verbosity -----------------------------------------------------

TEST_F(OptionsTest, FormatsByName)
{
    parse({{"f", "mp4"}});
    EXPECT_NE(o().output.forcedFormat, nullptr);
    EXPECT_NE(o().forcedInputFormat, nullptr);  // the demuxer that reads mp4 too
    EXPECT_EQ(failure("f", "nosuch"), "Unknown input or output format: nosuch");

    task.PrepareTask();
    parse({{"f", "pgmyuv"}});
    EXPECT_TRUE(o().imageSequence);
    EXPECT_STREQ(o().output.forcedFormat->name, "image2");
    EXPECT_TRUE(logged("pgmyuv format is deprecated, use image2"));

    task.PrepareTask();
    task.SetInputFormat("");
    task.SetOutputFormat("");
    EXPECT_EQ(o().forcedInputFormat, nullptr);
    EXPECT_EQ(o().output.forcedFormat, nullptr);
    task.SetOutputFormat("avi");
    EXPECT_STREQ(o().output.forcedFormat->name, "avi");
    EXPECT_EQ(o().forcedInputFormat, nullptr);
    try {
        task.SetInputFormat("nosuch");
        FAIL();
    } catch (const FFMpegException& e) {
        EXPECT_STREQ(e.what(), "Unknown input format: nosuch");
    }
    EXPECT_THROW(task.SetOutputFormat("nosuch"), FFMpegException);
}

TEST_F(OptionsTest, StatisticsFileLivesBesideTheProgram)
{
    parse({{"vstats", ""}});
    const std::string prefix =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/vstats_";
    const std::string& name = o().vstatsFileName;
    ASSERT_EQ(name.size(), prefix.size() + 6 + 4) << name;
    EXPECT_EQ(name.substr(0, prefix.size()), prefix);
    EXPECT_EQ(name.find_first_not_of("0123456789", prefix.size()), prefix.size() + 6) << name;
    EXPECT_EQ(name.substr(prefix.size() + 6), ".log");
}

TEST_F(OptionsTest, MissingHookModuleIsRefused)
{
    EXPECT_EQ(failure("vhook", "/no/such/hook.so red"),
              "Failed to add video hook function: /no/such/hook.so red");
    EXPECT_FALSE(o().usingFrameHooks);
}

TEST_F(OptionsTest, VerbositySetsTheLibraryLevel)
{
    parse({{"v", "2"}});
    EXPECT_EQ(o().verbosity, 2);
    EXPECT_EQ(LogThreshold(), 2);
}

TEST_F(OptionsTest, TargetPrefixPicksTheNorm)
{
    parse({{"target", "pal-vcd"}});
    EXPECT_EQ(o().frameHeight, 288);
    task.PrepareTask();
    parse({{"target", "ntsc-vcd"}});
    EXPECT_EQ(o().frameHeight, 240);
    EXPECT_EQ(failure("target", "pal-tape"), "Unknown target type");
}

// Named parameters of the libraries -----------------------------------------

TEST_F(OptionsTest, LowBitRateWarnsOfKilobits)
{
    const std::string warning =
        "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
    parse({{"b", "64000"}});
    EXPECT_FALSE(logged(warning));
    parse({{"b", "64"}});
    EXPECT_TRUE(logged(warning));
    log.clear();
    parse({{"ab", "96000"}});
    EXPECT_FALSE(logged(warning)) << "the audio bit rate is judged on its own";
    parse({{"ab", "96"}});
    EXPECT_TRUE(logged(warning));
}

TEST_F(OptionsTest, BitRatesKeepTheirOldKinds)
{
    parse({{"ab", "96000"}});
    EXPECT_EQ(task.Defaults().of(CodecKind::Audio)->bit_rate, 96000);
    const int64_t videoDefault = task.Defaults().of(CodecKind::Video)->bit_rate;
    EXPECT_NE(videoDefault, 96000);

    parse({{"b", "800000"}});
    EXPECT_EQ(task.Defaults().of(CodecKind::Video)->bit_rate, 800000);
    EXPECT_EQ(task.Defaults().of(CodecKind::Audio)->bit_rate, 96000);
    parse({{"vb", "900000"}});
    EXPECT_EQ(task.Defaults().of(CodecKind::Video)->bit_rate, 900000);

    // New streams get the bit rate of their own kind.
    const auto [video, audio] = newStreams();
    EXPECT_EQ(video->bit_rate, 900000);
    EXPECT_EQ(audio->bit_rate, 96000);
}

TEST_F(OptionsTest, GenericParametersGoToTheKindsTheyBelongTo)
{
    EXPECT_TRUE(task.SetGenericParameter("g", int64_t{48}));
    EXPECT_TRUE(task.SetGenericParameter(" gop ", " 30 "));  // the old name of "g"
    EXPECT_TRUE(task.SetGenericParameter("ar", "22050"));
    EXPECT_TRUE(task.SetGenericParameter("abt", "4000"));  // audio "bt"
    EXPECT_TRUE(task.SetGenericParameter("packetsize", "2324"));
    EXPECT_EQ(task.Defaults().of(CodecKind::Video)->gop_size, 30);
    EXPECT_EQ(task.Defaults().of(CodecKind::Audio)->sample_rate, 22050);
    EXPECT_EQ(task.Defaults().of(CodecKind::Audio)->bit_rate_tolerance, 4000);
    EXPECT_NE(task.Defaults().of(CodecKind::Video)->bit_rate_tolerance, 4000);
    EXPECT_EQ(task.Defaults().format->packet_size, 2324u);
    EXPECT_EQ(task.Defaults().names,
              (std::vector<std::string>{"g", "gop", "ar", "abt", "packetsize"}));

    const auto [video, audio] = newStreams();
    EXPECT_EQ(video->gop_size, 30);
    EXPECT_EQ(video->sample_rate, 0) << "an audio parameter stays off video streams";
    EXPECT_EQ(audio->sample_rate, 22050);
    EXPECT_EQ(audio->bit_rate_tolerance, 4000);
    EXPECT_NE(video->bit_rate_tolerance, 4000);

    FormatContextPtr format(lib.avformat_alloc_context());
    CopyGenericParameters(task.Defaults(), format.get(), task.Defaults().format.get(),
                          AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(format->packet_size, 2324u);
}

TEST_F(OptionsTest, GenericParameterRefusals)
{
    EXPECT_FALSE(task.SetGenericParameter("g", ""));
    EXPECT_FALSE(task.SetGenericParameter("  ", "1"));
    EXPECT_FALSE(task.SetGenericParameter("no_such_parameter", "1"));
    EXPECT_TRUE(log.empty());
    // A known parameter with a value it cannot take has no effect, and says so.
    EXPECT_FALSE(task.SetGenericParameter("g", "many"));
    EXPECT_TRUE(logged("Invalid value 'many' for option 'g'"));
    EXPECT_TRUE(task.Defaults().names.empty());
}

// Messages carry the names they are about whole, however long.
TEST_F(OptionsTest, LongNamesReachMessagesWhole)
{
    const std::string name(3000, 'x');
    try {
        task.SetOutputFormat(name);
        ADD_FAILURE() << "no such format";
    } catch (const FFMpegException& e) {
        EXPECT_EQ(std::string(e.what()), "Unknown output format: " + name);
    }
    EXPECT_FALSE(task.SetGenericParameter("g", name));
    EXPECT_TRUE(logged("Invalid value '" + name + "' for option 'g'"));
}

TEST_F(OptionsTest, ScalerFlagsAndDebugReachTheTask)
{
    EXPECT_TRUE(task.SetGenericParameter("sws_flags", "bilinear"));
    EXPECT_EQ(o().scalerFlags, SWS_BILINEAR);
    EXPECT_EQ(o().verbosity, 1);
    task.ParseOption("debug", "pict");  // not in the table: a codec parameter
    EXPECT_EQ(o().verbosity, 2);
    EXPECT_EQ(LogThreshold(), 2);
}

}  // namespace
}  // namespace clipmora
