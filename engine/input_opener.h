// Opening an input file. The engine's input opening and the probe open every
// file through the process-wide opener installed here, so a layer in front of
// the engine (the trim-script frame server) can serve files the container
// library cannot read itself, without the engine knowing that layer.
//
// Threads: an opener is installed before any task exists (normally while the
// program's static objects are built) and read from any thread afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVInputFormat;
struct AVDictionary;

namespace clipmora {

// What an opener hands back besides the format context.
struct OpenedInput {
    // The length of a served segment, microseconds; -1 for ordinary files or
    // when unknown. The caller sets it once the streams are analysed.
    int64_t segmentDurationUs = -1;
    // What feeds the opened context, if anything: the caller keeps it while
    // the context is open and releases it only after the context is closed.
    std::shared_ptr<void> keepAlive;
};

class InputOpener {
public:
    virtual ~InputOpener() = default;
    // Opens `fileName` like avformat_open_input (`context` is allocated or
    // null, and freed on failure). Returns 0 or a negative library error code.
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
