// The stages of a run, all on the task's thread. The packet loop reads the
// inputs and hands each packet to the decode stage, which copies it into the
// outputs that copy its stream or decodes it for the video and audio paths;
// those hand frames to the writer, which encodes them and writes the packets
// into the output files. Each stage keeps its own state; what they share are
// the stream tables (RunState), the options (read only) and the files.
#pragma once

#include "engine/run_state.h"

#include <atomic>
#include <cstdarg>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace clipmora {

// Where a stage's messages go: the task's log slot, at engine levels.
class RunLog {
public:
    using Sink = std::function<void(int level, const std::string& text)>;

    explicit RunLog(Sink sink) : sink_(std::move(sink)) {}
    // Whether anything receives the messages.
    bool Connected() const { return static_cast<bool>(sink_); }
    void operator()(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    void Write(int level, const char* format, va_list args) const;

private:
    Sink sink_;
};

// Copies, encodes and writes packets into the output files, and counts what
// went out.
class PacketWriter {
public:
    PacketWriter(RunState& run, std::vector<OutputFile>& files, const OptionState& options);
    // The encoders are open: counts their headers and moves every video
    // encoder that may run apart onto a thread of its own.
    void Start();
    // Copies a packet of `ist` into `ost`, from its first key frame on.
    void CopyPacket(TOutputStream& ost, const TInputStream& ist, const AVPacket& packet);
    // Encodes `frame` (null: drains the encoder) and writes what comes out.
    void EncodeFrame(TOutputStream& ost, const AVFrame* frame);
    void WriteSubtitle(TOutputStream& ost, const TInputStream& ist, int64_t pts,
                       const AVSubtitle& subtitle);

    int64_t VideoBytes() const { return videoBytes_; }
    int64_t AudioBytes() const { return audioBytes_; }
    int64_t HeaderBytes() const { return headerBytes_; }
    int64_t PacketsWritten() const { return packetsWritten_; }

private:
    void writeEncodedPacket(TOutputStream& ost, AVPacket* packet);
    void writePacket(TOutputStream& ost, AVPacket* packet);
    // The thread that runs the encoder of `ost`, or null when this thread
    // encodes it itself.
    EncoderThread* threadOf(const TOutputStream& ost) const;

    RunState& run_;
    std::vector<OutputFile>& files_;
    const OptionState& options_;
    int64_t videoBytes_ = 0;
    int64_t audioBytes_ = 0;
    int64_t headerBytes_ = 0;
    int64_t packetsWritten_ = 0;  // into any output file
    PacketPtr packet_;            // reused for encoding
    // Declared last, so the threads are joined before anything they use goes.
    std::vector<std::unique_ptr<EncoderThread>> threads_;
};

// What the video path keeps for one output stream.
struct VideoOutputState {
    bool Resample = false;
    bool Pad = false;
    int ScaledSourceHeight = 0;
    // The decoded picture geometry the path is prepared for.
    int SourceWidth = 0, SourceHeight = 0;
    int SourceFormat = -1;
    ScalerPtr Scaler;
    FramePtr Picture;  // scaled and/or padded picture in the encoder's format and size
};

// The picture pre-processing state of a run: frame hooks and deinterlacing.
struct HookState {
    bool active = false;                 // frame hook modules still process pictures
    bool customHookStopped = false;      // the custom hook asked to be left out
    THookAction action = haContinue;
    int frameCounter = 0;
    std::size_t lastRange = 0;           // index of the time range matched last
    std::vector<uint8_t> bitmapPixels;   // the custom hook's picture
    FramePtr colour;                     // the picture in the hook's pixel format
    ScalerPtr toColour, fromColour;
    FilterGraphPtr deinterlacer;
    AVFilterContext* deinterlaceSource = nullptr;  // owned by the graph
    AVFilterContext* deinterlaceSink = nullptr;
    int deinterlaceWidth = 0, deinterlaceHeight = 0, deinterlaceFormat = -1;
};

// The task's picture hooks, as the video path calls them.
struct VideoHooks {
    std::function<void(int64_t pts, THookAction& action)> before;
    std::function<void(THookBitmap& bitmap, int frameNumber, int64_t pts, bool& update,
                       bool& stopHook)>
        custom;
    const FrameHookChain& chain;
    // Time ranges (start, end in microseconds) that gate the chain, sorted by end.
    const std::vector<std::pair<int64_t, int64_t>>& ranges;
};

// Decoded pictures on their way to the encoders: hooks and deinterlacing,
// frame-rate copies, crop, scale and pad, and the video statistics file.
class VideoPath {
public:
    VideoPath(const OptionState& options, RunState& run, PacketWriter& writer, VideoHooks hooks,
              const std::atomic<bool>& stopRequested, const RunLog& log);
    // Prepares the crop, scale and pad step of output stream `outputIndex`
    // for decoded pictures of `width` x `height` in `format`. Throws
    // FFMpegException when the picture or the scaler cannot be made.
    void PrepareSource(int outputIndex, int width, int height, AVPixelFormat format);
    // Runs the hooks and the deinterlacer over a decoded picture of `ist`.
    void Preprocess(const TInputStream& ist, AVFrame* picture);
    // Sends a picture of `ist` to output stream `outputIndex` as often as the
    // frame rate asks; returns the bytes the last copy coded to.
    int Output(int outputIndex, const TInputStream& ist, const AVFrame* picture);

    int DuplicatedFrames() const { return duplicatedFrames_; }
    int DroppedFrames() const { return droppedFrames_; }

private:
    int64_t copiesOf(TOutputStream& ost);
    // Whether the stream's next frame starts at or after the recording time.
    bool pastRecordingTime(const TOutputStream& ost) const;
    const AVFrame* fitToEncoder(const TOutputStream& ost, VideoOutputState& video,
                                const AVFrame* source);
    bool deinterlace(AVFrame* picture);
    void gateHookModules(int64_t pts);
    void runCustomHook(AVFrame* picture, int64_t pts);
    AVFrame* hookColourPicture(AVFrame* picture, bool& stopHook);
    bool callCustomHook(AVFrame* colour, int64_t pts, bool& stopHook);
    void writeStatistics(const TOutputStream& ost, int frameSize);

    const OptionState& options_;
    RunState& run_;
    PacketWriter& writer_;
    VideoHooks hooks_;
    const std::atomic<bool>& stopRequested_;
    const RunLog& log_;
    HookState hookState_;
    std::vector<VideoOutputState> outputs_;  // one per output stream
    FilePtr statistics_;                     // "vstats"
    int duplicatedFrames_ = 0;
    int droppedFrames_ = 0;
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

// The format, channel count and rate of a block of decoded sound.
struct BlockShape {
    AVSampleFormat Format = AV_SAMPLE_FMT_NONE;
    int Channels = 0;
    int Rate = 0;
    bool operator==(const BlockShape&) const = default;
};

// Decoded sound of one input stream in the audio path's shape, decided at
// the first decoded block: interleaved 16-bit when the decoder gives 16-bit
// and every encoder it feeds takes 16-bit, 32-bit float otherwise, with the
// first block's channels and rate. Later blocks of another shape (a stream
// that changes mid-way) are converted to it.
struct InputSound {
    BlockShape Path;
    BlockShape ToPathFrom;  // the shape ToPath converts from
    ResamplerPtr ToPath;    // blocks of another format or shape to the path's
    std::vector<uint8_t> Samples;
};

// Decoded sound on its way to the encoders: volume, keeping step with the
// input clock, channel and rate conversion, encoder-sized frames.
class AudioPath {
public:
    AudioPath(const OptionState& options, RunState& run, PacketWriter& writer, const RunLog& log);
    // Takes a decoded block of input stream `inputIndex` in the path's
    // format, volume applied; returns its size in bytes.
    std::size_t TakeDecodedSound(int inputIndex, const AVFrame& frame);
    // Sends the `bytes` of sound its source took last to output stream `outputIndex`.
    void Output(int outputIndex, std::size_t bytes);
    // Encodes what the converter and the queue still hold, and drains the encoder.
    void Flush(int outputIndex);

private:
    void applyVolume(AVSampleFormat format, uint8_t* samples, std::size_t bytes) const;
    bool syncAudio(TOutputStream& ost, AudioOutputState& audio, TInputStream& ist,
                   const AudioShape& shape, const uint8_t*& data, std::size_t& size);
    bool discardAudio(TInputStream& ist, int64_t bytes, int64_t frameBytes, double delta,
                      const uint8_t*& data, std::size_t& size);
    void insertSilence(AudioOutputState& audio, TInputStream& ist, int64_t bytes,
                       int64_t frameBytes, double delta, const uint8_t*& data, std::size_t& size);
    void encodeBlock(TOutputStream& ost, AudioOutputState& audio, const uint8_t* data,
                     int samples);
    void encodeFrame(TOutputStream& ost, AudioOutputState& audio, const uint8_t* block, int count);

    const OptionState& options_;
    RunState& run_;
    PacketWriter& writer_;
    const RunLog& log_;
    std::vector<InputSound> inputs_;         // one per input stream
    std::vector<AudioOutputState> outputs_;  // one per output stream
};

// Input packets on their way to the outputs: the input stream's clock, rate
// emulation, the start time, stream copy, decoding; at the end of an input,
// draining its decoder and flushing the encoders it feeds.
class PacketDecoder {
public:
    PacketDecoder(const OptionState& options, RunState& run, PacketWriter& writer,
                  VideoPath& video, AudioPath& audio);
    // Passes a packet of input stream `inputIndex` on (null: its end);
    // negative when it could not be decoded.
    int ProcessPacket(int inputIndex, AVPacket* packet);
    // Passes a decoded frame of input stream `inputIndex` to the outputs it feeds.
    void OutputFrame(int inputIndex, AVFrame* frame);
    // Drains the encoders of the outputs fed by input stream `inputIndex`.
    void FlushEncoders(int inputIndex);

private:
    int decodePacket(int inputIndex, AVPacket* packet);

    const OptionState& options_;
    RunState& run_;
    PacketWriter& writer_;
    VideoPath& video_;
    AudioPath& audio_;
    FramePtr decoded_;                   // reused for decoding
    std::vector<int> framesFromPacket_;  // per input stream: frames the current packet gave
};

// What the packet loop reports through, besides the log.
struct LoopReports {
    std::function<void(const TProgressInfo& progress)> progress;  // empty: none
    int64_t intervalUs = 500000;
    int totalOutputDurationMs = -1;
};

// The loop that interleaves reading from the inputs, with the length limits
// and timestamp repair; the end of the run (flush, trailers, last report)
// and the progress reports.
class PacketLoop {
public:
    PacketLoop(const OptionState& options, std::vector<InputFile>& inputs,
               std::vector<OutputFile>& outputs, RunState& run, PacketDecoder& decoder,
               const PacketWriter& writer, const VideoPath& video, LoopReports reports,
               const std::atomic<bool>& stopRequested, const RunLog& log);
    // Reads and passes packets until the inputs end, a limit is reached or
    // a stop is requested.
    void Run();
    // Drains the decoders and encoders, writes the trailers and the last
    // report. Throws FFMpegException when a file could not be completed or
    // got nothing.
    void End();

private:
    bool passPacket(int fileIndex);
    bool passServedFrame(int fileIndex);
    void passInputPacket(int inputIndex, AVPacket* packet);
    void reportProgress(bool last);

    const OptionState& options_;
    std::vector<InputFile>& inputs_;
    std::vector<OutputFile>& outputs_;
    RunState& run_;
    PacketDecoder& decoder_;
    const PacketWriter& writer_;
    const VideoPath& video_;
    LoopReports reports_;
    const std::atomic<bool>& stopRequested_;
    const RunLog& log_;
    int64_t startTime_ = 0;                 // av_gettime when the loop was made
    std::array<int64_t, 52> qpHistogram_{};  // quantisers of the progress reports ("qphist")
    PacketPtr packet_;                      // reused for reading
    FramePtr frame_;                        // reused for served frames
    std::string shortInput_;  // why an input ended before the end it gave
};

// --- The run's set-up (stream_preparation.cpp) ------------------------------
// Both run on the task's thread, after MapStreams, and throw FFMpegException.

// Decides for every output stream whether it is copied or encoded, and
// prepares what that needs: a copy takes its source's parameters; sound to be
// encoded the rate its encoder takes; pictures to be encoded their size and
// format and the video path's crop, scale and pad step; two-pass encoding its
// statistics file. `customHook`: the task has a custom picture hook, which
// cannot see the pictures of a copied stream.
void PrepareOutputs(RunState& run, VideoPath& video, const std::vector<InputFile>& inputs,
                    const std::vector<OutputFile>& outputs, const OptionState& options,
                    bool customHook);

// Opens the encoders (with the private parameters each takes) and then the
// decoders the run needs; logs the outputs, the stream mapping and the named
// parameters that nothing took; copies the mapped metadata and writes the
// output files' headers.
void OpenCodecs(RunState& run, const std::vector<InputFile>& inputs,
                std::vector<OutputFile>& outputs, const OptionState& options,
                const ParameterDefaults& defaults, const RunLog& log);

}  // namespace clipmora
