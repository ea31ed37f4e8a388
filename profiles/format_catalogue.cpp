// The catalogue's data. Texts are exactly what the lists show and what the
// option builders parse: a bit rate is "<n> Kbps" or "<n> bps", a frame rate
// "<n> fps", a sampling rate "<n> Hz". A few texts look irregular on purpose
// ("15.0 fps" beside "15 fps", the two blanks in the first Real Video rates):
// the quality levels select entries by their exact text, so these decide
// which levels find an entry.
#include "profiles/format_catalogue.h"

#include <algorithm>

namespace clipmora {

namespace {

// ---- Option lists that several formats share --------------------------------

constexpr std::string_view kMobileSizes[] = {
    "128 x 96 (SQCIF)", "160 x 120 (QVGA)", "176 x 144 (QCIF)", "208 x 176",
    "220 x 176",        "320 x 240 (VGA)",  "352 x 288 (CIF)"};
constexpr std::string_view kGeneralSizes[] = {
    "Original Video Size", "128 x 96 (SQCIF)", "160 x 120 (QVGA)", "176 x 120",
    "176 x 144 (QCIF)",    "192 x 144",        "208 x 176",        "220 x 176",
    "240 x 180",           "320 x 200",        "320 x 240 (VGA)",  "352 x 240",
    "352 x 288 (CIF)",     "480 x 272",        "480 x 360",        "480 x 480",
    "480 x 576",           "624 x 352",        "640 x 352",        "640 x 480",
    "704 x 576 (4CIF)",    "720 x 480",        "720 x 576"};
constexpr std::string_view kPlayerSizes[] = {"Auto",      "160 x 120", "320 x 240",
                                             "480 x 272", "720 x 480", "640 x 480"};
constexpr std::string_view kBlackBerrySizes[] = {"176 x 144", "240 x 180", "320 x 240"};

constexpr std::string_view kMobileVideoRates[] = {"48 Kbps",  "64 Kbps",  "96 Kbps",
                                                  "128 Kbps", "256 Kbps", "512 Kbps"};
constexpr std::string_view kMovieVideoRates[] = {
    "192 Kbps",  "200 Kbps",  "216 Kbps",  "384 Kbps",  "512 Kbps",  "640 Kbps", "768 Kbps",
    "1000 Kbps", "1200 Kbps", "1500 Kbps", "1600 Kbps", "2000 Kbps", "2500 Kbps"};
constexpr std::string_view kAviVideoRates[] = {
    "192 Kbps", "200 Kbps", "216 Kbps",  "256 Kbps",  "384 Kbps",  "512 Kbps", "640 Kbps",
    "768 Kbps", "800 Kbps", "1000 Kbps", "1200 Kbps", "1500 Kbps", "2500 Kbps"};
constexpr std::string_view kAppleVideoRates[] = {"512 Kbps", "800 Kbps", "1200 Kbps",
                                                 "1500 Kbps", "2500 Kbps"};
constexpr std::string_view kPlayerVideoRates[] = {"800 Kbps", "1200 Kbps", "1500 Kbps",
                                                  "2000 Kbps", "2500 Kbps"};

constexpr std::string_view kMobileFrameRates[] = {"Auto", "11 fps", "14.985 fps", "15 fps"};
constexpr std::string_view kGeneralFrameRates[] = {"Auto",     "14.985 fps", "15.0 fps",
                                                   "23.975 fps", "25.0 fps", "29.97 fps",
                                                   "30.0 fps"};
constexpr std::string_view kBlackBerryFrameRates[] = {"11 fps", "15 fps", "20 fps", "24 fps",
                                                      "25 fps"};

constexpr std::string_view kAmrAudioRates[] = {"4750 bps", "5150 bps", "5900 bps",
                                               "6700 bps", "7400 bps", "7950 bps",
                                               "10200 bps", "12200 bps"};
constexpr std::string_view kGeneralAudioRates[] = {
    "32 Kbps",  "40 Kbps",  "48 Kbps",  "64 Kbps",  "80 Kbps",  "96 Kbps", "112 Kbps",
    "128 Kbps", "160 Kbps", "192 Kbps", "224 Kbps", "256 Kbps", "320 Kbps"};

constexpr std::string_view kMobileSamplingRates[] = {"8000 Hz", "16000 Hz"};
constexpr std::string_view kGeneralSamplingRates[] = {"8000 Hz",  "16000 Hz", "22050 Hz",
                                                      "32000 Hz", "44100 Hz", "48000 Hz",
                                                      "54000 Hz", "96000 Hz"};

// ---- Codec lists --------------------------------------------------------------

constexpr std::string_view kMobileVideoCodecs[] = {"MPEG4", "H263", "H264"};
constexpr std::string_view kMobileAudioCodecs[] = {"amr_nb", "mpeg4aac"};
constexpr std::string_view kMpeg4VideoCodecs[] = {"MPEG4"};
constexpr std::string_view kMpeg4OrH264VideoCodecs[] = {"MPEG4", "H264"};
constexpr std::string_view kMp4VideoCodecs[] = {"MPEG4", "H264", "XVid"};
constexpr std::string_view kPspVideoCodecs[] = {"MPEG4", "H264", "XVID"};
constexpr std::string_view kH264VideoCodecs[] = {"H264"};
constexpr std::string_view kAsfVideoCodecs[] = {"MSMPEG4"};
constexpr std::string_view kMpeg1VideoCodecs[] = {"MPEG1VIDEO"};
constexpr std::string_view kMpeg2VideoCodecs[] = {"MPEG2VIDEO"};
constexpr std::string_view kRealVideoCodecs[] = {"RV10", "RV20"};
constexpr std::string_view kWmvVideoCodecs[] = {"WMV2"};
constexpr std::string_view kBlackBerryAviVideoCodecs[] = {"H263"};
constexpr std::string_view kBlackBerry3gpVideoCodecs[] = {"MPEG4", "H263"};

constexpr std::string_view kAacAudioCodecs[] = {"mpeg4aac"};
constexpr std::string_view kMp3AudioCodecs[] = {"mp3"};
constexpr std::string_view kAviAudioCodecs[] = {"pcm_s16le", "mp3", "mp2", "ac3"};
constexpr std::string_view kMp2AudioCodecs[] = {"mp2"};
constexpr std::string_view kMpeg2AudioCodecs[] = {"mp2", "ac3"};
constexpr std::string_view kAc3AudioCodecs[] = {"ac3"};
constexpr std::string_view kWmaAudioCodecs[] = {"wmav2"};
constexpr std::string_view kPlayerAudioCodecs[] = {"mp3", "mp2"};
constexpr std::string_view kBlackBerryAviAudioCodecs[] = {"mp3", "pcm_s16le"};

// ---- Lists of a single format -------------------------------------------------

constexpr std::string_view kAsfVideoRates[] = {"512 Kbps",  "768 Kbps",  "1200 Kbps",
                                               "1500 Kbps", "2000 Kbps", "2500 Kbps",
                                               "3000 Kbps"};
constexpr std::string_view kRealVideoRates[] = {"384  Kbps", "400  Kbps", "600  Kbps",
                                                "1200 Kbps", "1800 Kbps", "2200 Kbps",
                                                "2600 Kbps", "3000 Kbps"};

constexpr std::string_view kAppleTvSizes[] = {"640 x 480"};
constexpr std::string_view kIpodSizes[] = {"320 x 240"};
constexpr std::string_view kIphoneSizes[] = {"480 x 320"};

constexpr std::string_view kPspSizes[] = {"160 x 112", "320 x 240", "368 x 208", "480 x 272"};
constexpr std::string_view kPspVideoRates[] = {"128 Kbps", "216 Kbps", "384 Kbps", "512 Kbps",
                                               "768 Kbps"};
constexpr std::string_view kPspFrameRates[] = {"14.985 fps", "29.97 fps"};
constexpr std::string_view kPspAudioRates[] = {"32 Kbps", "48 Kbps",  "64 Kbps",
                                               "96 Kbps", "128 Kbps", "160 Kbps"};
constexpr std::string_view kPspSamplingRates[] = {"24000 Hz"};

constexpr std::string_view kPs3Sizes[] = {"640 x 480", "720 x 480", "720 x 576"};
constexpr std::string_view kPs3VideoRates[] = {"1200 Kbps", "1500 Kbps", "2000 Kbps",
                                               "2500 Kbps", "3000 Kbps"};
constexpr std::string_view kNtscFrameRates[] = {"29.97 fps"};

constexpr std::string_view kZuneSizes[] = {"320 x 240", "640 x 480"};
constexpr std::string_view kZuneVideoRates[] = {"256 Kbps",  "512 Kbps",  "768 Kbps",
                                                "1200 Kbps", "1500 Kbps", "2000 Kbps"};

constexpr std::string_view kBlackBerryMp4VideoRates[] = {"80 Kbps",  "128 Kbps", "200 Kbps",
                                                         "256 Kbps", "300 Kbps", "512 Kbps"};
constexpr std::string_view kBlackBerryMp4AudioRates[] = {"40 Kbps", "48 Kbps", "64 Kbps",
                                                         "80 Kbps", "96 Kbps", "112 Kbps"};
constexpr std::string_view kBlackBerryAviSizes[] = {"176 x 144"};
constexpr std::string_view kBlackBerryAviVideoRates[] = {"80 Kbps",  "120 Kbps", "200 Kbps",
                                                         "256 Kbps", "300 Kbps", "512 Kbps"};
constexpr std::string_view kBlackBerry3gpVideoRates[] = {"40 Kbps",  "80 Kbps",  "120 Kbps",
                                                         "128 Kbps", "256 Kbps", "512 Kbps"};
constexpr std::string_view kBlackBerry3gpFrameRates[] = {"Auto",   "11 fps", "15 fps",
                                                         "20 fps", "24 fps", "25 fps"};

// ---- The formats --------------------------------------------------------------
//
// A family's lists stand once, in its base row; each format is its family's
// base with the cells it changes. The quality rates are the video and audio
// bit rates of the levels Highest, Higher, Normal, Lower, Lowest.

template <typename Change>
constexpr TFormatProfile variant(TFormatProfile row, Change change)
{
    change(row);
    return row;
}

// Players that take AAC audio in Kbps whatever the lists say and ignore the
// channel choice and the video switch.
constexpr TFormatProfile portablePlayer(TFormatProfile row)
{
    row.fixedAudioCodec = "mpeg4aac";
    row.audioRateUnit = ruKbps;
    row.writesChannels = false;
    row.writesVideoSwitch = false;
    return row;
}

// The lists of the general containers.
constexpr TFormatProfile kGeneralFamily{
    .videoSize = {kGeneralSizes, "Original Video Size"},
    .frameRate = {kGeneralFrameRates, "Auto"},
    .audioBitrate = {kGeneralAudioRates, "128 Kbps"},
    .samplingRate = {kGeneralSamplingRates, "48000 Hz"},
    .channels = "Stereo",
    .aspect = "Original",
};

constexpr TFormatProfile kAviFamily = variant(kGeneralFamily, [](TFormatProfile& p) {
    p.extension = "AVI";
    p.videoCodecs = kMpeg4OrH264VideoCodecs;
    p.audioCodecs = kAviAudioCodecs;
    p.videoBitrate = {kAviVideoRates, "1200 Kbps"};
    p.videoQuality = {2500, 1500, 1200, 512, 256};
    p.audioQuality = {320, 192, 128, 64, 48};
});

constexpr TFormatProfile kMp4Family = variant(kGeneralFamily, [](TFormatProfile& p) {
    p.extension = "MP4";
    p.videoCodecs = kMp4VideoCodecs;
    p.audioCodecs = kAacAudioCodecs;
    p.videoBitrate = {kMovieVideoRates, "1200 Kbps"};
    p.samplingRate.selected = "44100 Hz";
    p.videoQuality = {2500, 1500, 1200, 768, 512};
    p.audioQuality = {256, 192, 128, 80, 64};
});

constexpr TFormatProfile kMpegFamily = variant(kGeneralFamily, [](TFormatProfile& p) {
    p.extension = "MPG";
    p.videoSize.selected = "320 x 240 (VGA)";
    p.videoBitrate = {kMovieVideoRates, "1600 Kbps"};
    p.frameRate.selected = "25.0 fps";
    p.audioBitrate.selected = "192 Kbps";
    p.samplingRate.selected = "44100 Hz";
    p.videoQuality = {2000, 1600, 1200, 1000, 768};
    p.audioQuality = {224, 192, 128, 80, 64};
});

// MPEG-2 video belongs in an MPEG-2 program stream, which ".mpg" alone would
// not give.
constexpr TFormatProfile kMpeg2Family = variant(kMpegFamily, [](TFormatProfile& p) {
    p.videoCodecs = kMpeg2VideoCodecs;
    p.audioCodecs = kMpeg2AudioCodecs;
    p.videoBitrate.selected = "2000 Kbps";
    p.container = "vob";
});

constexpr TFormatProfile kWmvFamily = variant(kGeneralFamily, [](TFormatProfile& p) {
    p.extension = "WMV";
    p.videoCodecs = kWmvVideoCodecs;
    p.audioCodecs = kWmaAudioCodecs;
    p.videoSize.selected = "320 x 240 (VGA)";
    p.videoBitrate = {kMovieVideoRates, "1200 Kbps"};
    p.videoQuality = {2500, 2000, 1500, 1200, 768};
    p.audioQuality = {256, 192, 128, 80, 48};
});

// Mobile phones: AMR audio whatever the audio list holds, rates in bps, mono.
constexpr TFormatProfile kMobileFamily{
    .extension = "3GP",
    .videoCodecs = kMobileVideoCodecs,
    .audioCodecs = kMobileAudioCodecs,
    .videoSize = {kMobileSizes, "176 x 144 (QCIF)"},
    .videoBitrate = {kMobileVideoRates, "128 Kbps"},
    .frameRate = {kMobileFrameRates, "Auto"},
    .audioBitrate = {kAmrAudioRates, "7400 bps"},
    .samplingRate = {kMobileSamplingRates, "8000 Hz"},
    .channels = "Mono",
    .videoQuality = {512, 256, 128, 96, 64},
    .audioQuality = {12200, 7950, 7400, 6700, 4750},
    .fixedAudioCodec = "amr_nb",
    .writesVideoSwitch = false,
};

constexpr TFormatProfile kAppleFamily = variant(kMp4Family, [](TFormatProfile& p) {
    p.videoCodecs = kMpeg4VideoCodecs;
    p.videoBitrate.entries = kAppleVideoRates;
});

// iPod Touch and iPhone share their lists.
constexpr TFormatProfile kIphoneFamily = variant(kAppleFamily, [](TFormatProfile& p) {
    p.videoSize = {kIphoneSizes, "480 x 320"};
    p.videoBitrate.selected = "1200 Kbps";
    p.audioBitrate.selected = "80 Kbps";
    p.videoQuality = {2500, 1500, 1200, 800, 512};
});

// Media players with their own sizes and rates; they keep the user's channel
// and aspect choices.
constexpr TFormatProfile kPlayerFamily = variant(kAviFamily, [](TFormatProfile& p) {
    p.videoCodecs = kMpeg4VideoCodecs;
    p.audioCodecs = kPlayerAudioCodecs;
    p.videoSize = {kPlayerSizes, "640 x 480"};
    p.videoBitrate = {kPlayerVideoRates, "1500 Kbps"};
    p.channels = kUnchanged;
    p.aspect = kUnchanged;
    p.videoQuality = {2500, 2000, 1500, 1200, 800};
    p.audioQuality = {320, 192, 128, 64, 32};
});

constexpr TFormatProfile kBlackBerryFamily = variant(kGeneralFamily, [](TFormatProfile& p) {
    p.videoSize = {kBlackBerrySizes, "176 x 144"};
    p.frameRate = {kBlackBerryFrameRates, "24 fps"};
    p.samplingRate.selected = "44100 Hz";
    p.channels = kUnchanged;
    p.aspect = kUnchanged;
});

constexpr TFormatProfile kFormatProfiles[] = {
    variant(kMobileFamily, [](TFormatProfile& p) { p.name = "3GP - Mobile Video Format (*.3gp)"; }),
    variant(kMobileFamily, [](TFormatProfile& p) {
        p.name = "3G2 - Mobile Video Format (*.3g2)";
        p.extension = "3G2";
    }),
    variant(kGeneralFamily, [](TFormatProfile& p) {
        // "Advance" is the program's established name; formats are found by
        // their exact names.
        p.name = "ASF - Advance Streaming Format (*.asf)";
        p.extension = "ASF";
        p.videoCodecs = kAsfVideoCodecs;
        p.audioCodecs = kMp3AudioCodecs;
        p.videoBitrate = {kAsfVideoRates, "1200 Kbps"};
        p.videoQuality = {2000, 1500, 1200, 768, 512};
        p.audioQuality = {320, 192, 128, 64, 32};
    }),
    variant(kAviFamily, [](TFormatProfile& p) { p.name = "AVI - Audio Video Interleave (*.avi)"; }),
    variant(kAviFamily, [](TFormatProfile& p) {
        p.name = "AVI - DivX Video (*.avi)";
        p.videoCodecs = kMpeg4VideoCodecs;
        p.audioCodecs = kMp3AudioCodecs;
    }),
    variant(kMp4Family, [](TFormatProfile& p) {
        p.name = "MOV - QuickTime Video (*.mov)";
        p.extension = "MOV";
        p.videoCodecs = kMpeg4VideoCodecs;
        p.videoQuality = {2500, 2000, 1200, 768, 512};
    }),
    variant(kMp4Family, [](TFormatProfile& p) { p.name = "MP4 - MPEG4 Video (*.mp4)"; }),
    variant(kMpegFamily, [](TFormatProfile& p) {
        p.name = "MPEG-1 Movie (*.mpg)";
        p.videoCodecs = kMpeg1VideoCodecs;
        p.audioCodecs = kMp2AudioCodecs;
    }),
    variant(kMpeg2Family, [](TFormatProfile& p) { p.name = "MPEG-2 Movie (*.mpg)"; }),
    variant(kGeneralFamily, [](TFormatProfile& p) {
        p.name = "RM - Real Video (*.rm)";
        p.extension = "RM";
        p.videoCodecs = kRealVideoCodecs;
        p.audioCodecs = kAc3AudioCodecs;
        p.videoSize.selected = "320 x 240 (VGA)";
        p.videoBitrate = {kRealVideoRates, "384  Kbps"};
        p.videoQuality = {1200, 512, 384, 256, 128};
        p.audioQuality = {160, 128, 96, 64, 48};
    }),
    variant(kWmvFamily, [](TFormatProfile& p) { p.name = "WMV - Windows Media Video (*.wmv)"; }),

    portablePlayer(variant(kAppleFamily, [](TFormatProfile& p) {
        p.name = "Apple TV (*.mp4)";
        p.videoSize = {kAppleTvSizes, "640 x 480"};
        p.videoBitrate.selected = "1500 Kbps";
        p.videoQuality = {2500, 1500, 1200, 800, 512};
        p.audioQuality = {256, 128, 64, 48, 32};
    })),
    portablePlayer(variant(kAppleFamily, [](TFormatProfile& p) {
        p.name = "iPod (*.mp4)";
        p.videoCodecs = kMpeg4OrH264VideoCodecs;
        p.videoSize = {kIpodSizes, "320 x 240"};
        p.videoBitrate.selected = "512 Kbps";
        p.audioBitrate.selected = "64 Kbps";
        p.channels = kUnchanged;
        p.aspect = kUnchanged;
        p.videoQuality = {1200, 800, 512, 256, 128};
        p.audioQuality = {320, 192, 128, 96, 64};
    })),
    variant(kIphoneFamily, [](TFormatProfile& p) {
        p.name = "iPod Touch (*.mp4)";
        p.channels = kUnchanged;
        p.aspect = kUnchanged;
    }),
    variant(kIphoneFamily, [](TFormatProfile& p) { p.name = "iPhone (*.mp4)"; }),

    variant(kMp4Family, [](TFormatProfile& p) {
        p.name = "PSP Video (*.mp4)";
        p.videoCodecs = kPspVideoCodecs;
        p.videoSize = {kPspSizes, "368 x 208"};
        p.videoBitrate = {kPspVideoRates, "768 Kbps"};
        p.frameRate = {kPspFrameRates, "29.97 fps"};
        p.audioBitrate = {kPspAudioRates, "64 Kbps"};
        p.samplingRate = {kPspSamplingRates, "24000 Hz"};
        p.videoQuality = {768, 512, 384, 216, 128};
        p.audioQuality = {160, 128, 96, 64, 48};
    }),
    variant(kMp4Family, [](TFormatProfile& p) {
        p.name = "PS3 Video (*.mp4)";
        p.videoCodecs = kH264VideoCodecs;
        p.videoSize = {kPs3Sizes, "720 x 480"};
        p.videoBitrate = {kPs3VideoRates, "1200 Kbps"};
        p.frameRate = {kNtscFrameRates, "29.97 fps"};
        p.audioBitrate.selected = "96 Kbps";
        p.videoQuality = {3000, 2500, 2000, 1500, 1200};
    }),
    variant(kAviFamily, [](TFormatProfile& p) { p.name = "Xbox360 AVI Video (*.avi)"; }),
    variant(kMpeg2Family, [](TFormatProfile& p) { p.name = "Xbox360 MPEG2 Video (*.mpg)"; }),
    variant(kMp4Family, [](TFormatProfile& p) { p.name = "Xbox360 MPEG4 Video (*.mp4)"; }),
    variant(kWmvFamily, [](TFormatProfile& p) { p.name = "Xbox360 WMV Video (*.wmv)"; }),
    variant(kMp4Family, [](TFormatProfile& p) {
        p.name = "Zune Mpeg4 Video (*.mp4)";
        p.videoCodecs = kMpeg4OrH264VideoCodecs;
        p.videoSize = {kZuneSizes, "320 x 240"};
        p.videoBitrate = {kZuneVideoRates, "1500 Kbps"};
        p.frameRate = {kNtscFrameRates, "29.97 fps"};
        p.videoQuality = {2000, 1500, 768, 512, 256};
    }),
    variant(kWmvFamily, [](TFormatProfile& p) {
        p.name = "Zune WMV Windows Media Video (*.wmv)";
        p.videoSize = {kZuneSizes, "320 x 240"};
        p.videoBitrate = {kZuneVideoRates, "1200 Kbps"};
        p.videoQuality = {2000, 1500, 1200, 768, 256};
    }),

    variant(kPlayerFamily, [](TFormatProfile& p) {
        p.name = "Archos AV500/GMini402 (*.avi)";
        p.videoSize.selected = "480 x 272";
    }),
    variant(kPlayerFamily, [](TFormatProfile& p) {
        p.name = "Archos AV700 (*.avi)";
        p.videoSize.selected = "720 x 480";
        p.videoBitrate.selected = "2000 Kbps";
    }),
    variant(kBlackBerryFamily, [](TFormatProfile& p) {
        p.name = "BlackBerry MPEG-4 Video (*.mp4)";
        p.extension = "MP4";
        p.videoCodecs = kMpeg4VideoCodecs;
        p.audioCodecs = kAacAudioCodecs;
        p.videoSize.selected = "320 x 240";
        p.videoBitrate = {kBlackBerryMp4VideoRates, "300 Kbps"};
        p.audioBitrate = {kBlackBerryMp4AudioRates, "80 Kbps"};
        p.videoQuality = {512, 300, 256, 128, 80};
        p.audioQuality = {112, 96, 80, 64, 40};
    }),
    variant(kBlackBerryFamily, [](TFormatProfile& p) {
        p.name = "BlackBerry AVI Video (*.avi)";
        p.extension = "AVI";
        p.videoCodecs = kBlackBerryAviVideoCodecs;
        p.audioCodecs = kBlackBerryAviAudioCodecs;
        p.videoSize.entries = kBlackBerryAviSizes;
        p.videoBitrate = {kBlackBerryAviVideoRates, "300 Kbps"};
        p.audioBitrate.selected = "64 Kbps";
        p.videoQuality = {512, 300, 200, 120, 80};
        p.audioQuality = {256, 192, 80, 64, 48};
    }),
    // Carries AMR audio, so it is mono like the mobile formats.
    variant(kBlackBerryFamily, [](TFormatProfile& p) {
        p.name = "BlackBerry 3GP Video (*.3gp)";
        p.extension = "3GP";
        p.videoCodecs = kBlackBerry3gpVideoCodecs;
        p.audioCodecs = kMobileAudioCodecs;
        p.videoBitrate = {kBlackBerry3gpVideoRates, "128 Kbps"};
        p.frameRate = {kBlackBerry3gpFrameRates, "15 fps"};
        p.audioBitrate = {kAmrAudioRates, "4750 bps"};
        p.samplingRate = {kMobileSamplingRates, "8000 Hz"};
        p.videoQuality = {512, 256, 120, 80, 40};
        p.audioQuality = {12200, 7950, 7400, 6700, 4750};
    }),
    variant(kPlayerFamily, [](TFormatProfile& p) { p.name = "Creative Zen Vision (*.avi)"; }),
    variant(kPlayerFamily, [](TFormatProfile& p) { p.name = "iRiver PMP100 (*.avi)"; }),
};

// Where the separator lines stand in the format list, dividing the general
// formats, the Apple devices, the consoles and media players, and the other
// portable devices.
constexpr int kSeparatorPositions[] = {11, 16, 25};

static_assert(std::size(kFormatProfiles) + std::size(kSeparatorPositions) == kFormatListSize);

constexpr bool isListed(TTextList entries, std::string_view text)
{
    return std::find(entries.begin(), entries.end(), text) != entries.end();
}

// Every default must name an entry of its list, or choosing the format would
// leave that list without a selection; a row its family left incomplete
// fails here too.
constexpr bool defaultsAreListed()
{
    for (const TFormatProfile& p : kFormatProfiles) {
        for (const TListDefault& list :
             {p.videoSize, p.videoBitrate, p.frameRate, p.audioBitrate, p.samplingRate})
            if (!isListed(list.entries, list.selected))
                return false;
        if (p.name.empty() || p.extension.empty() || p.videoCodecs.empty() ||
            p.audioCodecs.empty())
            return false;
        if (p.fixedAudioCodec != std::string_view{} && !isListed(p.audioCodecs, p.fixedAudioCodec))
            return false;
        for (const TQualityRates& rates : {p.videoQuality, p.audioQuality})
            if (std::find(rates.begin(), rates.end(), 0) != rates.end())
                return false;
        if (p.channels != kUnchanged && !isListed(kAudioChannelEntries, p.channels))
            return false;
        if (p.aspect != kUnchanged && !isListed(kAspectRatioEntries, p.aspect))
            return false;
    }
    return true;
}
static_assert(defaultsAreListed());

constexpr std::array<std::string_view, kFormatListSize> kFormatList = [] {
    std::array<std::string_view, kFormatListSize> list{};
    std::size_t nextProfile = 0;
    for (int index = 0; index < kFormatListSize; ++index) {
        const bool separator = std::find(std::begin(kSeparatorPositions),
                                         std::end(kSeparatorPositions),
                                         index) != std::end(kSeparatorPositions);
        list[static_cast<std::size_t>(index)] =
            separator ? kFormatSeparator : kFormatProfiles[nextProfile++].name;
    }
    return list;
}();

}  // namespace

std::span<const std::string_view, kFormatListSize> FormatListEntries() { return kFormatList; }

std::span<const TFormatProfile> FormatProfiles() { return kFormatProfiles; }

const TFormatProfile* FindFormatProfile(std::string_view name)
{
    for (const TFormatProfile& profile : kFormatProfiles)
        if (profile.name == name)
            return &profile;
    return nullptr;
}

}  // namespace clipmora
