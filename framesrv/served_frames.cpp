// Reading a segment's filter graph as frames, and the stand-in streams that
// describe it.
#include "framesrv/served_frames.h"

#include "engine/error_text.h"
#include "engine/library_binding.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace clipmora::framesrv {
namespace {

// The sound formats that stand-in streams can carry as PCM packets; the
// sound leaves the graph in one of them, as it does through "lavfi".
constexpr const char* kPackedSoundFormats = "sample_fmts=u8|s16|s32|flt|dbl";

// The stream index of an open output labelled "out<N>"; -1 for other labels.
int outputIndex(const char* label)
{
    if (!label || std::strncmp(label, "out", 3) != 0)
        return -1;
    char* end = nullptr;
    const long index = std::strtol(label + 3, &end, 10);
    return end != label + 3 && *end == '\0' && index >= 0 && index < 64 ? static_cast<int>(index)
                                                                       : -1;
}

// The channel layout as the stand-in's sound source reads it.
std::string layoutText(const AVChannelLayout& layout)
{
    char text[64];
    if (layout.order == AV_CHANNEL_ORDER_NATIVE)
        std::snprintf(text, sizeof text, "0x%" PRIx64, layout.u.mask);
    else
        std::snprintf(text, sizeof text, "%dc", layout.nb_channels);
    return text;
}

}  // namespace

GraphFrames::~GraphFrames() = default;

int GraphFrames::Open(const std::string& description, std::shared_ptr<void> feeder,
                      std::unique_ptr<GraphFrames>& opened)
{
    std::unique_ptr<GraphFrames> frames(new GraphFrames);
    frames->feeder_ = std::move(feeder);
    frames->graph_.reset(lib.avfilter_graph_alloc());
    if (!frames->graph_)
        return AVERROR(ENOMEM);
    AVFilterInOut* rawInputs = nullptr;
    AVFilterInOut* rawOutputs = nullptr;
    const int parsed = lib.avfilter_graph_parse_ptr(frames->graph_.get(), description.c_str(),
                                                    &rawInputs, &rawOutputs, nullptr);
    const FilterInOutPtr inputs(rawInputs), outputs(rawOutputs);
    if (parsed < 0)
        return parsed;
    // Every input of the graph is a source of its own, every output a stream.
    if (inputs || !outputs)
        return AVERROR(EINVAL);
    int count = 0;
    for (AVFilterInOut* open = outputs.get(); open; open = open->next)
        ++count;
    frames->outputs_.resize(static_cast<std::size_t>(count));
    for (AVFilterInOut* open = outputs.get(); open; open = open->next) {
        const int index = outputIndex(open->name);
        if (index < 0 || index >= count || frames->outputs_[index].sink)
            return AVERROR(EINVAL);
        if (const int code = frames->addOutput(open, index); code < 0)
            return code;
    }
    if (const int code = lib.avfilter_graph_config(frames->graph_.get(), nullptr); code < 0)
        return code;
    for (Output& output : frames->outputs_)
        output.timeBase = lib.av_buffersink_get_time_base(output.sink);
    opened = std::move(frames);
    return 0;
}

int GraphFrames::addOutput(AVFilterInOut* open, int index)
{
    Output& output = outputs_[static_cast<std::size_t>(index)];
    output.type = lib.avfilter_pad_get_type(open->filter_ctx->output_pads, open->pad_idx);
    output.next.reset(lib.av_frame_alloc());
    if (!output.next)
        return AVERROR(ENOMEM);
    const std::string name = "out" + std::to_string(index);
    AVFilterContext* feed = open->filter_ctx;
    int pad = open->pad_idx;
    int code = 0;
    if (output.type == AVMEDIA_TYPE_VIDEO) {
        code = lib.avfilter_graph_create_filter(&output.sink, lib.avfilter_get_by_name("buffersink"),
                                                name.c_str(), nullptr, nullptr, graph_.get());
    } else if (output.type == AVMEDIA_TYPE_AUDIO) {
        AVFilterContext* format = nullptr;
        code = lib.avfilter_graph_create_filter(&format, lib.avfilter_get_by_name("aformat"),
                                                (name + "_format").c_str(), kPackedSoundFormats,
                                                nullptr, graph_.get());
        if (code >= 0)
            code = lib.avfilter_link(feed, static_cast<unsigned>(pad), format, 0);
        feed = format;
        pad = 0;
        if (code >= 0)
            code = lib.avfilter_graph_create_filter(
                &output.sink, lib.avfilter_get_by_name("abuffersink"), name.c_str(),
                "all_channel_counts=1", nullptr, graph_.get());
    } else {
        return AVERROR(EINVAL);
    }
    if (code < 0)
        return code;
    return lib.avfilter_link(feed, static_cast<unsigned>(pad), output.sink, 0);
}

std::string GraphFrames::StandIn() const
{
    std::string graph;
    char text[256];
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
        const AVFilterContext* sink = outputs_[i].sink;
        if (outputs_[i].type == AVMEDIA_TYPE_VIDEO) {
            AVRational rate = lib.av_buffersink_get_frame_rate(sink);
            if (rate.num <= 0 || rate.den <= 0)
                rate = AVRational{25, 1};
            const AVRational aspect = lib.av_buffersink_get_sample_aspect_ratio(sink);
            const char* format = lib.av_get_pix_fmt_name(
                static_cast<AVPixelFormat>(lib.av_buffersink_get_format(sink)));
            std::snprintf(text, sizeof text,
                          "nullsrc=size=%dx%d:rate=%d/%d:sar=%d/%d,format=pix_fmts=%s[out%zu]",
                          lib.av_buffersink_get_w(sink), lib.av_buffersink_get_h(sink), rate.num,
                          rate.den, aspect.num, aspect.den, format ? format : "yuv420p", i);
        } else {
            AVChannelLayout layout{};
            lib.av_buffersink_get_ch_layout(sink, &layout);
            const char* format = lib.av_get_sample_fmt_name(
                static_cast<AVSampleFormat>(lib.av_buffersink_get_format(sink)));
            std::snprintf(text, sizeof text, "anullsrc=r=%d:cl=%s,aformat=sample_fmts=%s[out%zu]",
                          lib.av_buffersink_get_sample_rate(sink), layoutText(layout).c_str(),
                          format ? format : "s16", i);
            lib.av_channel_layout_uninit(&layout);
        }
        graph += (graph.empty() ? "" : ";") + std::string(text);
    }
    return graph;
}

void GraphFrames::UseTimeBases(const AVFormatContext& describing)
{
    for (std::size_t i = 0; i < outputs_.size() && i < describing.nb_streams; ++i)
        outputs_[i].timeBase = describing.streams[i]->time_base;
}

int GraphFrames::readAhead()
{
    for (Output& output : outputs_) {
        if (output.ended || output.next->buf[0])
            continue;
        const int code = lib.av_buffersink_get_frame(output.sink, output.next.get());
        if (code == AVERROR_EOF)
            output.ended = true;
        else if (code < 0)
            return code;
    }
    return 0;
}

void GraphFrames::ExpectEnd(std::string source, double startSeconds, double endSeconds,
                            bool endMarked)
{
    expected_ = ExpectedEnd{std::move(source), startSeconds, endSeconds, endMarked};
}

void GraphFrames::noteEnd(const Output& output, const AVFrame& frame)
{
    if (frame.pts == AV_NOPTS_VALUE)
        return;
    double length = 0.0;
    if (output.type == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate = lib.av_buffersink_get_frame_rate(output.sink);
        length = rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.0;
    } else if (frame.sample_rate > 0) {
        length = static_cast<double>(frame.nb_samples) / frame.sample_rate;
    }
    const double start = static_cast<double>(frame.pts) *
                         av_q2d(lib.av_buffersink_get_time_base(output.sink));
    reachedSeconds_ = std::max(reachedSeconds_, start + length);
    longestFrameSeconds_ = std::max(longestFrameSeconds_, length);
}

void GraphFrames::checkEnd()
{
    if (!expected_ || !endError_.empty())
        return;
    // A file's own length may be off by a frame or a packet of its own.
    const double reached = expected_->startSeconds + reachedSeconds_;
    if (reached >= expected_->endSeconds - longestFrameSeconds_ - 0.001)
        return;
    endError_ = SourceEndedEarlyText(expected_->source, reached, expected_->endSeconds,
                                     expected_->marked);
}

int GraphFrames::Read(AVFrame* frame, int& streamIndex)
{
    if (const int code = readAhead(); code < 0)
        return code;
    // The earliest frame goes first, so that the streams stay interleaved;
    // one without a time goes at once.
    int earliest = -1;
    for (int i = 0; i < static_cast<int>(outputs_.size()); ++i) {
        const AVFrame* next = outputs_[i].next.get();
        if (!next->buf[0])
            continue;
        if (next->pts == AV_NOPTS_VALUE) {
            earliest = i;
            break;
        }
        if (earliest < 0 ||
            lib.av_compare_ts(next->pts, lib.av_buffersink_get_time_base(outputs_[i].sink),
                              outputs_[earliest].next->pts,
                              lib.av_buffersink_get_time_base(outputs_[earliest].sink)) < 0)
            earliest = i;
    }
    if (earliest < 0) {
        checkEnd();
        return AVERROR_EOF;
    }
    Output& output = outputs_[earliest];
    noteEnd(output, *output.next);
    lib.av_frame_move_ref(frame, output.next.get());
    if (frame->pts != AV_NOPTS_VALUE)
        frame->pts = lib.av_rescale_q(frame->pts, lib.av_buffersink_get_time_base(output.sink),
                                      output.timeBase);
    // As through packets: the time is the frame's own, the duration comes
    // from the stream's rate (the graph may have kept the source's), and the
    // pictures are whole frames.
    frame->best_effort_timestamp = frame->pts;
    frame->pkt_dts = AV_NOPTS_VALUE;
    frame->pkt_duration = 0;
    frame->interlaced_frame = 0;
    frame->top_field_first = 0;
    streamIndex = earliest;
    return 0;
}

}  // namespace clipmora::framesrv
