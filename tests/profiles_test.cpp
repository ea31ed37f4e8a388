// The output format profiles: every format through the controls to its
// output options, the format list and its separators, the quality levels,
// the choices a format leaves alone, and the encoders the options name.
#include "engine/conversions.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"
#include "engine/task_setup.h"
#include "profiles/format_catalogue.h"
#include "profiles/profile_options.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <set>

namespace clipmora {
namespace {

// The controls as the window has them after start-up.
TProfileControls startupControls()
{
    TProfileControls controls;
    FillFormatList(controls);
    FillFixedLists(controls);
    return controls;
}

int formatIndex(const TProfileControls& controls, std::string_view name)
{
    const auto& items = controls.ComboOutputFormat.Items();
    for (std::size_t index = 0; index < items.size(); ++index)
        if (items[index] == name)
            return static_cast<int>(index);
    return -1;
}

// Picks `name` in the format list as the user does.
void choose(TProfileControls& controls, std::string_view name)
{
    const int index = formatIndex(controls, name);
    ASSERT_GE(index, 0) << name;
    controls.ComboOutputFormat.Select(index);
    FormatChangeStep(controls);
}

TOutputOptions build(const TProfileControls& controls)
{
    TOutputOptions options;
    EXPECT_TRUE(BuildProfileOptions(controls, options));
    return options;
}

const std::string kSeparator = std::string(14, ' ') + std::string(41, '-');

// Every format at its default selections with both quality levels at
// "Normal". Worked out by hand from the catalogue: the Normal rate replaces
// the default bit rate when the list holds an entry with that exact text.
struct ExpectedProfile {
    const char* name;
    int index;
    const char* extension;
    const char* frameRate;
    const char* videoCodec;
    const char* audioCodec;
    const char* frameSize;  // "" when none is written
    int videoBitrate;
    int audioBitrate;
    int sampleRate;
    int channels;  // -1 when not written
    bool disableVideo;
};

const ExpectedProfile kExpected[] = {
    {"3GP - Mobile Video Format (*.3gp)", 0, "3GP", "Auto", "mpeg4", "libamr_nb", "176x144", 128000, 7400, 8000, 1, false},
    {"3G2 - Mobile Video Format (*.3g2)", 1, "3G2", "Auto", "mpeg4", "libamr_nb", "176x144", 128000, 7400, 8000, 1, false},
    // ASF keeps its picture (the format offers video).
    {"ASF - Advance Streaming Format (*.asf)", 2, "ASF", "Auto", "msmpeg4", "libmp3lame", "", 1200000, 128000, 48000, 2, false},
    {"AVI - Audio Video Interleave (*.avi)", 3, "AVI", "Auto", "mpeg4", "pcm_s16le", "", 1200000, 128000, 48000, 2, false},
    {"AVI - DivX Video (*.avi)", 4, "AVI", "Auto", "mpeg4", "libmp3lame", "", 1200000, 128000, 48000, 2, false},
    {"MOV - QuickTime Video (*.mov)", 5, "MOV", "Auto", "mpeg4", "libfaac", "", 1200000, 128000, 44100, 2, false},
    {"MP4 - MPEG4 Video (*.mp4)", 6, "MP4", "Auto", "mpeg4", "libfaac", "", 1200000, 128000, 44100, 2, false},
    {"MPEG-1 Movie (*.mpg)", 7, "MPG", "25.0 fps", "mpeg1video", "mp2", "320x240", 1200000, 128000, 44100, 2, false},
    {"MPEG-2 Movie (*.mpg)", 8, "MPG", "25.0 fps", "mpeg2video", "mp2", "320x240", 1200000, 128000, 44100, 2, false},
    {"RM - Real Video (*.rm)", 9, "RM", "Auto", "rv10", "ac3", "320x240", 384000, 96000, 48000, 2, false},
    {"WMV - Windows Media Video (*.wmv)", 10, "WMV", "Auto", "wmv2", "wmav2", "320x240", 1500000, 128000, 48000, 2, false},
    {"Apple TV (*.mp4)", 12, "MP4", "Auto", "mpeg4", "libfaac", "640x480", 1200000, 64000, 44100, -1, false},
    {"iPod (*.mp4)", 13, "MP4", "Auto", "mpeg4", "libfaac", "320x240", 512000, 128000, 44100, -1, false},
    {"iPod Touch (*.mp4)", 14, "MP4", "Auto", "mpeg4", "libfaac", "480x320", 1200000, 128000, 44100, 2, false},
    {"iPhone (*.mp4)", 15, "MP4", "Auto", "mpeg4", "libfaac", "480x320", 1200000, 128000, 44100, 2, false},
    {"PSP Video (*.mp4)", 17, "MP4", "29.97 fps", "mpeg4", "libfaac", "368x208", 384000, 96000, 24000, 2, false},
    {"PS3 Video (*.mp4)", 18, "MP4", "29.97 fps", "libx264", "libfaac", "720x480", 2000000, 128000, 44100, 2, false},
    {"Xbox360 AVI Video (*.avi)", 19, "AVI", "Auto", "mpeg4", "pcm_s16le", "", 1200000, 128000, 48000, 2, false},
    {"Xbox360 MPEG2 Video (*.mpg)", 20, "MPG", "25.0 fps", "mpeg2video", "mp2", "320x240", 1200000, 128000, 44100, 2, false},
    {"Xbox360 MPEG4 Video (*.mp4)", 21, "MP4", "Auto", "mpeg4", "libfaac", "", 1200000, 128000, 44100, 2, false},
    {"Xbox360 WMV Video (*.wmv)", 22, "WMV", "Auto", "wmv2", "wmav2", "320x240", 1500000, 128000, 48000, 2, false},
    {"Zune Mpeg4 Video (*.mp4)", 23, "MP4", "29.97 fps", "mpeg4", "libfaac", "320x240", 768000, 128000, 44100, 2, false},
    {"Zune WMV Windows Media Video (*.wmv)", 24, "WMV", "Auto", "wmv2", "wmav2", "320x240", 1200000, 128000, 48000, 2, false},
    {"Archos AV500/GMini402 (*.avi)", 26, "AVI", "Auto", "mpeg4", "libmp3lame", "480x272", 1500000, 128000, 48000, 2, false},
    {"Archos AV700 (*.avi)", 27, "AVI", "Auto", "mpeg4", "libmp3lame", "720x480", 1500000, 128000, 48000, 2, false},
    {"BlackBerry MPEG-4 Video (*.mp4)", 28, "MP4", "24 fps", "mpeg4", "libfaac", "320x240", 256000, 80000, 44100, 2, false},
    {"BlackBerry AVI Video (*.avi)", 29, "AVI", "24 fps", "h263", "libmp3lame", "176x144", 200000, 80000, 44100, 2, false},
    {"BlackBerry 3GP Video (*.3gp)", 30, "3GP", "15 fps", "mpeg4", "libamr_nb", "176x144", 120000, 7400, 8000, 1, false},
    {"Creative Zen Vision (*.avi)", 31, "AVI", "Auto", "mpeg4", "libmp3lame", "640x480", 1500000, 128000, 48000, 2, false},
    {"iRiver PMP100 (*.avi)", 32, "AVI", "Auto", "mpeg4", "libmp3lame", "640x480", 1500000, 128000, 48000, 2, false},
};

TEST(ProfilesTest, EveryFormatAtNormalQualityGivesItsOptions)
{
    for (const ExpectedProfile& expected : kExpected) {
        SCOPED_TRACE(expected.name);
        TProfileControls controls = startupControls();
        ASSERT_EQ(formatIndex(controls, expected.name), expected.index);
        choose(controls, expected.name);
        ApplyQualityLevels(controls);
        EXPECT_EQ(controls.OutputExtension, expected.extension);
        EXPECT_EQ(controls.LastFormatIndex, expected.index);
        EXPECT_EQ(controls.ComboVideoFramerate.SelectedText(), expected.frameRate);

        const TOutputOptions options = build(controls);
        EXPECT_EQ(options.VideoCodec, expected.videoCodec);
        EXPECT_EQ(options.AudioCodec, expected.audioCodec);
        EXPECT_EQ(options.FrameSize, expected.frameSize);
        EXPECT_EQ(options.VideoBitrate, expected.videoBitrate);
        EXPECT_EQ(options.AudioBitrate, expected.audioBitrate);
        EXPECT_EQ(options.AudioSampleRate, expected.sampleRate);
        EXPECT_EQ(options.AudioChannels, expected.channels);
        EXPECT_EQ(options.DisableVideo, expected.disableVideo);
        // Frame rate, volume and aspect belong to the caller.
        EXPECT_EQ(options.FrameRate, "");
        EXPECT_EQ(options.Aspect, "");
    }
}

TEST(ProfilesTest, FormatListHoldsThirtyFormatsAndThreeSeparators)
{
    const TProfileControls controls = startupControls();
    ASSERT_EQ(controls.ComboOutputFormat.Count(), kFormatListSize);
    EXPECT_EQ(controls.ComboOutputFormat.Selected(), 0);
    for (int index : {11, 16, 25}) {
        EXPECT_EQ(controls.ComboOutputFormat.Items()[static_cast<std::size_t>(index)], kSeparator);
        EXPECT_TRUE(IsFormatSeparator(kSeparator));
    }
    EXPECT_EQ(std::size(kExpected) + 3, static_cast<std::size_t>(kFormatListSize));
    EXPECT_FALSE(IsFormatSeparator("MPEG-1 Movie (*.mpg)"));
}

TEST(ProfilesTest, ChoosingASeparatorReturnsToThePreviousFormat)
{
    TProfileControls controls = startupControls();
    choose(controls, "MOV - QuickTime Video (*.mov)");
    controls.ComboVideoSize.SelectText("640 x 480");
    const TProfileControls before = controls;
    for (int separator : {11, 16, 25}) {
        controls.ComboOutputFormat.Select(separator);
        FormatChangeStep(controls);
        EXPECT_EQ(controls, before) << "separator " << separator;
    }
}

TEST(ProfilesTest, FixedListsHoldTheirTexts)
{
    const TProfileControls controls = startupControls();
    EXPECT_EQ(controls.ComboAspectRatio.Items(),
              (std::vector<std::string>{"Original", "4:3 (Standard", "16:9 (Wide Screen)"}));
    EXPECT_EQ(controls.ComboLetterBox.Items(), (std::vector<std::string>{"None", "LetterBox"}));
    EXPECT_EQ(controls.ComboAudioChannels.SelectedText(), "Stereo");
    EXPECT_EQ(controls.ComboAudioChannels.Count(), 2);
    EXPECT_EQ(controls.ComboVideoQuality.Items(),
              (std::vector<std::string>{"Highest", "Higher", "Normal", "Lower", "Lowest"}));
    EXPECT_EQ(controls.ComboVideoQuality.SelectedText(), "Normal");
    EXPECT_EQ(controls.ComboAudioQuality.SelectedText(), "Normal");
}

// The quality table as the catalogue publishes it: video Kbps and audio rates
// (Kbps, or bps for AMR) from "Highest" to "Lowest".
struct QualityRow {
    const char* format;
    std::array<int, 5> video;
    std::array<int, 5> audio;
};
constexpr QualityRow kQualityTable[] = {
    {"3GP - Mobile Video Format (*.3gp)", {512, 256, 128, 96, 64}, {12200, 7950, 7400, 6700, 4750}},
    {"3G2 - Mobile Video Format (*.3g2)", {512, 256, 128, 96, 64}, {12200, 7950, 7400, 6700, 4750}},
    {"ASF - Advance Streaming Format (*.asf)", {2000, 1500, 1200, 768, 512}, {320, 192, 128, 64, 32}},
    {"AVI - Audio Video Interleave (*.avi)", {2500, 1500, 1200, 512, 256}, {320, 192, 128, 64, 48}},
    {"AVI - DivX Video (*.avi)", {2500, 1500, 1200, 512, 256}, {320, 192, 128, 64, 48}},
    {"MOV - QuickTime Video (*.mov)", {2500, 2000, 1200, 768, 512}, {256, 192, 128, 80, 64}},
    {"MP4 - MPEG4 Video (*.mp4)", {2500, 1500, 1200, 768, 512}, {256, 192, 128, 80, 64}},
    {"MPEG-1 Movie (*.mpg)", {2000, 1600, 1200, 1000, 768}, {224, 192, 128, 80, 64}},
    {"MPEG-2 Movie (*.mpg)", {2000, 1600, 1200, 1000, 768}, {224, 192, 128, 80, 64}},
    {"RM - Real Video (*.rm)", {1200, 512, 384, 256, 128}, {160, 128, 96, 64, 48}},
    {"WMV - Windows Media Video (*.wmv)", {2500, 2000, 1500, 1200, 768}, {256, 192, 128, 80, 48}},
    {"Apple TV (*.mp4)", {2500, 1500, 1200, 800, 512}, {256, 128, 64, 48, 32}},
    {"iPod (*.mp4)", {1200, 800, 512, 256, 128}, {320, 192, 128, 96, 64}},
    {"iPod Touch (*.mp4)", {2500, 1500, 1200, 800, 512}, {256, 192, 128, 80, 64}},
    {"iPhone (*.mp4)", {2500, 1500, 1200, 800, 512}, {256, 192, 128, 80, 64}},
    {"PSP Video (*.mp4)", {768, 512, 384, 216, 128}, {160, 128, 96, 64, 48}},
    {"PS3 Video (*.mp4)", {3000, 2500, 2000, 1500, 1200}, {256, 192, 128, 80, 64}},
    {"Xbox360 AVI Video (*.avi)", {2500, 1500, 1200, 512, 256}, {320, 192, 128, 64, 48}},
    {"Xbox360 MPEG2 Video (*.mpg)", {2000, 1600, 1200, 1000, 768}, {224, 192, 128, 80, 64}},
    {"Xbox360 MPEG4 Video (*.mp4)", {2500, 1500, 1200, 768, 512}, {256, 192, 128, 80, 64}},
    {"Xbox360 WMV Video (*.wmv)", {2500, 2000, 1500, 1200, 768}, {256, 192, 128, 80, 48}},
    {"Zune Mpeg4 Video (*.mp4)", {2000, 1500, 768, 512, 256}, {256, 192, 128, 80, 64}},
    {"Zune WMV Windows Media Video (*.wmv)", {2000, 1500, 1200, 768, 256}, {256, 192, 128, 80, 48}},
    {"Archos AV500/GMini402 (*.avi)", {2500, 2000, 1500, 1200, 800}, {320, 192, 128, 64, 32}},
    {"Archos AV700 (*.avi)", {2500, 2000, 1500, 1200, 800}, {320, 192, 128, 64, 32}},
    {"BlackBerry MPEG-4 Video (*.mp4)", {512, 300, 256, 128, 80}, {112, 96, 80, 64, 40}},
    {"BlackBerry AVI Video (*.avi)", {512, 300, 200, 120, 80}, {256, 192, 80, 64, 48}},
    {"BlackBerry 3GP Video (*.3gp)", {512, 256, 120, 80, 40}, {12200, 7950, 7400, 6700, 4750}},
    {"Creative Zen Vision (*.avi)", {2500, 2000, 1500, 1200, 800}, {320, 192, 128, 64, 32}},
    {"iRiver PMP100 (*.avi)", {2500, 2000, 1500, 1200, 800}, {320, 192, 128, 64, 32}},
};

// Whether `list` holds `text`.
bool holds(const TItemList& list, const std::string& text)
{
    const auto& items = list.Items();
    return std::find(items.begin(), items.end(), text) != items.end();
}

TEST(ProfilesTest, EveryFormatsQualityLevelsPickTheTablesRatesAndNeverRise)
{
    for (const QualityRow& row : kQualityTable) {
        SCOPED_TRACE(row.format);
        TProfileControls controls = startupControls();
        choose(controls, row.format);
        const bool audioInKbps =
            controls.ComboAudioBitrate.SelectedText().find("Kbps") != std::string::npos;
        long previousVideo = LONG_MAX, previousAudio = LONG_MAX;
        // From "Highest" to "Lowest", as a user steps down the list.
        for (int level = 0; level < 5; ++level) {
            const std::string videoBefore = controls.ComboVideoBitrate.SelectedText();
            const std::string audioBefore = controls.ComboAudioBitrate.SelectedText();
            controls.ComboVideoQuality.Select(level);
            controls.ComboAudioQuality.Select(level);
            ApplyQualityLevels(controls);
            const std::string video = std::to_string(row.video[level]) + " Kbps";
            const std::string audio =
                std::to_string(row.audio[level]) + (audioInKbps ? " Kbps" : " bps");
            EXPECT_EQ(controls.ComboVideoBitrate.SelectedText(),
                      holds(controls.ComboVideoBitrate, video) ? video : videoBefore)
                << "video, level " << level;
            EXPECT_EQ(controls.ComboAudioBitrate.SelectedText(),
                      holds(controls.ComboAudioBitrate, audio) ? audio : audioBefore)
                << "audio, level " << level;
            const long videoRate = std::atol(controls.ComboVideoBitrate.SelectedText().c_str());
            const long audioRate = std::atol(controls.ComboAudioBitrate.SelectedText().c_str());
            EXPECT_LE(videoRate, previousVideo) << "video, level " << level;
            EXPECT_LE(audioRate, previousAudio) << "audio, level " << level;
            previousVideo = videoRate;
            previousAudio = audioRate;
        }
    }
}

TEST(ProfilesTest, QualityLevelsSelectOnlyRatesTheListHolds)
{
    TProfileControls controls = startupControls();
    choose(controls, "iPod (*.mp4)");
    auto videoRateAt = [&](int level) {
        controls.ComboVideoQuality.Select(level);
        ApplyQualityLevels(controls);
        return controls.ComboVideoBitrate.SelectedText();
    };
    // 256 and 128 Kbps are not in the iPod's list: the rate stays.
    EXPECT_EQ(videoRateAt(0), "1200 Kbps");
    EXPECT_EQ(videoRateAt(3), "1200 Kbps");
    EXPECT_EQ(videoRateAt(4), "1200 Kbps");
    EXPECT_EQ(videoRateAt(2), "512 Kbps");
    // No level selected takes no rate.
    EXPECT_EQ(videoRateAt(-1), "512 Kbps");

    // The Real Video list writes "384  Kbps" with two blanks, so Normal finds nothing.
    choose(controls, "RM - Real Video (*.rm)");
    EXPECT_EQ(build(controls).VideoBitrate, 384000);
    EXPECT_EQ(videoRateAt(0), "1200 Kbps");
    EXPECT_EQ(videoRateAt(2), "1200 Kbps");
    EXPECT_EQ(build(controls).VideoBitrate, 1200000);
}

TEST(ProfilesTest, AmrAudioRatesAreInBitsPerSecond)
{
    TProfileControls controls = startupControls();
    choose(controls, "BlackBerry 3GP Video (*.3gp)");
    EXPECT_EQ(controls.ComboAudioBitrate.SelectedText(), "4750 bps");
    EXPECT_EQ(build(controls).AudioBitrate, 4750);
    controls.ComboAudioQuality.Select(0);
    ApplyQualityLevels(controls);
    EXPECT_EQ(controls.ComboAudioBitrate.SelectedText(), "12200 bps");
    const TOutputOptions options = build(controls);
    EXPECT_EQ(options.AudioBitrate, 12200);
    EXPECT_EQ(options.AudioCodec, "libamr_nb");
}

TEST(ProfilesTest, ChoosingAFormatAgainReplacesItsLists)
{
    TProfileControls controls = startupControls();
    choose(controls, "Zune WMV Windows Media Video (*.wmv)");
    controls.ComboVideoFramerate.Select(3);
    choose(controls, "Zune WMV Windows Media Video (*.wmv)");
    EXPECT_EQ(controls.ComboVideoFramerate.Count(), 7);
    EXPECT_EQ(controls.ComboVideoFramerate.SelectedText(), "Auto");
}

TEST(ProfilesTest, ChannelAndAspectChoicesThatAFormatLeavesAlone)
{
    TProfileControls controls = startupControls();
    controls.ComboAudioChannels.SelectText("Mono");
    controls.ComboAspectRatio.SelectText("16:9 (Wide Screen)");
    for (const char* keeps : {"iPod (*.mp4)", "iPod Touch (*.mp4)", "Archos AV700 (*.avi)",
                              "BlackBerry AVI Video (*.avi)", "iRiver PMP100 (*.avi)"}) {
        choose(controls, keeps);
        EXPECT_EQ(controls.ComboAudioChannels.SelectedText(), "Mono") << keeps;
        EXPECT_EQ(controls.ComboAspectRatio.Selected(), 2) << keeps;
    }
    // The general builder honours the choice; the portable player builder writes none.
    choose(controls, "iPod Touch (*.mp4)");
    EXPECT_EQ(build(controls).AudioChannels, 1);
    choose(controls, "iPod (*.mp4)");
    EXPECT_EQ(build(controls).AudioChannels, -1);

    // Mobile formats set mono and keep the aspect.
    choose(controls, "3GP - Mobile Video Format (*.3gp)");
    EXPECT_EQ(controls.ComboAspectRatio.Selected(), 2);
    controls.ComboAudioChannels.SelectText("Stereo");
    EXPECT_EQ(build(controls).AudioChannels, 1);
    choose(controls, "BlackBerry 3GP Video (*.3gp)");
    EXPECT_EQ(controls.ComboAudioChannels.SelectedText(), "Stereo");
    EXPECT_EQ(build(controls).AudioChannels, 1);

    choose(controls, "MP4 - MPEG4 Video (*.mp4)");
    EXPECT_EQ(controls.ComboAudioChannels.SelectedText(), "Stereo");
    EXPECT_EQ(controls.ComboAspectRatio.Selected(), 0);
}

TEST(ProfilesTest, SourceSizeEntriesWriteNoFrameSize)
{
    TProfileControls controls = startupControls();
    choose(controls, "AVI - Audio Video Interleave (*.avi)");
    controls.ComboVideoSize.SelectText("704 x 576 (4CIF)");
    EXPECT_EQ(build(controls).FrameSize, "704x576");
    controls.ComboVideoSize.SelectText("Original Video Size");
    EXPECT_EQ(build(controls).FrameSize, "");

    for (const char* player : {"Archos AV500/GMini402 (*.avi)", "Archos AV700 (*.avi)",
                               "Creative Zen Vision (*.avi)", "iRiver PMP100 (*.avi)"}) {
        choose(controls, player);
        ASSERT_TRUE(controls.ComboVideoSize.SelectText("Auto")) << player;
        TOutputOptions options;
        ASSERT_NO_THROW(BuildProfileOptions(controls, options)) << player;
        EXPECT_EQ(options.FrameSize, "") << player;
        EXPECT_EQ(options.VideoCodec, "mpeg4") << player;
    }
}

TEST(ProfilesTest, TextsThatAreNotNumbersFailWithoutWritingAnything)
{
    TProfileControls controls = startupControls();
    choose(controls, "MP4 - MPEG4 Video (*.mp4)");
    controls.ComboVideoBitrate.Select(-1);
    EXPECT_EQ(build(controls).VideoBitrate, 0);

    TProfileControls noAudioRate = controls;
    noAudioRate.ComboAudioBitrate.Select(-1);
    TProfileControls noSampleRate = controls;
    noSampleRate.ComboSamplingRate.Select(-1);
    for (const TProfileControls* broken : {&noAudioRate, &noSampleRate}) {
        TOutputOptions options;
        EXPECT_THROW(BuildProfileOptions(*broken, options), ConversionError);
        EXPECT_EQ(options.VideoCodec, "");
        EXPECT_EQ(options.VideoBitrate, -1);
    }
}

TEST(ProfilesTest, NamesThatAreNotFormatsChangeNothing)
{
    TProfileControls controls = startupControls();
    choose(controls, "PSP Video (*.mp4)");
    const TProfileControls before = controls;
    // Look-ups are exact.
    EXPECT_FALSE(SelectFormatProfile(controls, "psp video (*.mp4)"));
    EXPECT_EQ(controls, before);

    controls.ComboOutputFormat.Select(-1);
    FormatChangeStep(controls);
    EXPECT_EQ(controls.LastFormatIndex, before.LastFormatIndex);
    ApplyQualityLevels(controls);
    TOutputOptions options;
    EXPECT_FALSE(BuildProfileOptions(controls, options));
    EXPECT_EQ(options.VideoCodec, "");
}

TEST(ProfilesTest, ItemListSelectsTheLastEqualEntry)
{
    TItemList list;
    for (const char* text : {"a", "b", "a"})
        list.Add(text);
    EXPECT_EQ(list.Selected(), -1);
    EXPECT_EQ(list.SelectedText(), "");
    EXPECT_TRUE(list.SelectText("a"));
    EXPECT_EQ(list.Selected(), 2);
    EXPECT_FALSE(list.SelectText("c"));
    EXPECT_EQ(list.Selected(), 2);
    list.Select(3);
    EXPECT_EQ(list.Selected(), -1);
}

// Every codec a format offers must name an encoder of the bound libraries,
// under the name the builders write.
TEST(ProfilesTest, EveryOfferedCodecIsAnAvailableEncoder)
{
    testing::BindLibrariesForTests();
    auto offered = [](const std::string& name, AVMediaType type) {
        try {
            return LookupCodec(name, type, true) != AV_CODEC_ID_NONE;
        } catch (const FFMpegException&) {
            return false;
        }
    };
    std::set<std::string> missing;
    std::set<std::string> written;
    for (const ExpectedProfile& format : kExpected) {
        TProfileControls controls = startupControls();
        choose(controls, format.name);
        for (int video = 0; video < controls.ComboVideoCodec.Count(); ++video) {
            for (int audio = 0; audio < controls.ComboAudioCodec.Count(); ++audio) {
                controls.ComboVideoCodec.Select(video);
                controls.ComboAudioCodec.Select(audio);
                const TOutputOptions options = build(controls);
                if (!offered(options.VideoCodec, AVMEDIA_TYPE_VIDEO))
                    missing.insert(std::string(format.name) + ": " + options.VideoCodec);
                if (!offered(options.AudioCodec, AVMEDIA_TYPE_AUDIO))
                    missing.insert(std::string(format.name) + ": " + options.AudioCodec);
                written.insert(options.VideoCodec);
                written.insert(options.AudioCodec);
            }
        }
    }
    EXPECT_TRUE(missing.empty()) << [&] {
        std::string text = "encoders not found:";
        for (const std::string& entry : missing)
            text += "\n  " + entry;
        return text;
    }();
    // Codec list entries reach the options under their encoder names.
    for (const char* name : {"libx264", "libxvid", "h263", "rv20", "ac3", "mp2", "pcm_s16le"})
        EXPECT_TRUE(written.count(name)) << name;
}

}  // namespace
}  // namespace clipmora
