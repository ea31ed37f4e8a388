// Test media made by the tests themselves, with the bound codec libraries.
//
// Every generated video frame carries its own frame number as a pattern of
// black and white blocks in the luma plane (FramePatternValue reads it back
// from a decoded picture), so tests can tell exactly which source picture
// ended up where. Audio is a steady sine tone.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace clipmora::testing {

// Every field enters the identity by which CachedMedia keeps clips
// (test_environment.cpp); a new field must join it there.
struct MediaSpec {
    std::string container;   // output format short name: "mp4", "avi", "vob", "matroska", "asf", ...
    std::string videoCodec;  // encoder name ("libx264", "mpeg4", ...); empty: no video stream
    std::string audioCodec;  // encoder name ("aac", "libmp3lame", ...); empty: no audio stream
    int width = 160;
    int height = 120;
    int frameRateNum = 25;
    int frameRateDen = 1;
    double seconds = 2.0;
    int sampleRate = 44100;
    int channels = 2;
    bool audioFirst = false;    // the audio stream gets index 0, the video stream index 1
    // Timestamp of the first frame and the first sample as given to the
    // encoders. Audio encoder priming puts the first audio packet a little
    // earlier, and some muxers move the whole file: asf and matroska shift it
    // so that no timestamp is negative, the MPEG program stream starts after
    // its 0.5 s preload. mpegts keeps a start beyond the priming as it is.
    int64_t startTimeUs = 0;
    int64_t audioDelayUs = 0;     // the sound starts this much after the picture
    double toneAmplitude = 0.25;  // of the sine tone, 1 = full scale
    // When not empty, the tone sounds only within these spans [from, to), in
    // seconds from the sound's first sample, and the sound is silent elsewhere.
    std::vector<std::pair<double, double>> toneSpans;
    int bFrames = 0;                // pictures predicted from both sides between references
    int keyFrameInterval = 12;      // pictures from one key frame to the next
    bool variableFrameRate = false; // pictures alternately a half and one and a half frame
                                    // intervals apart (the same number of pictures)
    int dropEvery = 0;  // above 1: pictures dropEvery-1, 2*dropEvery-1, ... are left out and
                        // the others keep their times (an AVI's index holds an empty entry
                        // for each left out; other containers have a gap)
    int64_t videoBitRate = 400000;
    int64_t audioBitRate = 96000;
    // The encoder's picture format (libavutil's name); an encoder that cannot
    // take the usual "yuv420p" gets its own first format, any other is refused.
    std::string pixelFormat = "yuv420p";
    // libx264 and libx265: the preset (empty: "ultrafast"), and open groups of
    // pictures, whose key frames are no decoding restart: the pictures after
    // one in decoding order may show before it and reach back into the group
    // before. mpeg2video's groups are open whenever it uses B-frames.
    std::string encoderPreset;
    bool openGop = false;
};

// The files the suites use, named for what they exercise.
MediaSpec Mp4H264Aac();         // mp4: libx264 + aac
MediaSpec AviMpeg4Mp3();        // avi: mpeg4 + libmp3lame
MediaSpec MpegProgramStream();  // vob (MPEG-PS): mpeg2video + mp2
MediaSpec MatroskaClip();       // matroska: libx264 + libvorbis
MediaSpec AsfWmv();             // asf: wmv2 + wmav2
MediaSpec AudioOnly();          // mp4 (m4a): aac only
MediaSpec VideoOnly();          // mp4: libx264 only
MediaSpec AudioFirst();         // mp4: aac stream before the libx264 stream
MediaSpec StartOffset();        // mpegts: mpeg2video + mp2 starting at 10 s

// Writes `path` as `spec` describes. Needs bound codec libraries. Throws
// std::runtime_error naming the failing step; no library object is leaked
// on any path.
void GenerateMedia(const std::string& path, const MediaSpec& spec);

// The frame number encoded into a decoded 8-bit luma plane (the Y plane of
// any planar YUV picture, or a gray picture) by GenerateMedia; -1 when the
// plane shows no readable pattern.
int FramePatternValue(const uint8_t* luma, int linesize, int width, int height);

// The tone's value (full scale = 1) at sample `sampleIndex` of `channel`, as
// GenerateMedia makes it before encoding.
double ToneValue(int channel, int64_t sampleIndex, int sampleRate, double amplitude);

// Draws the pattern for `value` (0..65535) into the top quarter of an 8-bit
// luma plane, as GenerateMedia does for every picture. Throws
// std::invalid_argument for a null plane, a picture smaller than 24x16 or a
// value out of range.
void DrawFramePattern(uint8_t* luma, int linesize, int width, int height, int value);

// What a file decodes to: frame and sample counts, sizes, and the patterns of
// the first and last decoded pictures.
struct DecodedSummary {
    int videoFrames = 0;
    int width = 0;
    int height = 0;
    int firstFramePattern = -1;
    int lastFramePattern = -1;
    int64_t firstVideoPtsUs = -1;
    int64_t audioSamples = 0;   // per channel
    int sampleRate = 0;
    int channels = 0;
    int64_t firstAudioPtsUs = -1;

    std::vector<int> framePatterns;  // of every decoded picture, in order
    std::vector<int64_t> framePtsUs; // of every decoded picture, in order
    // Of every decoded picture, in order: its format and size ("yuv420p 160x120").
    std::vector<std::string> pictureFormats;
    // With DecodeOptions::keepLuma, every decoded picture's luma as 8-bit
    // rows of `width` bytes, in order.
    std::vector<std::vector<uint8_t>> lumas;
    int64_t lastVideoPtsUs = -1;
    // The first decoded picture as planar YUV 4:2:0 (Y width x height, U and V
    // half that in both directions).
    std::vector<uint8_t> firstY, firstU, firstV;
    // Every decoded sample as 16-bit interleaved.
    std::vector<int16_t> samples;
    // With DecodeOptions::keepFloatSound, every decoded sample as float
    // interleaved (full scale = 1).
    std::vector<float> floatSamples;

    // Luma and chroma of the first picture at (x, y) of the full-size picture.
    int Y(int x, int y) const { return firstY.at(static_cast<size_t>(y) * width + x); }
    int U(int x, int y) const { return firstU.at(chromaIndex(x, y)); }
    int V(int x, int y) const { return firstV.at(chromaIndex(x, y)); }
    size_t chromaIndex(int x, int y) const
    {
        return static_cast<size_t>(y / 2) * ((width + 1) / 2) + x / 2;
    }
};

struct DecodeOptions {
    // Where decoding starts, in seconds from the file's start: the demuxer
    // goes to a key frame at or before it, found by showing times in its
    // index, or in a transport stream by a search on decoding times.
    // Negative: at the start.
    double seekSeconds = -1.0;
    int maxPictures = 0;    // above 0: stop after this many pictures
    bool keepLuma = false;  // fill DecodedSummary::lumas
    bool keepFloatSound = false;  // fill DecodedSummary::floatSamples
};

// Decodes every video and audio packet of the first stream of each kind.
// Throws std::runtime_error when the file cannot be opened or decoded.
DecodedSummary DecodeMedia(const std::string& path, const DecodeOptions& options = {});

// The luma of two pictures of the same size (8-bit, width x height each) as
// a peak signal-to-noise ratio in dB; infinity when they are equal.
double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// The first video stream's packets as stored, in decoding order.
struct VideoPacket {
    int64_t pts = 0;  // in the stream's time base; kNoTime when missing
    int64_t dts = 0;
    int64_t duration = 0;
    int64_t ptsUs = 0;  // from the file's start (its start time subtracted); kNoTime: no pts
    int64_t dtsUs = 0;  // likewise
    bool key = false;
    std::string data;
};
struct VideoStreamPackets {
    static constexpr int64_t kNoTime = INT64_MIN;
    int timeBaseNum = 0, timeBaseDen = 1;
    int averageRateNum = 0, averageRateDen = 1;  // as the demuxer reports it
    std::string codec;                           // the codec's short name
    std::string container;                       // the demuxer's name
    std::vector<VideoPacket> packets;
};
// Throws std::runtime_error when the file cannot be opened or holds no video.
VideoStreamPackets ReadVideoPackets(const std::string& path);

// Collects every message the codec libraries log at warning level or worse
// while it exists, whatever the libraries' log level (that only filters
// their default output). The log callback is one for the whole process:
// one collector at a time, seeing messages from every thread; the default
// callback is back when it goes.
class LibraryWarnings {
public:
    LibraryWarnings();
    ~LibraryWarnings();
    LibraryWarnings(const LibraryWarnings&) = delete;
    LibraryWarnings& operator=(const LibraryWarnings&) = delete;
    // What was logged so far, one message a line.
    std::string Text() const;
};

}  // namespace clipmora::testing
