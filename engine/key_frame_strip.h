// TKeyFrameStrip: small pictures and the sound's loudness along a file, for
// the strip under the timeline. A worker thread opens the file on its own,
// seeks to each requested time, decodes only the key frame at or before it
// (no other picture is decoded), scales it to a small RGB picture and hands
// it on; then it decodes a short window of sound at each time and hands on
// its peak and RMS level. Pictures come first, so the strip fills quickly.
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

struct StripRequest {
    std::string fileName;
    // The times of the slots, milliseconds from the file's start (as the
    // timeline counts them).
    std::vector<int64_t> timesMs;
    int pictureHeight = 36;  // pixels; the width follows the picture's aspect
    int loudnessWindowMs = 200;
};

struct StripPicture {
    int slot = 0;
    int64_t timeMs = 0;     // the slot's time
    int64_t keyTimeMs = 0;  // the time of the key frame shown
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes, rows without padding
};

struct StripLoudness {
    int slot = 0;
    int64_t timeMs = 0;
    float peak = 0.0f;  // full scale = 1
    float rms = 0.0f;
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
