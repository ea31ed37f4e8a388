// The frame server for segment trim scripts.
//
// A split hands the engine a three-line script instead of the source file:
//
//   LoadPlugin("<program folder>DirectShowSource.dll")
//   DirectShowSource("<source>", fps=25, convertfps=true)   or  AviSource("<source>")
//   TRIM(first,last)
//
// When the engine or the probe opens such a script, this layer reads it and
// serves the segment through the filter library: the source at a constant
// 25 frames per second (AviSource: at the source's own rate), frames `first`
// to `last` inclusive (last 0: to the end), the sound cut to the same span,
// timestamps from 0. The filter graph is read by the device library's "lavfi"
// input format, so the engine sees one raw video stream and, when the source
// has sound, one PCM stream.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace clipmora::framesrv {

struct TrimScript {
    std::string source;       // the source file, exactly as written
    bool aviSource = false;   // AviSource: the source's own frame rate
    int64_t first = 0;
    int64_t last = 0;         // 0: to the end of the clip
};

// True for names that the frame server reads (extension ".avs", any case).
bool IsTrimScriptName(const std::string& fileName);

// Parses a script's text (CR LF or LF line ends): a LoadPlugin line (which
// needs no plug-in file and may be left out), the source line and the TRIM
// line, in that order. Returns false for anything else: a missing, repeated
// or misplaced line, an unknown command, bad numbers.
bool ParseTrimScript(const std::string& text, TrimScript& script);

// The source file that the trim script `fileName` reads; empty when the
// file is not a readable trim script.
std::string TrimScriptSource(const std::string& fileName);

// Quotes a text so that it reaches a filter as one option value, whatever
// characters it holds (both the option and the graph level).
std::string QuoteFilterValue(const std::string& value);

// Feeds a segment's sound into the graph while it is read (for sources
// whose sound the graph cannot decode itself); it must outlive the opened
// graph.
class SoundFeeder;

// Called on the thread that decodes a segment's sound for the graph, as it
// starts (for diagnostics and tests; assign it while no segment is served).
extern std::function<void()> OnSegmentSoundDecoding;

// What the engine opens in place of a script.
struct ServedSegment {
    std::string graph;          // filter graph description for the "lavfi" input
    int64_t durationUs = -1;    // length of the segment when known
    // A file the graph reads that is removed once the graph has it open.
    std::string temporaryFile;
    std::shared_ptr<SoundFeeder> soundFeeder;  // feeds temporaryFile, when set
    // Where the segment lies on the source's timeline, seconds from frame 0;
    // the end is negative when the source does not say where it ends.
    std::string source;
    double startSeconds = 0.0;
    double endSeconds = -1.0;
    bool endMarked = false;  // the end is a mark, not the source's own end
};

// Reads the script at `fileName` and describes its segment. Returns 0, or a
// negative library error code: AVERROR(ENOENT) and the like when the script
// or its source cannot be read, AVERROR_INVALIDDATA for a script that is not
// one. Needs bound codec libraries.
int ServeTrimScript(const std::string& fileName, ServedSegment& segment);

}  // namespace clipmora::framesrv
