// The lossless cut: copies the compressed audio and video streams of a
// segment into a new file of the source's own container type, without
// decoding anything.
//
// Pictures can only start at a key frame, so the output starts at the last
// key frame at or before the requested start; it ends before the requested
// end, and the sound is cut to the span of the pictures. Timestamps are moved
// so that the output starts at 0. Times count from what the source shows: a
// key frame the source hides (an edit list that starts past it) is copied for
// decoding and stays hidden, the output showing from the source's own start.
//
// Threads: a TStreamCut is opened on one thread and written on one thread at a
// time; TStreamCutTask runs the writing on a worker thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace clipmora {

struct StreamCutProgress {
    int64_t writtenMs = 0;  // of the segment, from its real start
    int64_t totalMs = -1;   // the segment's length; -1 when it is not known
    int64_t bytes = 0;      // of compressed data written so far
};

struct StreamCutResult {
    enum class End { Finished, Stopped, Failed };
    End end = End::Failed;
    std::string Error;           // why it failed
    double startSeconds = 0.0;   // where the output really starts on the source's timeline
    double requestedStart = 0.0; // the start that was asked for
    int64_t durationMs = 0;      // of the pictures written (of the sound when there are none)
    // An exact cut: the output holds exactly the pictures between the marks,
    // those next to the marks re-encoded (seconds of pictures at each end).
    bool exact = false;
    double reencodedStartSeconds = 0.0;
    double reencodedEndSeconds = 0.0;
    double reencodingSeconds = 0.0;  // wall time spent decoding and encoding them
    // Why an exact cut was asked for but the output starts at a key frame
    // instead; empty otherwise.
    std::string exactFallback;
};

struct StreamCutControl {
    const std::atomic<bool>* stop = nullptr;  // checked before every packet
    std::function<void(const StreamCutProgress&)> progress;
    int64_t progressIntervalMs = 250;         // of segment time between two reports
};

class TStreamCut {
public:
    TStreamCut();
    ~TStreamCut();
    TStreamCut(const TStreamCut&) = delete;
    TStreamCut& operator=(const TStreamCut&) = delete;

    // Opens `source` and checks that every audio and video stream of it can
    // be copied into a file of its type, chosen by its extension. False with
    // Error() set when it cannot; nothing is written then. Needs bound
    // libraries.
    bool Open(const std::string& source);
    const std::string& Error() const;

    // The source's extension with its dot, as the output should carry it.
    const std::string& Extension() const;

    // Exact (the default): the output holds exactly the pictures between the
    // marks; the few that cannot be copied without pictures outside them are
    // re-encoded, everything else is copied. Otherwise it starts at the key
    // frame at or before the start mark and nothing is re-encoded.
    void SetExact(bool exact);
    bool Exact() const;

    // Writes the segment from `startSeconds` to `endSeconds` (seconds on the
    // source's timeline, 0 at its start; `endSeconds` 0, or beyond the
    // source's end: to the end of the file) into `output`, which must not be
    // the source. Fails, writing nothing, for a segment StreamCutSpanError
    // refuses, one that starts at or after the source's end, and one of a
    // source with pictures that starts after its last picture. Fails, and
    // says where the source ended, when its data ends before the end mark
    // (without one, before the end the source gives, when it gives one that
    // is not a guess from its bit rate) by more than its longest packet.
    // Once stopped through `control`, the output gets its trailer and plays.
    // A failed output, and one stopped before its first packet, is removed
    // (never a file that was there before and was not written into). Call
    // once, after a successful Open.
    StreamCutResult Write(const std::string& output, double startSeconds, double endSeconds,
                          const StreamCutControl& control);

private:
    // The opened source and the writing, with the codec libraries' objects.
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// Why the marks `startSeconds` and `endSeconds` (0: to the end) cannot be
// cut: the end at or before the start (the same marks hold no segment);
// nothing when they can.
std::optional<std::string> StreamCutSpanError(double startSeconds, double endSeconds);

// Marks against a source that lasts `durationUs` microseconds (0 or less:
// not known, taken as a hundred years), compared in seconds so that no mark
// overflows. SegmentStartError says why a segment starting at `startSeconds`
// holds nothing (it starts at or after the end), nothing when it does not;
// EndsWithSource is true when an end mark at `endSeconds` lies at or past
// the source's end, so the segment runs to it.
std::optional<std::string> SegmentStartError(double startSeconds, int64_t durationUs);
bool EndsWithSource(double endSeconds, int64_t durationUs);

// Runs one TStreamCut::Write on a worker thread. The slots are called on that
// thread; the end slot exactly once, last.
class TStreamCutTask {
public:
    using ProgressSlot = std::function<void(const StreamCutProgress&)>;
    using EndSlot = std::function<void(const StreamCutResult&)>;

    TStreamCutTask(std::unique_ptr<TStreamCut> cut, std::string output, double startSeconds,
                   double endSeconds, ProgressSlot progress, EndSlot end);
    // Stops the cut and joins its thread.
    ~TStreamCutTask();
    TStreamCutTask(const TStreamCutTask&) = delete;
    TStreamCutTask& operator=(const TStreamCutTask&) = delete;

    // Asks the cut to stop at its next packet. Any thread.
    void RequestStop() { stop_.store(true); }
    // Waits for the cut's end (not from its own slots).
    void Wait();

private:
    std::unique_ptr<TStreamCut> cut_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace clipmora
