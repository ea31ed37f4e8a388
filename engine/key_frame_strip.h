// TKeyFrameStrip: small pictures and the sound's loudness along a file, for
// the strip under the timeline. A worker thread opens the file on its own,
// finds for each slot the key frame at or before the slot's time (reading
// packets only), decodes that one picture, scales it to a small RGB picture
// and hands it on; then it decodes the sound across the slots' spans, in
// time order, and hands on each span's peak and the level of its loudest
// moment. Pictures come first, so the strip fills quickly.
//
// Threads: Start, Cancel and the destructor are called from one thread (the
// GUI thread); the events are raised on the worker thread, one at a time, and
// never after Cancel or the destructor has returned.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace clipmora {

// One slot of the strip, in milliseconds from the file's start (as the
// timeline counts them): the span [firstMs, endMs) it stands for and the time
// its picture is taken for.
struct StripSlot {
    int64_t firstMs = 0;
    int64_t endMs = 0;
    int64_t timeMs = 0;
    bool operator==(const StripSlot&) const = default;
};

struct StripRequest {
    std::string fileName;
    std::vector<StripSlot> slotList;  // in time order, spans not overlapping
    int pictureHeight = 36;        // pixels; the width follows the picture's aspect
};

struct StripPicture {
    int slot = 0;
    int64_t timeMs = 0;     // the slot's time
    int64_t keyTimeMs = 0;  // the time of the key frame shown
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes, rows without padding
};

// The sound of one slot's span; a span without sound has none.
struct StripLoudness {
    int slot = 0;
    int64_t firstMs = 0;  // the slot's span
    int64_t endMs = 0;
    float peak = 0.0f;  // the largest sample, full scale = 1
    float rms = 0.0f;   // the RMS level of the span's loudest moment
};

class TKeyFrameStrip {
public:
    TKeyFrameStrip() = default;
    ~TKeyFrameStrip() { Cancel(); }
    TKeyFrameStrip(const TKeyFrameStrip&) = delete;
    TKeyFrameStrip& operator=(const TKeyFrameStrip&) = delete;

    // Raised on the worker thread.
    std::function<void(const StripPicture&)> OnPicture;
    std::function<void(const StripLoudness&)> OnLoudness;
    // The build's end: `completed` is false when it was cancelled or the
    // file could not be read. Raised last, also after a failure.
    std::function<void(bool completed)> OnFinished;

    // Cancels a running build, then starts one for `request`. The codec
    // libraries must be bound.
    void Start(StripRequest request);
    // Stops a running build at its next packet and waits for its thread.
    void Cancel();

private:
    void build(const StripRequest& request);

    std::atomic<bool> stop_{false};  // read by the worker at every packet
    std::thread worker_;
};

}  // namespace clipmora
