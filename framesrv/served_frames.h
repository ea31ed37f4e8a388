// A segment's filter graph read as decoded frames.
//
// The device library's "lavfi" input turns every frame of a graph into a
// packet (a copy of the whole picture, in memory the encoders cannot use
// directly) that a decoder then turns back into a frame. For the engine, the
// frame server builds the graph itself and hands the frames over as they
// come out. The engine still gets a format context that describes the
// streams: a "lavfi" context of generated stand-in streams with the same
// parameters, whose own packets are never read.
#pragma once

#include "engine/input_opener.h"
#include "engine/library_handles.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace clipmora::framesrv {

class GraphFrames final : public FrameSource {
public:
    // Builds and configures the graph `description`, whose open outputs are
    // labelled "out0", "out1", ... in stream order, as for the "lavfi"
    // input. `feeder` is kept until the graph is gone. Returns 0 or a
    // negative library error code.
    static int Open(const std::string& description, std::shared_ptr<void> feeder,
                    std::unique_ptr<GraphFrames>& opened);
    ~GraphFrames() override;
    GraphFrames(const GraphFrames&) = delete;
    GraphFrames& operator=(const GraphFrames&) = delete;

    // A graph of generated streams with the parameters of the outputs:
    // picture size, pixel format, aspect and rate; sample rate, format and
    // channels.
    std::string StandIn() const;
    // Takes the time bases of the describing context's streams; Read gives
    // timestamps in them from then on.
    void UseTimeBases(const AVFormatContext& describing);

    int Read(AVFrame* frame, int& streamIndex) override;

    // Where the segment should end: `source` is the file it is read from,
    // `startSeconds` and `endSeconds` its span on that file's timeline, and
    // `endMarked` whether that end is a mark (else it is the end the file
    // gives). Once the graph ends, EndError says so when the frames ended
    // more than a frame before it.
    void ExpectEnd(std::string source, double startSeconds, double endSeconds, bool endMarked);
    std::string EndError() const override { return endError_; }

private:
    struct Output {
        AVFilterContext* sink = nullptr;  // owned by the graph
        AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
        AVRational timeBase{1, 1};        // the stream's, for Read
        FramePtr next;                    // read ahead; empty when none
        bool ended = false;
    };
    GraphFrames() = default;
    int addOutput(AVFilterInOut* open, int index);
    // Fills the read-ahead frame of every output that has none. Returns 0
    // or a negative library error code.
    int readAhead();
    // Keeps where `frame` of `output` ends, in seconds of the segment.
    void noteEnd(const Output& output, const AVFrame& frame);
    // Says in endError_ where the source ended, when before the expected end.
    void checkEnd();

    struct ExpectedEnd {
        std::string source;
        double startSeconds = 0.0;
        double endSeconds = 0.0;
        bool marked = false;
    };
    std::optional<ExpectedEnd> expected_;
    double reachedSeconds_ = 0.0;       // the end of the latest frame served
    double longestFrameSeconds_ = 0.0;  // of the frames served
    std::string endError_;

    std::shared_ptr<void> feeder_;  // before the graph: it goes after it
    FilterGraphPtr graph_;
    std::vector<Output> outputs_;
};

}  // namespace clipmora::framesrv
