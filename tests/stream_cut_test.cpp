// Cutting with the original streams kept: where the output starts and ends,
// the sound against the pictures, its timestamps and duration, the source
// left as it was, refused sources and stopping.
#include "job/split_job.h"
#include "engine/av_probe.h"
#include "engine/library_handles.h"
#include "engine/stream_cut.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::CachedMedia;
using testing::DecodedSummary;
using testing::DecodeMedia;
using testing::MediaSpec;
using testing::TempFolder;

struct SourcePicture {
    int64_t us;  // from the file's start
    bool key;
};

// The pictures of the first video stream in the order they are shown; the
// n-th carries the frame number n.
std::vector<SourcePicture> readPictures(const std::string& path)
{
    std::vector<SourcePicture> pictures;
    for (const testing::VideoPacket& packet : testing::ReadVideoPackets(path).packets)
        if (packet.ptsUs != testing::VideoStreamPackets::kNoTime)
            pictures.push_back({packet.ptsUs, packet.key});
    std::sort(pictures.begin(), pictures.end(),
              [](const SourcePicture& a, const SourcePicture& b) { return a.us < b.us; });
    return pictures;
}

// Copies `source` into `output` (of the type its name says) packet by packet;
// `edit` may change a packet's times (in its stream's time base) or return
// false to leave it out.
void remux(const std::string& source, const std::string& output,
           const std::function<bool(AVPacket&, const AVStream&)>& edit)
{
    AVFormatContext* raw = nullptr;
    if (lib.avformat_open_input(&raw, source.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + source);
    InputFormatPtr input(raw);
    lib.avformat_find_stream_info(input.get(), nullptr);
    AVFormatContext* made = nullptr;
    if (lib.avformat_alloc_output_context2(&made, nullptr, nullptr, output.c_str()) < 0)
        throw std::runtime_error("cannot make " + output);
    OutputFormatPtr out(made);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = lib.avformat_new_stream(out.get(), nullptr);
        lib.avcodec_parameters_copy(stream->codecpar, input->streams[i]->codecpar);
        stream->codecpar->codec_tag = 0;
        stream->time_base = input->streams[i]->time_base;
    }
    if (lib.avio_open(&out->pb, output.c_str(), AVIO_FLAG_WRITE) < 0 ||
        lib.avformat_write_header(out.get(), nullptr) < 0)
        throw std::runtime_error("cannot write " + output);
    PacketPtr packet(lib.av_packet_alloc());
    while (lib.av_read_frame(input.get(), packet.get()) >= 0) {
        const AVStream& in = *input->streams[packet->stream_index];
        const AVRational outBase = out->streams[packet->stream_index]->time_base;
        if (edit(*packet, in)) {
            lib.av_packet_rescale_ts(packet.get(), in.time_base, outBase);
            if (lib.av_interleaved_write_frame(out.get(), packet.get()) < 0)
                throw std::runtime_error("cannot write a packet of " + output);
        }
        lib.av_packet_unref(packet.get());
    }
    lib.av_write_trailer(out.get());
}

// Most cases here are about the cut from the key frame.
StreamCutResult cut(const std::string& source, const std::string& output, double start,
                    double end, const StreamCutControl& control = {}, bool exact = false)
{
    TStreamCut streamCut;
    EXPECT_TRUE(streamCut.Open(source)) << streamCut.Error();
    streamCut.SetExact(exact);
    return streamCut.Write(output, start, end, control);
}

struct CutCase {
    const char* name;
    MediaSpec spec;
    double audioFrameSeconds;  // the longest frame of the source's sound
    int reordered;             // pictures that may be decoded after a later one
};

// Names the case in test listings.
void PrintTo(const CutCase& cutCase, std::ostream* out) { *out << cutCase.name; }

MediaSpec withBFrames()
{
    MediaSpec spec = testing::Mp4H264Aac();
    spec.bFrames = 2;
    return spec;
}

MediaSpec withVariableRate()
{
    MediaSpec spec = testing::Mp4H264Aac();
    spec.variableFrameRate = true;
    return spec;
}

class StreamCutCases : public ::testing::TestWithParam<CutCase> {
protected:
    void SetUp() override { testing::BindLibrariesForTests(); }
};

// A segment whose marks fall between key frames: the output shows the key
// frame before the start first, the last picture before the end last (a few
// earlier when pictures are reordered), every picture between, and sound of
// the pictures' length that starts with them.
TEST_P(StreamCutCases, CutsFromTheKeyFrameBeforeTheStartToTheEnd)
{
    const CutCase& cutCase = GetParam();
    MediaSpec spec = cutCase.spec;
    spec.seconds = 6.0;
    const std::string source = CachedMedia(cutCase.name, spec);
    const std::vector<SourcePicture> pictures = readPictures(source);
    const double start = 2.3, end = 4.06;
    int key = -1, last = -1;
    for (int i = 0; i < static_cast<int>(pictures.size()); ++i) {
        if (pictures[i].key && pictures[i].us <= std::llround(start * 1e6))
            key = i;
        if (pictures[i].us < std::llround(end * 1e6))
            last = i;
    }
    ASSERT_GT(key, 0);
    ASSERT_NE(pictures[key].us, std::llround(start * 1e6)) << "the mark should fall between key frames";
    const std::size_t before = testing::FileChecksum(source);

    TempFolder folder;
    const std::string output = folder.file(std::string("cut") + fs::path(source).extension().string());
    const StreamCutResult result = cut(source, output, start, end);
    ASSERT_EQ(result.end, StreamCutResult::End::Finished) << result.Error;
    EXPECT_NEAR(result.startSeconds, pictures[key].us / 1e6, 1e-3);
    char expected[64];
    std::snprintf(expected, sizeof expected, "Started at the key frame at %.2f s",
                  pictures[key].us / 1e6);
    EXPECT_EQ(KeyFrameStartText(result), expected);

    const DecodedSummary decoded = DecodeMedia(output);
    ASSERT_FALSE(decoded.framePatterns.empty());
    EXPECT_EQ(decoded.firstFramePattern, key);
    EXPECT_LE(decoded.lastFramePattern, last);
    EXPECT_GE(decoded.lastFramePattern, last - cutCase.reordered);
    for (std::size_t i = 0; i < decoded.framePatterns.size(); ++i)
        ASSERT_EQ(decoded.framePatterns[i], key + static_cast<int>(i)) << "picture " << i;

    const int shownLast = decoded.lastFramePattern;
    const double pictureSeconds = (pictures[shownLast + 1].us - pictures[key].us) / 1e6;
    const double soundSeconds = static_cast<double>(decoded.audioSamples) / decoded.sampleRate;
    EXPECT_NEAR(soundSeconds, pictureSeconds, cutCase.audioFrameSeconds);

    TAVProbe probe;
    ASSERT_TRUE(probe.OpenMedia(output)) << probe.LastError();
    const FileInfo info = probe.ReadFileInfo();
    EXPECT_NEAR(info.Duration / 1e6, pictureSeconds, cutCase.audioFrameSeconds + 0.05);
    // Pictures and sound start together at the file's start.
    const int64_t audioFrameUs = std::llround(cutCase.audioFrameSeconds * 1e6);
    EXPECT_LE(std::abs(decoded.firstVideoPtsUs - info.StartTime), audioFrameUs);
    EXPECT_LE(std::abs(decoded.firstAudioPtsUs - decoded.firstVideoPtsUs), audioFrameUs);
    if (spec.container != "mpegts") {  // a transport stream keeps its muxing delay
        EXPECT_LE(std::abs(decoded.firstVideoPtsUs), audioFrameUs);
    }

    EXPECT_EQ(testing::FileChecksum(source), before);
}

// Without marks the whole file is copied, priming sound included.
TEST_P(StreamCutCases, CopiesTheWholeFileWithoutMarks)
{
    const CutCase& cutCase = GetParam();
    MediaSpec spec = cutCase.spec;
    spec.seconds = 6.0;
    const std::string source = CachedMedia(cutCase.name, spec);
    TempFolder folder;
    const std::string output = folder.file(std::string("all") + fs::path(source).extension().string());
    const StreamCutResult result = cut(source, output, 0.0, 0.0);
    ASSERT_EQ(result.end, StreamCutResult::End::Finished) << result.Error;
    EXPECT_EQ(KeyFrameStartText(result), "");
    const DecodedSummary original = DecodeMedia(source);
    const DecodedSummary copied = DecodeMedia(output);
    EXPECT_EQ(copied.framePatterns, original.framePatterns);
    EXPECT_NEAR(static_cast<double>(copied.audioSamples), static_cast<double>(original.audioSamples),
                cutCase.audioFrameSeconds * original.sampleRate);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, StreamCutCases,
    ::testing::Values(CutCase{"cut_bframes.mp4", withBFrames(), 1024.0 / 44100, 2},
                      CutCase{"cut_start_offset.ts", testing::StartOffset(), 1152.0 / 48000, 0},
                      CutCase{"cut_clip.mkv", testing::MatroskaClip(), 2048.0 / 44100, 0},
                      CutCase{"cut_variable_rate.mp4", withVariableRate(), 1024.0 / 44100, 0}),
    [](const ::testing::TestParamInfo<CutCase>& info) {
        std::string name = info.param.name;
        std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
        return name;
    });

class StreamCutTest : public ::testing::Test {
protected:
    void SetUp() override { testing::BindLibrariesForTests(); }
};

// Sources that are no container the muxer can write back: nothing is made.
TEST_F(StreamCutTest, RefusedSourcesSaySoAndWriteNothing)
{
    TempFolder folder;
    const std::string script = folder.file("segment.avs");
    std::ofstream(script) << "AviSource(\"clip.avi\")\r\nTRIM(10,20)\r\n";
    const std::string outputs = folder.file("out");
    fs::create_directory(outputs);

    {
        const std::string& source = script;
        SplitRequest request;
        request.SourceFile = source;
        request.OutputFolder = outputs;
        request.KeepOriginalStreams = true;
        const StreamCutJob job = PrepareStreamCutJob(request);
        EXPECT_EQ(job.Cut, nullptr) << source;
        EXPECT_NE(job.Error.find(fs::path(source).filename().string()), std::string::npos)
            << job.Error;
    }
    EXPECT_TRUE(fs::is_empty(outputs));
}

// Sound alone is cut at the marks themselves, to within a frame.
TEST_F(StreamCutTest, SoundAloneIsCutAtTheMarks)
{
    MediaSpec spec = testing::AudioOnly();
    spec.seconds = 4.0;
    const std::string source = CachedMedia("cut_sound.mp4", spec);
    TempFolder folder;
    const StreamCutResult result = cut(source, folder.file("sound.mp4"), 1.0, 2.5);
    ASSERT_EQ(result.end, StreamCutResult::End::Finished) << result.Error;
    EXPECT_EQ(KeyFrameStartText(result), "");
    const DecodedSummary decoded = DecodeMedia(folder.file("sound.mp4"));
    EXPECT_EQ(decoded.videoFrames, 0);
    EXPECT_NEAR(static_cast<double>(decoded.audioSamples) / decoded.sampleRate, 1.5,
                1024.0 / 44100);
}

// A segment that starts after the source's end fails and leaves no file.
TEST_F(StreamCutTest, ASegmentPastTheEndWritesNothing)
{
    const std::string source = CachedMedia("cut_plain.mp4", testing::Mp4H264Aac());
    TempFolder folder;
    const StreamCutResult result = cut(source, folder.file("late.mp4"), 20.0, 25.0);
    EXPECT_EQ(result.end, StreamCutResult::End::Failed);
    EXPECT_NE(result.Error.find("No picture and no sound was written"), std::string::npos)
        << result.Error;
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

// A clip as a copy started at 3.32 s writes it: the pictures from the key
// frame before (2.88 s) on, the sound from 3.32 s, all 3.32 s earlier. The
// pictures before 0 are kept for decoding and hidden by the file's edit list,
// so it shows picture 83 first.
std::string editedClip(const TempFolder& folder)
{
    MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 6.0;
    const std::string edited = folder.file("edited.mp4");
    remux(CachedMedia("cut_plain6.mp4", spec), edited, [](AVPacket& packet, const AVStream& in) {
        const auto ts = [&in](int64_t us) {
            return lib.av_rescale_q(us, AVRational{1, AV_TIME_BASE}, in.time_base);
        };
        const bool video = in.codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        if (packet.pts < ts(video ? 2'880'000 : 3'320'000))
            return false;
        packet.pts -= ts(3'320'000);
        packet.dts -= ts(3'320'000);
        return true;
    });
    return edited;
}

// Where the output starts: at a key frame the start mark falls on, and on a
// source that hides its first pictures, at what it shows, with its sound,
// and never before it.
TEST_F(StreamCutTest, StartsWhereTheSourceShowsItsPictures)
{
    TempFolder folder;
    MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 6.0;
    const std::string plain = CachedMedia("cut_plain6.mp4", spec);
    const std::string edited = editedClip(folder);
    const struct {
        const char* name;
        std::string source;
        double start, end;
        int first, last;       // pictures shown first and last; -1: any last
        double startSeconds;   // where the output starts on the source's timeline
    } cases[] = {
        {"on a key frame", plain, 0.96, 2.0, 24, 49, 0.96},
        {"end past the source", plain, 0.96, 1e308, 24, 149, 0.96},
        {"hidden pictures, from the start", edited, 0.0, 1.0, 83, 107, 0.0},
        {"hidden pictures, later", edited, 1.2, 2.0, 108, -1, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string output = folder.file(std::string(c.name) + ".mp4");
        const StreamCutResult result = cut(c.source, output, c.start, c.end);
        ASSERT_EQ(result.end, StreamCutResult::End::Finished) << result.Error;
        EXPECT_NEAR(result.startSeconds, c.startSeconds, 1e-3);
        EXPECT_EQ(KeyFrameStartText(result).empty(), c.start == c.startSeconds);
        const DecodedSummary decoded = DecodeMedia(output);
        ASSERT_FALSE(decoded.framePatterns.empty());
        EXPECT_EQ(decoded.firstFramePattern, c.first);
        if (c.last >= 0) {
            EXPECT_EQ(decoded.lastFramePattern, c.last);
        }
        EXPECT_LE(std::abs(decoded.firstAudioPtsUs - decoded.firstVideoPtsUs),
                  std::llround(1024 / 44100.0 * 1e6));
    }
}

// Files written from the two halves of a join, with pictures of two sizes.
std::string joinedStreams(const TempFolder& folder)
{
    MediaSpec small = testing::StartOffset();
    small.seconds = 2.0;
    MediaSpec large = small;
    large.width = 320;
    large.height = 240;
    const std::string joined = folder.file("joined.ts");
    std::ofstream out(joined, std::ios::binary);
    out << std::ifstream(CachedMedia("cut_small.ts", small), std::ios::binary).rdbuf()
        << std::ifstream(CachedMedia("cut_large.ts", large), std::ios::binary).rdbuf();
    return joined;
}

// Segments and sources a copy cannot be made of: the cut fails before or
// while writing, says why (naming the file when the file is the cause), and
// leaves nothing behind.
TEST_F(StreamCutTest, FailuresSayWhyAndWriteNothing)
{
    TempFolder folder;
    const std::string plain = CachedMedia("cut_plain.mp4", testing::Mp4H264Aac());
    MediaSpec reorderedSpec = testing::AviMpeg4Mp3();
    reorderedSpec.bFrames = 2;
    // Pictures only from 1.92 s on, sound from the start.
    const std::string latePictures = folder.file("late pictures.mp4");
    remux(plain, latePictures, [](AVPacket& packet, const AVStream& in) {
        return in.codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
               packet.pts >= lib.av_rescale_q(1'920'000, AVRational{1, AV_TIME_BASE}, in.time_base);
    });
    const struct {
        const char* name;
        std::string source;
        double start, end;
        const char* why;
        bool namesSource;
    } cases[] = {
        {"equal marks", plain, 1.0, 1.0, "same", false},
        {"huge start", plain, 9e15, 0.0, "starts after the end", false},
        {"largest start", plain, 1e308, 0.0, "starts after the end", false},
        {"reordered AVI", CachedMedia("cut_reordered.avi", reorderedSpec), 0.5, 1.5, "B-frames",
         true},
        {"two files joined", joinedStreams(folder), 0.0, 0.0, "start again", true},
        {"no pictures between the marks", latePictures, 0.0, 1.5, "No picture", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string outputs = folder.file(c.name);
        fs::create_directory(outputs);
        SplitRequest request;
        request.SourceFile = c.source;
        request.OutputFolder = outputs;
        request.Marked = true;
        request.StartSeconds = c.start;
        request.EndSeconds = c.end;
        StreamCutJob job = PrepareStreamCutJob(request);
        const std::string error =
            job.Cut ? job.Cut->Write(job.Staged.WriteAddress(), c.start, c.end, {}).Error
                    : job.Error;
        job.Staged.Discard();
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
        EXPECT_EQ(error.find(c.source) != std::string::npos, c.namesSource) << error;
        EXPECT_TRUE(fs::is_empty(outputs));
    }
}

// A copy of `source` (a transport stream) whose 40th picture carries
// decoding and showing times two pictures too early, as damaged data may.
std::string damagedTimes(const std::string& source, const std::string& damaged)
{
    std::ifstream in(source, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto readTime = [](const unsigned char* b) {
        return (int64_t(b[0] & 0x0E) << 29) | (int64_t(b[1]) << 22) | (int64_t(b[2] >> 1) << 15) |
               (int64_t(b[3]) << 7) | (b[4] >> 1);
    };
    const auto writeTime = [](unsigned char* b, int64_t time) {
        b[0] = static_cast<unsigned char>((b[0] & 0xF0) | ((time >> 29) & 0x0E) | 1);
        b[1] = static_cast<unsigned char>(time >> 22);
        b[2] = static_cast<unsigned char>(((time >> 14) & 0xFE) | 1);
        b[3] = static_cast<unsigned char>(time >> 7);
        b[4] = static_cast<unsigned char>(((time << 1) & 0xFE) | 1);
    };
    int pictures = 0;
    for (std::size_t at = 0; at + 188 <= bytes.size(); at += 188) {
        auto* packet = reinterpret_cast<unsigned char*>(&bytes[at]);
        if (!(packet[1] & 0x40))
            continue;
        const std::size_t payload = 4 + ((packet[3] & 0x20) ? 1 + packet[4] : 0);
        unsigned char* pes = packet + payload;
        if (payload + 19 > 188 || pes[0] || pes[1] || pes[2] != 1 || pes[3] != 0xE0 ||
            ++pictures != 40)
            continue;
        const int64_t back = 2 * 3600;  // two pictures at 25 per second, in 90 kHz
        writeTime(pes + 9, readTime(pes + 9) - back);
        if ((pes[7] & 0xC0) == 0xC0)
            writeTime(pes + 14, readTime(pes + 14) - back);
    }
    std::ofstream(damaged, std::ios::binary) << bytes;
    return damaged;
}

// Damaged times a little out of step do not stop the copy: every picture is
// copied, in order.
// A copy is written in the container the source was read as, under the
// source's own name, whatever that name says of its type.
TEST_F(StreamCutTest, TheCopyKeepsTheSourcesContainerAndName)
{
    TempFolder folder;
    const std::string mp4 = CachedMedia("cut_plain.mp4", testing::Mp4H264Aac());
    const std::string mkv = CachedMedia("cut_clip.mkv", testing::MatroskaClip());
    MediaSpec rawSpec = testing::MatroskaClip();
    rawSpec.videoCodec = "rawvideo";
    rawSpec.audioCodec.clear();
    const std::string raw = CachedMedia("cut_raw.mkv", rawSpec);
    const struct {
        std::string source;
        const char* name;
        const char* container;  // of the copy, as it is read back
        const char* brand;      // its major brand, where the container has one
    } cases[] = {
        {mp4, "noext", "mov,mp4,m4a,3gp,3g2,mj2", "isom"},
        {mp4, ".hidden", "mov,mp4,m4a,3gp,3g2,mj2", "isom"},
        {mp4, "a.", "mov,mp4,m4a,3gp,3g2,mj2", "isom"},
        {mp4, "a.mp4 ", "mov,mp4,m4a,3gp,3g2,mj2", "isom"},
        {mp4, "a.AVI", "mov,mp4,m4a,3gp,3g2,mj2", "isom"},
        {mp4, "clip.xyz", "mov,mp4,m4a,3gp,3g2,mj2", "isom"},
        {mkv, "x.mp3", "matroska,webm", ""},
        {raw, "raw.mkv", "matroska,webm", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path at = folder.path() / "in";
        const fs::path outputs = folder.path() / "out";
        fs::create_directories(at);
        fs::create_directories(outputs);
        fs::copy_file(c.source, at / c.name);
        // Each row on its own: a failed one does not end the others.
        [&] {
            SplitRequest request;
            request.SourceFile = (at / c.name).string();
            request.OutputFolder = outputs.string();
            request.Marked = true;
            request.StartSeconds = 0.5;
            request.EndSeconds = 1.5;
            StreamCutJob job = PrepareStreamCutJob(request);
            ASSERT_NE(job.Cut, nullptr) << job.Error;
            const StreamCutResult result =
                job.Cut->Write(job.Staged.WriteAddress(), 0.5, 1.5, {});
            ASSERT_EQ(result.end, StreamCutResult::End::Finished) << result.Error;
            ASSERT_EQ(job.Staged.Commit(), std::nullopt);
            EXPECT_EQ(job.OutputFile, (outputs / c.name).string());
            AVFormatContext* opened = nullptr;
            const std::string address = "file:" + job.OutputFile;
            ASSERT_EQ(lib.avformat_open_input(&opened, address.c_str(), nullptr, nullptr), 0);
            InputFormatPtr written(opened);
            EXPECT_EQ(std::string(written->iformat->name), c.container);
            const AVDictionaryEntry* brand =
                lib.av_dict_get(written->metadata, "major_brand", nullptr, 0);
            EXPECT_EQ(brand ? std::string(brand->value) : std::string(), c.brand);
            const testing::DecodedSummary copied = testing::DecodeMedia(job.OutputFile);
            EXPECT_GE(copied.videoFrames, 25);
            EXPECT_EQ(fs::file_size(at / c.name), fs::file_size(c.source));
        }();
        fs::remove_all(at);
        fs::remove_all(outputs);
    }
}

TEST_F(StreamCutTest, DamagedTimesAreCopiedInOrder)
{
    TempFolder folder;
    MediaSpec spec = testing::StartOffset();
    spec.seconds = 3.0;
    const std::string source =
        damagedTimes(CachedMedia("cut_undamaged.ts", spec), folder.file("damaged.ts"));
    const StreamCutResult result = cut(source, folder.file("copy.ts"), 0.0, 0.0);
    ASSERT_EQ(result.end, StreamCutResult::End::Finished) << result.Error;
    EXPECT_EQ(DecodeMedia(folder.file("copy.ts")).videoFrames, DecodeMedia(source).videoFrames);
}

// The output is named like any split's, with the source's extension, and is
// never the source itself.
TEST_F(StreamCutTest, NamesTheOutputAfterTheSourceAndNeverOverwritesIt)
{
    TempFolder folder;
    const std::string source = folder.file("talk.mkv");
    fs::copy_file(CachedMedia("cut_clip.mkv", [] {
                      MediaSpec spec = testing::MatroskaClip();
                      spec.seconds = 6.0;
                      return spec;
                  }()),
                  source);
    SplitRequest request;
    request.SourceFile = source;
    request.OutputFolder = folder.path().string();
    request.Overwrite = true;
    const StreamCutJob job = PrepareStreamCutJob(request);
    ASSERT_NE(job.Cut, nullptr) << job.Error;
    EXPECT_EQ(job.OutputFile, folder.file("talk-1.mkv"));

    TStreamCut again;
    ASSERT_TRUE(again.Open(source));
    const StreamCutResult result = again.Write(source, 1.0, 2.0, {});
    EXPECT_EQ(result.end, StreamCutResult::End::Failed);
    EXPECT_FALSE(result.Error.empty());
}

// A stop ends the copy at its next packet; what was written plays, also
// after pictures re-encoded at the start of an exact cut.
TEST_F(StreamCutTest, StopKeepsAPlayableFile)
{
    MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 6.0;
    const std::string source = CachedMedia("cut_stop.mp4", spec);
    TempFolder folder;
    for (const bool exact : {false, true}) {
        SCOPED_TRACE(exact ? "exact" : "from the key frame");
        const std::string output = folder.file(exact ? "exact.mp4" : "stopped.mp4");
        std::atomic<bool> stop{false};
        StreamCutControl control;
        control.stop = &stop;
        control.progressIntervalMs = 1000;
        std::vector<int64_t> reported;
        control.progress = [&](const StreamCutProgress& progress) {
            reported.push_back(progress.writtenMs);
            if (progress.writtenMs >= 1000)
                stop.store(true);
        };
        const StreamCutResult result = cut(source, output, 0.3, 0.0, control, exact);
        EXPECT_EQ(result.end, StreamCutResult::End::Stopped);
        EXPECT_EQ(result.exact, exact) << result.exactFallback;
        testing::LibraryWarnings warnings;
        const DecodedSummary decoded = DecodeMedia(output);
        EXPECT_EQ(warnings.Text(), "");
        EXPECT_GE(decoded.videoFrames, 25);
        EXPECT_LT(decoded.videoFrames, 150);
        ASSERT_GE(reported.size(), 2u);
        EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));

        // Stopped before its first packet (while it re-encodes, for the
        // exact cut), the copy leaves nothing behind.
        const std::string early = folder.file(exact ? "exact early.mp4" : "stopped early.mp4");
        stop.store(true);
        EXPECT_EQ(cut(source, early, 2.1, 0.0, control, exact).end, StreamCutResult::End::Stopped);
        EXPECT_FALSE(std::filesystem::exists(early));
    }
}

// An AVI with MP3 sound of a variable bit rate as GStreamer's muxer writes it
// (its header gives the sound a block of one byte): the copy's header
// describes the sound as a reader expects it, and the copy decodes without
// a word from the libraries, whichever way it is cut.
TEST_F(StreamCutTest, VariableRateMp3InAviCopiesWithAConsistentHeader)
{
    TempFolder folder;
    const std::string source = folder.file("gstreamer.avi");
    const std::string pipeline =
        "gst-launch-1.0 -q videotestsrc num-buffers=100 ! "
        "video/x-raw,width=160,height=120,framerate=25/1 ! avenc_mpeg4 gop-size=25 ! "
        "avimux name=mux ! filesink location=\"" + source + "\" "
        "audiotestsrc num-buffers=180 ! audio/x-raw,rate=44100,channels=2 ! "
        "lamemp3enc target=quality quality=4 ! mux. >/dev/null 2>&1";
    if (std::system(pipeline.c_str()) != 0 || !fs::exists(source))
        GTEST_SKIP() << "GStreamer's avimux, avenc_mpeg4 and lamemp3enc are needed";
    for (const bool exact : {false, true}) {
        SCOPED_TRACE(exact ? "exact" : "from the key frame");
        const std::string output = folder.file(exact ? "exact.avi" : "key frame.avi");
        ASSERT_EQ(cut(source, output, 1.3, 3.5, {}, exact).end, StreamCutResult::End::Finished);
        testing::LibraryWarnings warnings;
        const DecodedSummary decoded = DecodeMedia(output);
        EXPECT_EQ(warnings.Text(), "");
        EXPECT_GT(decoded.audioSamples, 0);
    }
}

// An exact cut's progress counts its re-encoded start as its pictures are
// made, before anything is written, and never goes back.
TEST_F(StreamCutTest, TheReencodedStartCountsAsProgress)
{
    MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 6.0;
    spec.keyFrameInterval = 100;  // 4 s groups: the start is re-encoded up to 4.0 s
    const std::string source = CachedMedia("cut_long_group.mp4", spec);
    TempFolder folder;
    StreamCutControl control;
    control.progressIntervalMs = 250;
    std::vector<StreamCutProgress> reported;
    control.progress = [&](const StreamCutProgress& progress) { reported.push_back(progress); };
    const StreamCutResult result = cut(source, folder.file("exact.mp4"), 0.5, 5.5, control, true);
    ASSERT_EQ(result.end, StreamCutResult::End::Finished) << result.Error;
    ASSERT_TRUE(result.exact) << result.exactFallback;
    ASSERT_FALSE(reported.empty());
    const int64_t total = reported.back().totalMs;
    EXPECT_NEAR(total, 5000, 40);
    int64_t beforeWriting = 0;
    for (const StreamCutProgress& progress : reported) {
        EXPECT_EQ(progress.totalMs, total);
        if (progress.bytes == 0)
            beforeWriting = std::max(beforeWriting, progress.writtenMs);
    }
    EXPECT_GE(beforeWriting, 3000) << "the head of 3.5 s counted while it is re-encoded";
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end(),
                               [](const auto& a, const auto& b) { return a.writtenMs < b.writtenMs; }));
    EXPECT_GE(reported.back().writtenMs, total);
}

// A worker-thread copy reports its end once, after its progress.
TEST_F(StreamCutTest, TaskReportsTheEndOnItsThread)
{
    MediaSpec spec = testing::MatroskaClip();
    spec.seconds = 6.0;
    const std::string source = CachedMedia("cut_clip.mkv", spec);
    TempFolder folder;
    auto streamCut = std::make_unique<TStreamCut>();
    ASSERT_TRUE(streamCut->Open(source));
    std::atomic<int> ends{0};
    StreamCutResult last;
    {
        TStreamCutTask task(std::move(streamCut), folder.file("task.mkv"), 1.0, 3.0, {},
                            [&](const StreamCutResult& result) {
                                last = result;
                                ends.fetch_add(1);
                            });
        task.Wait();
    }
    EXPECT_EQ(ends.load(), 1);
    EXPECT_EQ(last.end, StreamCutResult::End::Finished) << last.Error;
    EXPECT_GT(DecodeMedia(folder.file("task.mkv")).videoFrames, 0);
}

}  // namespace
}  // namespace clipmora
