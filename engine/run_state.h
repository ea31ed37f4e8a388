// The records of one run of a task: per input file, per input stream and per
// output stream. They live from the start of the run to its end and are
// owned by the run (all on the task's thread).
#pragma once

#include "engine/encoder_thread.h"
#include "engine/ffmpeg.h"
#include "engine/file_handle.h"

#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace clipmora {

struct TInputFileState {
    bool EofReached = false;
    int FirstStream = 0;  // index of the file's first stream in the input-stream table
    int StreamCount = 0;  // streams the file had when the run started
};

struct TInputStream {
    int FileIndex = 0;
    int StreamIndex = 0;
    AVStream* Stream = nullptr;
    AVCodecContext* Decoder = nullptr;  // owned by the input file
    bool Unclaimed = true;
    bool DecodingNeeded = false;
    bool DecoderOpen = false;
    int64_t RateEmulationStart = 0;         // wall clock when the run began reading
    int64_t RateEmulationFirstPts = kNoPts; // first data time of the stream
    int64_t NextPts = kNoPts;  // microseconds
    int64_t CurrentPts = 0;    // microseconds
    bool IsStart = true;
    float Quality = 0.0f;
};

struct TOutputStream {
    int FileIndex = 0;
    int Index = 0;        // within its file
    int SourceIndex = 0;  // into the input-stream table
    int SyncIndex = 0;    // the input stream whose clock sync follows
    AVStream* Stream = nullptr;
    AVCodecContext* Encoder = nullptr;  // owned by the output file's setup
    bool StreamCopy = false;
    bool EncodingNeeded = false;
    bool EncoderOpen = false;
    bool Flushed = false;
    int64_t FrameNumber = 0;
    int64_t SyncCount = 0;  // frames (video) or samples (audio) handed to the encoder
    int64_t LastDts = kNoPts;  // of the last packet written, stream time base
    int64_t PacketsWritten = 0;
    float Quality = 0.0f;  // what every frame asks of a fixed-quality encoder
    float LastQuality = -1.0f;
    char LastPictureType = '?';
    std::array<int64_t, 3> LastErrors{};  // squared error per plane of the last coded frame
    bool LastErrorsMeasured = false;      // the encoder reported them (not all encoders do)
    LibraryMemoryPtr<char> FirstPassStats;  // statistics input of a second pass
    FilePtr PassLog;
};

// The stream tables of a run, which every stage reads.
struct RunState {
    std::vector<TInputFileState> Files;
    std::vector<TInputStream> Inputs;
    std::vector<TOutputStream> Outputs;
};

// The stream tables of a run over `inputs` and `outputs`, and for every
// output stream the input stream that feeds it (the stream maps, the
// program, or the first unclaimed stream of its kind). Throws FFMpegException.
RunState MapStreams(const std::vector<InputFile>& inputs, const std::vector<OutputFile>& outputs,
                    const OptionState& options);

// The frame of a served stream as one packet of raw pictures or PCM sound,
// the way the stream's stand-in describes it (sound frames are packed).
// Returns 0 or a negative library error code.
int FramePacket(const AVFrame& frame, AVMediaType type, AVPacket& packet);

// True when the encoder of `ost` runs on a thread of its own: video
// encoders, unless the run writes per-frame statistics (two-pass logs,
// "vstats"), which need each frame's result before the next one is sent.
bool EncodesOnOwnThread(const TOutputStream& ost, const OptionState& o);

}  // namespace clipmora
