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

    std::shared_ptr<void> feeder_;  // before the graph: it goes after it
    FilterGraphPtr graph_;
    std::vector<Output> outputs_;
};

}  // namespace clipmora::framesrv
