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
// Per row: name, extension, builder; video codecs, audio codecs; size, video
// bit rate, frame rate, audio bit rate, sampling rate (each list with its
// default entry); channels, aspect; the video and audio bit rates of the
// quality levels Highest, Higher, Normal, Lower, Lowest.

constexpr TFormatProfile kFormatProfiles[] = {
    {"3GP - Mobile Video Format (*.3gp)", "3GP", pbMobile,
     kMobileVideoCodecs, kMobileAudioCodecs,
     {kMobileSizes, "176 x 144 (QCIF)"}, {kMobileVideoRates, "128 Kbps"},
     {kMobileFrameRates, "Auto"}, {kAmrAudioRates, "7400 bps"}, {kMobileSamplingRates, "8000 Hz"},
     "Mono", kUnchanged,
     {512, 256, 128, 96, 64}, {12200, 7950, 7400, 6700, 4750}},
    {"3G2 - Mobile Video Format (*.3g2)", "3G2", pbMobile,
     kMobileVideoCodecs, kMobileAudioCodecs,
     {kMobileSizes, "176 x 144 (QCIF)"}, {kMobileVideoRates, "128 Kbps"},
     {kMobileFrameRates, "Auto"}, {kAmrAudioRates, "7400 bps"}, {kMobileSamplingRates, "8000 Hz"},
     "Mono", kUnchanged,
     {512, 256, 128, 96, 64}, {12200, 7950, 7400, 6700, 4750}},
    {"ASF - Advance Streaming Format (*.asf)", "ASF", pbGeneral,
     kAsfVideoCodecs, kMp3AudioCodecs,
     {kGeneralSizes, "Original Video Size"}, {kAsfVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     "Stereo", "Original",
     {2000, 1500, 1200, 768, 512}, {320, 192, 128, 64, 32}},
    {"AVI - Audio Video Interleave (*.avi)", "AVI", pbGeneral,
     kMpeg4OrH264VideoCodecs, kAviAudioCodecs,
     {kGeneralSizes, "Original Video Size"}, {kAviVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     "Stereo", "Original",
     {2500, 1500, 1200, 512, 256}, {320, 192, 128, 64, 48}},
    {"AVI - DivX Video (*.avi)", "AVI", pbGeneral,
     kMpeg4VideoCodecs, kMp3AudioCodecs,
     {kGeneralSizes, "Original Video Size"}, {kAviVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     "Stereo", "Original",
     {2500, 1500, 1200, 512, 256}, {320, 192, 128, 64, 48}},
    {"MOV - QuickTime Video (*.mov)", "MOV", pbGeneral,
     kMpeg4VideoCodecs, kAacAudioCodecs,
     {kGeneralSizes, "Original Video Size"}, {kMovieVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     "Stereo", "Original",
     {2500, 2000, 1200, 768, 512}, {256, 192, 128, 80, 64}},
    {"MP4 - MPEG4 Video (*.mp4)", "MP4", pbGeneral,
     kMp4VideoCodecs, kAacAudioCodecs,
     {kGeneralSizes, "Original Video Size"}, {kMovieVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     "Stereo", "Original",
     {2500, 1500, 1200, 768, 512}, {256, 192, 128, 80, 64}},
    {"MPEG-1 Movie (*.mpg)", "MPG", pbGeneral,
     kMpeg1VideoCodecs, kMp2AudioCodecs,
     {kGeneralSizes, "320 x 240 (VGA)"}, {kMovieVideoRates, "1600 Kbps"},
     {kGeneralFrameRates, "25.0 fps"}, {kGeneralAudioRates, "192 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     "Stereo", "Original",
     {2000, 1600, 1200, 1000, 768}, {224, 192, 128, 80, 64}},
    {"MPEG-2 Movie (*.mpg)", "MPG", pbGeneral,
     kMpeg2VideoCodecs, kMpeg2AudioCodecs,
     {kGeneralSizes, "320 x 240 (VGA)"}, {kMovieVideoRates, "2000 Kbps"},
     {kGeneralFrameRates, "25.0 fps"}, {kGeneralAudioRates, "192 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     "Stereo", "Original",
     {2000, 1600, 1200, 1000, 768}, {224, 192, 128, 80, 64}},
    {"RM - Real Video (*.rm)", "RM", pbGeneral,
     kRealVideoCodecs, kAc3AudioCodecs,
     {kGeneralSizes, "320 x 240 (VGA)"}, {kRealVideoRates, "384  Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     "Stereo", "Original",
     {1200, 512, 384, 256, 128}, {160, 128, 96, 64, 48}},
    {"WMV - Windows Media Video (*.wmv)", "WMV", pbGeneral,
     kWmvVideoCodecs, kWmaAudioCodecs,
     {kGeneralSizes, "320 x 240 (VGA)"}, {kMovieVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     "Stereo", "Original",
     {2500, 2000, 1500, 1200, 768}, {256, 192, 128, 80, 48}},

    {"Apple TV (*.mp4)", "MP4", pbPortablePlayer,
     kMpeg4VideoCodecs, kAacAudioCodecs,
     {kAppleTvSizes, "640 x 480"}, {kAppleVideoRates, "1500 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     "Stereo", "Original",
     {2500, 1500, 1200, 800, 512}, {256, 128, 64, 48, 32}},
    {"iPod (*.mp4)", "MP4", pbPortablePlayer,
     kMpeg4OrH264VideoCodecs, kAacAudioCodecs,
     {kIpodSizes, "320 x 240"}, {kAppleVideoRates, "512 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "64 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     kUnchanged, kUnchanged,
     {1200, 800, 512, 256, 128}, {320, 192, 128, 96, 64}},
    // Same lists as the iPhone, and the same builder.
    {"iPod Touch (*.mp4)", "MP4", pbGeneral,
     kMpeg4VideoCodecs, kAacAudioCodecs,
     {kIphoneSizes, "480 x 320"}, {kAppleVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "80 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     kUnchanged, kUnchanged,
     {2500, 1500, 1200, 800, 512}, {256, 192, 128, 80, 64}},
    {"iPhone (*.mp4)", "MP4", pbGeneral,
     kMpeg4VideoCodecs, kAacAudioCodecs,
     {kIphoneSizes, "480 x 320"}, {kAppleVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "80 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     "Stereo", "Original",
     {2500, 1500, 1200, 800, 512}, {256, 192, 128, 80, 64}},

    {"PSP Video (*.mp4)", "MP4", pbGeneral,
     kPspVideoCodecs, kAacAudioCodecs,
     {kPspSizes, "368 x 208"}, {kPspVideoRates, "768 Kbps"},
     {kPspFrameRates, "29.97 fps"}, {kPspAudioRates, "64 Kbps"},
     {kPspSamplingRates, "24000 Hz"},
     "Stereo", "Original",
     {768, 512, 384, 216, 128}, {160, 128, 96, 64, 48}},
    {"PS3 Video (*.mp4)", "MP4", pbGeneral,
     kH264VideoCodecs, kAacAudioCodecs,
     {kPs3Sizes, "720 x 480"}, {kPs3VideoRates, "1200 Kbps"},
     {kNtscFrameRates, "29.97 fps"}, {kGeneralAudioRates, "96 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     "Stereo", "Original",
     {3000, 2500, 2000, 1500, 1200}, {256, 192, 128, 80, 64}},
    {"Xbox360 AVI Video (*.avi)", "AVI", pbGeneral,
     kMpeg4OrH264VideoCodecs, kAviAudioCodecs,
     {kGeneralSizes, "Original Video Size"}, {kAviVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     "Stereo", "Original",
     {2500, 1500, 1200, 512, 256}, {320, 192, 128, 64, 48}},
    {"Xbox360 MPEG2 Video (*.mpg)", "MPG", pbGeneral,
     kMpeg2VideoCodecs, kMpeg2AudioCodecs,
     {kGeneralSizes, "320 x 240 (VGA)"}, {kMovieVideoRates, "2000 Kbps"},
     {kGeneralFrameRates, "25.0 fps"}, {kGeneralAudioRates, "192 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     "Stereo", "Original",
     {2000, 1600, 1200, 1000, 768}, {224, 192, 128, 80, 64}},
    {"Xbox360 MPEG4 Video (*.mp4)", "MP4", pbGeneral,
     kMp4VideoCodecs, kAacAudioCodecs,
     {kGeneralSizes, "Original Video Size"}, {kMovieVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     "Stereo", "Original",
     {2500, 1500, 1200, 768, 512}, {256, 192, 128, 80, 64}},
    {"Xbox360 WMV Video (*.wmv)", "WMV", pbGeneral,
     kWmvVideoCodecs, kWmaAudioCodecs,
     {kGeneralSizes, "320 x 240 (VGA)"}, {kMovieVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     "Stereo", "Original",
     {2500, 2000, 1500, 1200, 768}, {256, 192, 128, 80, 48}},
    {"Zune Mpeg4 Video (*.mp4)", "MP4", pbGeneral,
     kMpeg4OrH264VideoCodecs, kAacAudioCodecs,
     {kZuneSizes, "320 x 240"}, {kZuneVideoRates, "1500 Kbps"},
     {kNtscFrameRates, "29.97 fps"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     "Stereo", "Original",
     {2000, 1500, 768, 512, 256}, {256, 192, 128, 80, 64}},
    {"Zune WMV Windows Media Video (*.wmv)", "WMV", pbGeneral,
     kWmvVideoCodecs, kWmaAudioCodecs,
     {kZuneSizes, "320 x 240"}, {kZuneVideoRates, "1200 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     "Stereo", "Original",
     {2000, 1500, 1200, 768, 256}, {256, 192, 128, 80, 48}},

    {"Archos AV500/GMini402 (*.avi)", "AVI", pbGeneral,
     kMpeg4VideoCodecs, kPlayerAudioCodecs,
     {kPlayerSizes, "480 x 272"}, {kPlayerVideoRates, "1500 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     kUnchanged, kUnchanged,
     {2500, 2000, 1500, 1200, 800}, {320, 192, 128, 64, 32}},
    {"Archos AV700 (*.avi)", "AVI", pbGeneral,
     kMpeg4VideoCodecs, kPlayerAudioCodecs,
     {kPlayerSizes, "720 x 480"}, {kPlayerVideoRates, "2000 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     kUnchanged, kUnchanged,
     {2500, 2000, 1500, 1200, 800}, {320, 192, 128, 64, 32}},
    {"BlackBerry MPEG-4 Video (*.mp4)", "MP4", pbGeneral,
     kMpeg4VideoCodecs, kAacAudioCodecs,
     {kBlackBerrySizes, "320 x 240"}, {kBlackBerryMp4VideoRates, "300 Kbps"},
     {kBlackBerryFrameRates, "24 fps"}, {kBlackBerryMp4AudioRates, "80 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     kUnchanged, kUnchanged,
     {512, 300, 256, 128, 80}, {112, 96, 80, 64, 40}},
    {"BlackBerry AVI Video (*.avi)", "AVI", pbGeneral,
     kBlackBerryAviVideoCodecs, kBlackBerryAviAudioCodecs,
     {kBlackBerryAviSizes, "176 x 144"}, {kBlackBerryAviVideoRates, "300 Kbps"},
     {kBlackBerryFrameRates, "24 fps"}, {kGeneralAudioRates, "64 Kbps"},
     {kGeneralSamplingRates, "44100 Hz"},
     kUnchanged, kUnchanged,
     {512, 300, 200, 120, 80}, {256, 192, 80, 64, 48}},
    {"BlackBerry 3GP Video (*.3gp)", "3GP", pbGeneral,
     kBlackBerry3gpVideoCodecs, kMobileAudioCodecs,
     {kBlackBerrySizes, "176 x 144"}, {kBlackBerry3gpVideoRates, "128 Kbps"},
     {kBlackBerry3gpFrameRates, "15 fps"}, {kAmrAudioRates, "4750 bps"},
     {kMobileSamplingRates, "8000 Hz"},
     kUnchanged, kUnchanged,
     {512, 256, 120, 80, 40}, {12200, 7950, 7400, 6700, 4750}},
    {"Creative Zen Vision (*.avi)", "AVI", pbGeneral,
     kMpeg4VideoCodecs, kPlayerAudioCodecs,
     {kPlayerSizes, "640 x 480"}, {kPlayerVideoRates, "1500 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     kUnchanged, kUnchanged,
     {2500, 2000, 1500, 1200, 800}, {320, 192, 128, 64, 32}},
    {"iRiver PMP100 (*.avi)", "AVI", pbGeneral,
     kMpeg4VideoCodecs, kPlayerAudioCodecs,
     {kPlayerSizes, "640 x 480"}, {kPlayerVideoRates, "1500 Kbps"},
     {kGeneralFrameRates, "Auto"}, {kGeneralAudioRates, "128 Kbps"},
     {kGeneralSamplingRates, "48000 Hz"},
     kUnchanged, kUnchanged,
     {2500, 2000, 1500, 1200, 800}, {320, 192, 128, 64, 32}},
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
// leave that list without a selection.
constexpr bool defaultsAreListed()
{
    for (const TFormatProfile& p : kFormatProfiles) {
        for (const TListDefault& list :
             {p.videoSize, p.videoBitrate, p.frameRate, p.audioBitrate, p.samplingRate})
            if (!isListed(list.entries, list.selected))
                return false;
        if (p.videoCodecs.empty() || p.audioCodecs.empty())
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
