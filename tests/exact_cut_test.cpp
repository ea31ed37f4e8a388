// The exact cut: the output holds exactly the source's pictures between the
// marks; the pictures it copies are the source's packets byte for byte, the
// few next to the marks are re-encoded close to the source's quality; the
// rate and the sound are the source's; and both FFmpeg and GStreamer decode
// it without a complaint, from its start and from a seek to its first copied
// key frame.
#include "engine/stream_cut.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <ostream>

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::CachedMedia;
using testing::DecodedSummary;
using testing::DecodeMedia;
using testing::MediaSpec;
using testing::TempFolder;
using testing::VideoPacket;
using testing::VideoStreamPackets;

constexpr int64_t kSlackUs = 1000;  // marks and reported times hold to the millisecond

// A stream's video packets in showing order, so that the n-th of a generated
// source carries the frame number n.
std::vector<VideoPacket> picturesOf(const VideoStreamPackets& stream)
{
    std::vector<VideoPacket> pictures = stream.packets;
    std::stable_sort(pictures.begin(), pictures.end(),
                     [](const VideoPacket& a, const VideoPacket& b) { return a.ptsUs < b.ptsUs; });
    return pictures;
}

// A packet's data without the parameter sets a cut may put in front of a
// copied key frame (H.264 and HEVC with 4-byte lengths before each unit;
// MPEG-4 Part 2's configuration before its first group or picture header);
// other data as it is.
std::string withoutParameterSets(const std::string& data, const std::string& codec)
{
    if (codec == "mpeg4") {
        for (std::size_t at = data.find(std::string("\0\0\1", 3)); at + 3 < data.size();
             at = data.find(std::string("\0\0\1", 3), at + 1))
            if (static_cast<unsigned char>(data[at + 3]) == 0xB3 ||
                static_cast<unsigned char>(data[at + 3]) == 0xB6)
                return data.substr(at);
        return data;
    }
    const bool h264 = codec == "h264";
    if (!h264 && codec != "hevc")
        return data;
    std::string kept;
    std::size_t at = 0;
    while (at + 4 <= data.size()) {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
        const std::size_t size = (std::size_t(byte(at)) << 24) | (byte(at + 1) << 16) |
                                 (byte(at + 2) << 8) | byte(at + 3);
        if (size == 0 || at + 4 + size > data.size())
            return data;  // not length-prefixed
        const int type = h264 ? (byte(at + 4) & 0x1F) : ((byte(at + 4) >> 1) & 0x3F);
        const bool parameterSet = h264 ? (type == 7 || type == 8) : (type >= 32 && type <= 34);
        if (!parameterSet)
            kept.append(data, at, 4 + size);
        at += 4 + size;
    }
    return at == data.size() ? kept : data;
}

// Whether decoding starts anew at key frame `picture`: an H.264 key frame
// must be an IDR picture (a recovery point of an open group numbers its
// pictures on from the ones before it).
bool startsAnew(const VideoPacket& picture, const std::string& codec)
{
    if (codec != "h264")
        return true;
    const std::string& data = picture.data;
    for (std::size_t at = 0; at + 4 < data.size();) {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
        const std::size_t size = (std::size_t(byte(at)) << 24) | (byte(at + 1) << 16) |
                                 (byte(at + 2) << 8) | byte(at + 3);
        if ((byte(at + 4) & 0x1F) == 5)
            return true;
        at += 4 + size;
    }
    return false;
}

// What GStreamer says while it decodes every stream of `path` to its end:
// empty when it finished without an error or a warning, its decoders' own
// included (those it only logs).
std::string gstreamerComplaints(const std::string& path)
{
    const std::string command =
        "GST_DEBUG=libav:2,videodecoder:2,audiodecoder:2 GST_DEBUG_NO_COLOR=1 "
        "gst-launch-1.0 -q playbin uri=\"file://" + path +
        "\" video-sink=fakesink audio-sink=fakesink 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "cannot run gst-launch-1.0";
    std::string said;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        said += buffer;
    const int status = pclose(pipe);
    if (status != 0)
        return "gst-launch-1.0 ended with status " + std::to_string(status) + ": " + said;
    for (const char* word : {"WARN", "ERROR", "CRITICAL"})
        if (said.find(word) != std::string::npos)
            return said;
    return {};
}

// The source's pictures the marks hold, as indexes into them in showing
// order: from the one shown at `start` (the first when the mark is before
// it) to `end`, the first at or after the end mark (all when it is 0), with
// their times; a picture lasts `frameUs` at the source's end.
struct Marked {
    int first = 0, end = 0;
    int64_t firstUs = 0, endUs = 0;
};

Marked markedPictures(const std::vector<VideoPacket>& pictures, double start, double end,
                      int64_t frameUs)
{
    const int count = static_cast<int>(pictures.size());
    Marked marked{0, count, 0, 0};
    for (int i = 0; i < count; ++i) {
        if (pictures[i].ptsUs <= std::llround(start * 1e6) + kSlackUs)
            marked.first = i;
        if (end > 0 && marked.end == count &&
            pictures[i].ptsUs >= std::llround(end * 1e6) - kSlackUs)
            marked.end = i;
    }
    marked.firstUs = pictures.at(marked.first).ptsUs;
    marked.endUs =
        marked.end < count ? pictures[marked.end].ptsUs : pictures.back().ptsUs + frameUs;
    return marked;
}

struct ExactCase {
    const char* name;  // also the name of the cached source
    MediaSpec spec;
    double start, end;         // the marks; end 0: to the source's end
    double audioFrameSeconds;  // the longest frame of the source's sound (every source has one)
};

void PrintTo(const ExactCase& c, std::ostream* out) { *out << c.name; }

// 6 s at 25 pictures a second, a key frame every second, `bFrames`
// B-frames, and what `change` makes of it.
MediaSpec source(MediaSpec spec, int bFrames, void (*change)(MediaSpec&) = nullptr)
{
    spec.seconds = 6.0;
    spec.keyFrameInterval = 25;
    spec.bFrames = bFrames;
    if (change)
        change(spec);
    return spec;
}

// H.264 High (the preset has CABAC and 8x8 transforms) with a B-pyramid.
MediaSpec h264Pyramid()
{
    return source(testing::Mp4H264Aac(), 3, [](MediaSpec& s) { s.encoderPreset = "veryfast"; });
}

using ExactCutCases = ::testing::TestWithParam<ExactCase>;

// The output is the source's pictures from the one shown at the start mark
// to the last before the end mark, whichever way the source is coded.
// The span [fromUs, toUs) of the output, from its first picture, that the
// cut copied, checked against the least that had to be re-encoded: at the
// start only up to the first key frame at or after the start mark, at the
// end only the pictures before the end mark decoded after one beyond it.
std::pair<int64_t, int64_t> copiedSpan(const VideoStreamPackets& sourceStream,
                                       const std::vector<VideoPacket>& sourcePictures,
                                       const Marked& marked, const StreamCutResult& result)
{
    int64_t restartUs = marked.endUs;
    for (int i = marked.first; i < marked.end && restartUs == marked.endUs; ++i)
        if (sourcePictures[i].key && startsAnew(sourcePictures[i], sourceStream.codec))
            restartUs = sourcePictures[i].ptsUs;
    const std::vector<VideoPacket>& decodingOrder = sourceStream.packets;
    int64_t leaningUs = marked.endUs;
    for (auto p = std::find_if(decodingOrder.begin(), decodingOrder.end(),
                               [&](const VideoPacket& packet) { return packet.ptsUs >= marked.endUs; });
         p != decodingOrder.end(); ++p)
        if (p->ptsUs >= marked.firstUs && p->ptsUs < marked.endUs)
            leaningUs = std::min(leaningUs, p->ptsUs);
    const int64_t reencodedStartUs = std::llround(result.reencodedStartSeconds * 1e6);
    const int64_t reencodedEndUs = std::llround(result.reencodedEndSeconds * 1e6);
    EXPECT_LE(reencodedStartUs, restartUs - marked.firstUs + kSlackUs);
    EXPECT_LE(reencodedEndUs, marked.endUs - leaningUs + kSlackUs);
    return {reencodedStartUs - kSlackUs, marked.endUs - marked.firstUs - reencodedEndUs - kSlackUs};
}

// Every picture decodes to the source's own: of its format and size, the
// copied ones exactly, the re-encoded ones close to it.
void expectSourcePictures(const DecodedSummary& decoded, const DecodedSummary& original)
{
    EXPECT_EQ(decoded.pictureFormats, std::vector<std::string>(decoded.pictureFormats.size(),
                                                               original.pictureFormats.at(0)));
    for (std::size_t i = 0; i < decoded.lumas.size(); ++i) {
        const auto frame = static_cast<std::size_t>(decoded.framePatterns[i]);
        ASSERT_EQ(original.framePatterns.at(frame), decoded.framePatterns[i]);
        EXPECT_GE(testing::LumaPsnr(decoded.lumas[i], original.lumas[frame]), 40.0)
            << "picture " << frame;
    }
}

// The output's pictures come at the source's times, and those in the copied
// span are the source's packets. Returns the first copied key frame after
// the output's first picture (-1 for none).
int expectCopiedPackets(const VideoStreamPackets& outputStream,
                        const VideoStreamPackets& sourceStream,
                        const std::vector<VideoPacket>& sourcePictures, const Marked& marked,
                        std::pair<int64_t, int64_t> copied)
{
    const std::vector<VideoPacket> outputPictures = picturesOf(outputStream);
    const int count = marked.end - marked.first;
    EXPECT_EQ(static_cast<int>(outputPictures.size()), count);
    if (static_cast<int>(outputPictures.size()) != count)
        return -1;
    const int64_t originUs = outputPictures.front().ptsUs;
    int copiedKey = -1;
    for (int i = 0; i < count; ++i) {
        const int64_t atUs = outputPictures[i].ptsUs - originUs;
        const VideoPacket& original = sourcePictures[marked.first + i];
        EXPECT_NEAR(static_cast<double>(atUs), static_cast<double>(original.ptsUs - marked.firstUs),
                    kSlackUs)
            << "time of picture " << marked.first + i;
        if (atUs < copied.first || atUs >= copied.second)
            continue;
        if (copiedKey < 0 && i > 0 && outputPictures[i].key)
            copiedKey = i;
        EXPECT_EQ(withoutParameterSets(outputPictures[i].data, outputStream.codec),
                  withoutParameterSets(original.data, sourceStream.codec))
            << "picture " << marked.first + i;
    }
    return copiedKey;
}

// A constant rate stays one picture duration all through: decoding times
// where the container stores them (Matroska does not; an MP4 demuxer reports
// none for some samples), elsewhere the packets' own durations.
void expectEvenTiming(const VideoStreamPackets& outputStream, const VideoStreamPackets& sourceStream)
{
    EXPECT_EQ(int64_t(outputStream.averageRateNum) * sourceStream.averageRateDen,
              int64_t(sourceStream.averageRateNum) * outputStream.averageRateDen);
    std::vector<int64_t> steps, durations;
    const std::vector<VideoPacket>& packets = outputStream.packets;
    for (std::size_t d = 0; d < packets.size(); ++d) {
        durations.push_back(packets[d].duration);
        if (d > 0 && packets[d].dts != VideoStreamPackets::kNoTime &&
            packets[d - 1].dts != VideoStreamPackets::kNoTime)
            steps.push_back(packets[d].dts - packets[d - 1].dts);
    }
    if (!steps.empty())
        EXPECT_EQ(steps, std::vector<int64_t>(steps.size(), steps.front())) << "decoding times";
    else
        EXPECT_EQ(durations, std::vector<int64_t>(durations.size(), durations.front()));
}

// From the seam on the output decodes as from its start. A transport stream
// has no index: a seek lands near a key frame, not on it, and an H.264
// decoder then complains about the source as much as the output.
void expectSeamDecodesAsStart(const std::string& output, const VideoStreamPackets& outputStream,
                              int copiedKey, const std::vector<int>& expected)
{
    if (copiedKey <= 0 || (outputStream.container == "mpegts" && outputStream.codec == "h264"))
        return;
    const VideoPacket key = picturesOf(outputStream)[copiedKey];
    testing::LibraryWarnings warnings;
    const int64_t seekUs = outputStream.container == "mpegts" ? key.dtsUs : key.ptsUs;
    const DecodedSummary seeked = DecodeMedia(output, {.seekSeconds = seekUs / 1e6, .maxPictures = 5});
    EXPECT_EQ(warnings.Text(), "") << "decoding after a seek";
    const std::vector<int> next(expected.begin() + copiedKey,
                                expected.begin() + std::min<std::size_t>(copiedKey + 5, expected.size()));
    EXPECT_EQ(seeked.framePatterns, next);
}

TEST_P(ExactCutCases, HoldsExactlyTheMarkedPictures)
{
    testing::BindLibrariesForTests();
    const ExactCase& c = GetParam();
    const std::string path = CachedMedia(c.name, c.spec);
    const std::size_t before = testing::FileChecksum(path);
    const VideoStreamPackets sourceStream = testing::ReadVideoPackets(path);
    const std::vector<VideoPacket> sourcePictures = picturesOf(sourceStream);
    const int64_t frameUs = std::llround(1e6 * c.spec.frameRateDen / c.spec.frameRateNum);
    const Marked marked = markedPictures(sourcePictures, c.start, c.end, frameUs);

    TempFolder folder;
    const std::string output = folder.file("exact" + fs::path(path).extension().string());
    TStreamCut cut;
    ASSERT_TRUE(cut.Open(path)) << cut.Error();
    const StreamCutResult result = cut.Write(output, c.start, c.end, {});
    ASSERT_EQ(result.end, StreamCutResult::End::Finished) << result.Error;
    EXPECT_TRUE(result.exact);
    EXPECT_EQ(result.exactFallback, "");

    DecodedSummary decoded;
    {
        testing::LibraryWarnings warnings;
        decoded = DecodeMedia(output, {.keepLuma = true});
        EXPECT_EQ(warnings.Text(), "") << "decoding from the start";
    }
    std::vector<int> expected(static_cast<std::size_t>(marked.end - marked.first));
    std::iota(expected.begin(), expected.end(), marked.first);
    ASSERT_EQ(decoded.framePatterns, expected);

    const auto copied = copiedSpan(sourceStream, sourcePictures, marked, result);
    expectSourcePictures(decoded, DecodeMedia(path, {.keepLuma = true}));
    const VideoStreamPackets outputStream = testing::ReadVideoPackets(output);
    const int copiedKey =
        expectCopiedPackets(outputStream, sourceStream, sourcePictures, marked, copied);
    if (!c.spec.variableFrameRate)
        expectEvenTiming(outputStream, sourceStream);

    // The sound spans the pictures and starts with them, at 0 (a transport
    // stream keeps its muxing delay).
    const int64_t audioFrameUs = std::llround(c.audioFrameSeconds * 1e6);
    EXPECT_NEAR(static_cast<double>(decoded.audioSamples) / decoded.sampleRate,
                (marked.endUs - marked.firstUs) / 1e6, c.audioFrameSeconds);
    EXPECT_LE(std::abs(decoded.firstAudioPtsUs - decoded.firstVideoPtsUs), audioFrameUs);
    if (outputStream.container != "mpegts") {
        EXPECT_LE(std::abs(decoded.firstVideoPtsUs), audioFrameUs);
    }

    expectSeamDecodesAsStart(output, outputStream, copiedKey, expected);
    EXPECT_EQ(gstreamerComplaints(output), "");
    EXPECT_EQ(testing::FileChecksum(path), before);
}

constexpr double kAac = 1024.0 / 44100, kVorbis = 2048.0 / 44100, kMp2 = 1152.0 / 48000,
                 kMp3 = 1152.0 / 44100;

INSTANTIATE_TEST_SUITE_P(
    Sources, ExactCutCases,
    ::testing::Values(
        ExactCase{"exact_h264_pyramid.mp4", h264Pyramid(), 1.3, 3.5, kAac},
        ExactCase{"exact_h264_open_gop.mkv",
                  source(testing::MatroskaClip(), 2, [](MediaSpec& s) { s.openGop = true; }), 1.3,
                  3.5, kVorbis},
        ExactCase{"exact_h264_422.mp4",
                  source(testing::Mp4H264Aac(), 2, [](MediaSpec& s) { s.pixelFormat = "yuv422p"; }),
                  1.3, 3.5, kAac},
        ExactCase{"exact_h264_10bit.ts", source(testing::Mp4H264Aac(), 2,
                                                [](MediaSpec& s) {
                                                    s.container = "mpegts";
                                                    s.pixelFormat = "yuv420p10le";
                                                }),
                  1.3, 3.5, kAac},
        ExactCase{"exact_hevc.mp4",
                  source(testing::Mp4H264Aac(), 2, [](MediaSpec& s) { s.videoCodec = "libx265"; }),
                  1.3, 3.5, kAac},
        ExactCase{"exact_hevc_10bit.mp4", source(testing::Mp4H264Aac(), 2,
                                                 [](MediaSpec& s) {
                                                     s.videoCodec = "libx265";
                                                     s.pixelFormat = "yuv420p10le";
                                                 }),
                  1.3, 3.5, kAac},
        ExactCase{"exact_mpeg2_offset.ts", source(testing::StartOffset(), 2), 1.3, 3.5, kMp2},
        ExactCase{"exact_mpeg4.avi", source(testing::AviMpeg4Mp3(), 0), 1.3, 3.5, kMp3},
        ExactCase{"exact_variable_rate.mp4",
                  source(testing::Mp4H264Aac(), 0,
                         [](MediaSpec& s) { s.variableFrameRate = true; }),
                  1.3, 3.5, kAac},
        // MPEG-4 Part 2 at a variable rate: the re-encoded pictures' times
        // must rise although the encoder counts in whole frames (from the
        // picture at 1.30 s on, the next two fall on one frame), and its key
        // frames copied after re-encoded ones need the stream's own
        // configuration again.
        ExactCase{"exact_mpeg4_variable_rate.mkv",
                  source(testing::MatroskaClip(), 0,
                         [](MediaSpec& s) {
                             s.videoCodec = "mpeg4";
                             s.variableFrameRate = true;
                         }),
                  1.31, 3.5, kVorbis},
        // Marks on key frames: nothing to re-encode at the start.
        ExactCase{"exact_h264_pyramid.mp4", h264Pyramid(), 1.0, 3.0, kAac},
        // The whole file: nothing to re-encode.
        ExactCase{"exact_h264_pyramid.mp4", h264Pyramid(), 0.0, 0.0, kAac},
        // Within one group: everything re-encoded.
        ExactCase{"exact_h264_pyramid.mp4", h264Pyramid(), 1.3, 1.7, kAac}),
    [](const ::testing::TestParamInfo<ExactCase>& info) {
        char marks[64];
        std::snprintf(marks, sizeof marks, "_%.1f_%.1f", info.param.start, info.param.end);
        std::string name = std::string(info.param.name) + marks;
        std::replace_if(name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
        return name;
    });

// Where there are no pictures to re-encode the sound is cut at the marks;
// a codec the cut cannot re-encode falls back to the key frame and says why.
TEST(ExactCutTest, SoundAloneAndOtherCodecs)
{
    testing::BindLibrariesForTests();
    TempFolder folder;
    MediaSpec sound = testing::AudioOnly();
    sound.seconds = 4.0;
    const std::string soundOut = folder.file("sound.m4a");
    TStreamCut soundCut;
    ASSERT_TRUE(soundCut.Open(CachedMedia("exact_sound.m4a", sound))) << soundCut.Error();
    ASSERT_EQ(soundCut.Write(soundOut, 1.0, 2.5, {}).end, StreamCutResult::End::Finished);
    const DecodedSummary soundDecoded = DecodeMedia(soundOut);
    EXPECT_NEAR(static_cast<double>(soundDecoded.audioSamples) / soundDecoded.sampleRate, 1.5,
                kAac);

    const std::string asf = CachedMedia("exact_wmv.asf", source(testing::AsfWmv(), 0));
    const std::string asfOut = folder.file("wmv.asf");
    TStreamCut asfCut;
    ASSERT_TRUE(asfCut.Open(asf)) << asfCut.Error();
    const StreamCutResult result = asfCut.Write(asfOut, 1.3, 3.5, {});
    ASSERT_EQ(result.end, StreamCutResult::End::Finished) << result.Error;
    EXPECT_FALSE(result.exact);
    EXPECT_NE(result.exactFallback, "");
    EXPECT_EQ(DecodeMedia(asfOut).firstFramePattern, 25);  // the key frame at 1 s
}

}  // namespace
}  // namespace clipmora
