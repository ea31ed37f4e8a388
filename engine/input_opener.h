// Opening an input file. The engine's input opening and the probe open every
// file through the process-wide opener installed here, so a layer in front of
// the engine (the trim-script frame server) can serve files the container
// library cannot read itself, without the engine knowing that layer.
//
// Threads: an opener is installed before any task exists (each program does it
// first thing in main()) and read from any thread afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVInputFormat;
struct AVDictionary;
struct AVFrame;

namespace clipmora {

// Hands an input's decoded frames to the engine directly, in place of the
// packets of its format context. Inputs that a filter graph makes are read
// this way: as packets, every picture would be copied once more into the
// packet and reach the encoder unaligned, so that it copies it again.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // The next frame of whichever stream is furthest behind, with the index
    // of its stream in the opened format context and its timestamp in that
    // stream's time base. Returns 0, AVERROR_EOF once every stream has
    // ended, or another negative library error code.
    virtual int Read(AVFrame* frame, int& streamIndex) = 0;
    // Why the frames ended before the end their source gave (a source that
    // is shorter than it says, or was cut short while it was read); empty
    // when they did not. Asked once Read gave AVERROR_EOF.
    virtual std::string EndError() const { return {}; }
};

// What an opener hands back besides the format context.
struct OpenedInput {
    // Set by the caller before opening: it reads `frames` when the opener
    // offers them (the engine does; the probe only reads the context).
    bool framesWelcome = false;
    // The length of a served segment, microseconds; -1 for ordinary files or
    // when unknown. The caller sets it once the streams are analysed.
    int64_t segmentDurationUs = -1;
    // What feeds the opened context, if anything: the caller keeps it while
    // the context is open and releases it only after the context is closed.
    std::shared_ptr<void> keepAlive;
    // When set, the input's frames come from here, and the context only
    // describes its streams: its packets are stand-ins, never to be read.
    std::shared_ptr<FrameSource> frames;

    // Clears what an opener fills in, keeping the caller's request.
    void ClearOutputs()
    {
        segmentDurationUs = -1;
        keepAlive.reset();
        frames.reset();
    }
};

class InputOpener {
public:
    virtual ~InputOpener() = default;
    // Opens `fileName` like avformat_open_input (`context` is allocated or
    // null, and freed on failure) and fills the outputs of `opened`. Returns
    // 0 or a negative library error code.
    virtual int Open(AVFormatContext** context, const std::string& fileName,
                     const AVInputFormat* format, AVDictionary** options,
                     OpenedInput& opened) const = 0;
    // The file that `fileName` reads in its place; empty when it reads itself.
    virtual std::string SourceOf(const std::string& fileName) const = 0;
};

// Installs the process-wide opener; null restores the container library's own
// opening. The opener must outlive every task.
void InstallInputOpener(const InputOpener* opener);

// Open and SourceOf of the installed opener.
int OpenInputFile(AVFormatContext** context, const std::string& fileName,
                  const AVInputFormat* format, AVDictionary** options, OpenedInput& opened);
std::string InputSourceOf(const std::string& fileName);

}  // namespace clipmora
