// How long a running conversion still needs, estimated from its progress
// reports, and how fast it goes as a multiple of real time. Shared by the
// window's status bar and the command line; no Qt.
//
// The estimate uses the speed over the last few seconds of reports, so it
// follows a run that speeds up or slows down; it is withheld until the run
// has reported for a while (the first reports of an encoder are not typical
// of the rest).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace clipmora {

class TimeLeftEstimator {
public:
    using Clock = std::chrono::steady_clock;

    // Forgets every report; the next one starts a new run.
    void Reset();

    // One progress report at `now`: `doneMs` of `totalMs` milliseconds of
    // output written. A total of 0 or less means the length is unknown.
    // Reports must come in time order; one thread at a time.
    void Report(Clock::time_point now, int64_t doneMs, int64_t totalMs);

    // True once enough of the run has been seen to estimate.
    bool Steady() const;

    // Milliseconds of output per millisecond of wall time over the recent
    // reports; empty until steady.
    std::optional<double> Speed() const;

    // Seconds still needed: never negative, 0 only when the output has
    // reached its total. Empty until steady, when the total is unknown, and
    // while the run makes no progress.
    std::optional<double> SecondsLeft() const;

    // "about 1 min 20 s left, 2.5x real time"; only the speed when the time
    // left is unknown; empty until steady.
    std::string Summary() const;

private:
    struct Sample {
        Clock::time_point at;
        int64_t doneMs;
    };
    std::deque<Sample> recent_;  // reports of the last kWindow, plus one older
    std::optional<Clock::time_point> firstReport_;
    int reports_ = 0;
    int64_t totalMs_ = 0;
};

// "about 45 s left", "about 1 min 20 s left", "about 2 h 5 min left";
// "almost done" for 0. Whole seconds are rounded up, so work that remains
// never reads as 0 s.
std::string TimeLeftText(double seconds);

// "0.45x", "2.5x", "12x".
std::string SpeedText(double speed);

}  // namespace clipmora
