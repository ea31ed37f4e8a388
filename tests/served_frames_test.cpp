// A filter graph read as frames: the stand-in streams that describe it, the
// order and times of its frames, and the graphs it refuses.
#include "engine/library_binding.h"
#include "framesrv/served_frames.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace clipmora {
namespace {

using framesrv::GraphFrames;

InputFormatPtr openLavfi(const std::string& graph)
{
    AVFormatContext* context = nullptr;
    if (lib.avformat_open_input(&context, graph.c_str(), lib.av_find_input_format("lavfi"),
                                nullptr) < 0)
        return nullptr;
    return InputFormatPtr(context);
}

class ServedFramesTest : public ::testing::Test {
protected:
    void SetUp() override { testing::BindLibrariesForTests(); }
};

struct ServedGraph {
    const char* name;
    const char* graph;
};

class StandInTest : public ServedFramesTest, public ::testing::WithParamInterface<ServedGraph> {};

TEST_P(StandInTest, DescribesTheStreamsAsTheLavfiInputWould)
{
    const std::string graph = GetParam().graph;
    const InputFormatPtr direct = openLavfi(graph);
    ASSERT_TRUE(direct) << graph;
    std::unique_ptr<GraphFrames> frames;
    ASSERT_EQ(GraphFrames::Open(graph, nullptr, frames), 0) << graph;
    const InputFormatPtr standIn = openLavfi(frames->StandIn());
    ASSERT_TRUE(standIn) << frames->StandIn();
    ASSERT_EQ(standIn->nb_streams, direct->nb_streams);
    for (unsigned i = 0; i < direct->nb_streams; ++i) {
        const AVCodecParameters* want = direct->streams[i]->codecpar;
        const AVCodecParameters* got = standIn->streams[i]->codecpar;
        SCOPED_TRACE(graph + " stream " + std::to_string(i));
        EXPECT_EQ(got->codec_type, want->codec_type);
        EXPECT_EQ(got->codec_id, want->codec_id);
        EXPECT_EQ(got->format, want->format);
        EXPECT_EQ(got->width, want->width);
        EXPECT_EQ(got->height, want->height);
        EXPECT_EQ(av_cmp_q(got->sample_aspect_ratio, want->sample_aspect_ratio), 0);
        EXPECT_EQ(got->sample_rate, want->sample_rate);
        EXPECT_EQ(got->ch_layout.nb_channels, want->ch_layout.nb_channels);
        if (want->codec_type == AVMEDIA_TYPE_AUDIO) {
            EXPECT_EQ(av_cmp_q(standIn->streams[i]->time_base, direct->streams[i]->time_base), 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Graphs, StandInTest,
    ::testing::Values(
        ServedGraph{"PicturesAndSound", "testsrc2=size=96x64:rate=25:duration=1[out0];"
                                        "sine=sample_rate=44100:duration=1[out1]"},
        ServedGraph{"PalettedOddSizeNtscRateAndAspect",
                    "testsrc=size=66x50:rate=30000/1001:duration=0.5,format=pal8,"
                    "setsar=16/11[out0]"},
        ServedGraph{"PlanarSurroundSound", "sine=sample_rate=8000:duration=0.5,"
                                           "aformat=sample_fmts=fltp:channel_layouts=5.1[out0]"},
        ServedGraph{"SoundFirstAndDeepColour",
                    "sine=sample_rate=22050:duration=0.5,aformat=sample_fmts=s32p:"
                    "channel_layouts=mono[out0];"
                    "testsrc=size=32x32:rate=10:duration=0.5,format=yuv444p10le[out1]"}),
    [](const ::testing::TestParamInfo<ServedGraph>& info) { return std::string(info.param.name); });

TEST_F(ServedFramesTest, ReadsEveryFrameInTimeOrderInTheStandInsTimeBasesThenEnds)
{
    std::unique_ptr<GraphFrames> frames;
    ASSERT_EQ(GraphFrames::Open("testsrc=size=64x48:rate=25:duration=1[out0];"
                                "sine=sample_rate=8000:duration=1,asetnsamples=n=1000[out1]",
                                nullptr, frames),
              0);
    const InputFormatPtr standIn = openLavfi(frames->StandIn());
    ASSERT_TRUE(standIn);
    frames->UseTimeBases(*standIn);

    FramePtr frame(lib.av_frame_alloc());
    int pictures = 0;
    int64_t samples = 0;
    double last = -1.0;
    int stream = -1;
    while (frames->Read(frame.get(), stream) == 0) {
        const AVRational base = standIn->streams[stream]->time_base;
        const double at = frame->pts * av_q2d(base);
        EXPECT_GE(at, last) << "stream " << stream << " frame at " << at;
        last = at;
        if (stream == 0) {
            EXPECT_EQ(frame->pts * av_q2d(base), pictures * 0.04);
            EXPECT_EQ(frame->best_effort_timestamp, frame->pts);
            ++pictures;
        } else {
            EXPECT_EQ(frame->pts, samples * 8000 / base.den * base.num);
            samples += frame->nb_samples;
        }
        lib.av_frame_unref(frame.get());
    }
    EXPECT_EQ(pictures, 25);
    EXPECT_EQ(samples, 8000);
    EXPECT_EQ(frames->Read(frame.get(), stream), AVERROR_EOF) << "the end stays the end";
}

TEST_F(ServedFramesTest, RefusesGraphsItCannotServe)
{
    std::unique_ptr<GraphFrames> frames;
    // An output that is not a numbered stream, an input left open, a filter
    // that does not exist.
    EXPECT_EQ(GraphFrames::Open("testsrc=duration=1[pictures]", nullptr, frames), AVERROR(EINVAL));
    EXPECT_EQ(GraphFrames::Open("testsrc=duration=1[out1]", nullptr, frames), AVERROR(EINVAL));
    EXPECT_EQ(GraphFrames::Open("[in]null[out0]", nullptr, frames), AVERROR(EINVAL));
    EXPECT_LT(GraphFrames::Open("nosuchfilter[out0]", nullptr, frames), 0);
    EXPECT_FALSE(frames);
}

}  // namespace
}  // namespace clipmora
