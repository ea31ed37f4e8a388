// The records of one run of a task: per input file, per input stream and per
// output stream, plus the run's counters. They live from the start of the
// run to its end and are owned by the run (all on the task's thread).
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

    // Decoded sound in the audio path's format (PathFormat, interleaved),
    // decided at the first decoded block: 16-bit when the decoder gives
    // 16-bit and every encoder it feeds takes 16-bit, 32-bit float otherwise.
    AVSampleFormat PathFormat = AV_SAMPLE_FMT_NONE;
    ResamplerPtr ToPath;  // decoder's format to PathFormat, when they differ
    std::vector<uint8_t> Samples;
    int FramesFromPacket = 0;  // decoded frames the current packet gave so far
};

// What the video path keeps for one output stream.
struct VideoOutputState {
    bool Resample = false;
    bool Pad = false;
    int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    int ScaledSourceHeight = 0;
    // The decoded picture geometry the path is prepared for.
    int SourceWidth = 0, SourceHeight = 0;
    int SourceFormat = -1;
    ScalerPtr Scaler;
    FramePtr Picture;  // scaled and/or padded picture in the encoder's format and size
};

// Channels and rates on both sides of the audio path (decoder, encoder).
struct AudioShape {
    int inChannels, outChannels;
    int inRate, outRate;
};

// What the audio path keeps for one output stream.
struct AudioOutputState {
    bool Resample = false;
    // The source's path format (interleaved 16-bit or float), taken from the
    // input stream with its first block; every buffer below holds it.
    AVSampleFormat Format = AV_SAMPLE_FMT_NONE;
    int SampleBytes = 2;       // bytes of one sample of one channel in Format
    ResamplerPtr Resampler;    // channel and rate conversion within Format
    ResamplerPtr ToEncoder;    // Format to the encoder's sample format, when they differ
    AudioFifoPtr Fifo;         // samples short of an encoder frame
    std::vector<uint8_t> Resampled;  // output of the resampler, reused
    std::vector<uint8_t> Silence;    // silence followed by a block, reused
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

    VideoOutputState Video;
    AudioOutputState Audio;

    FilePtr PassLog;
};

struct RunState {
    std::vector<TInputFileState> Files;
    std::vector<TInputStream> Inputs;
    std::vector<TOutputStream> Outputs;
    int64_t StartTime = 0;  // av_gettime when the loop started
    int64_t VideoBytes = 0;
    int64_t AudioBytes = 0;
    int64_t HeaderBytes = 0;
    int64_t PacketsWritten = 0;  // into any output file
    std::array<int64_t, 52> QpHistogram{};  // quantisers of the progress reports ("qphist")
    int DuplicatedFrames = 0;
    int DroppedFrames = 0;
    PacketPtr Packet;        // reused for reading
    PacketPtr OutPacket;     // reused for encoding
    FramePtr Decoded;        // reused for decoding
    // Video encoders that run on threads of their own. Declared last, so the
    // threads are joined before anything they use goes away.
    std::vector<std::unique_ptr<EncoderThread>> EncoderThreads;
};

// The frame of a served stream as one packet of raw pictures or PCM sound,
// the way the stream's stand-in describes it (sound frames are packed).
// Returns 0 or a negative library error code.
int FramePacket(const AVFrame& frame, AVMediaType type, AVPacket& packet);

// True when the encoder of `ost` runs on a thread of its own: video
// encoders, unless the run writes per-frame statistics (two-pass logs,
// "vstats"), which need each frame's result before the next one is sent.
bool EncodesOnOwnThread(const TOutputStream& ost, const OptionState& o);

// The thread that runs the encoder of `ost`, or null when the task's thread
// encodes it itself.
inline EncoderThread* EncoderThreadOf(const RunState& run, const TOutputStream& ost)
{
    for (const std::unique_ptr<EncoderThread>& thread : run.EncoderThreads)
        if (thread->Encoder() == ost.Encoder)
            return thread.get();
    return nullptr;
}

}  // namespace clipmora
