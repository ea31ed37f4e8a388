// The time-left estimate of a running conversion.
#include "job/time_left.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace clipmora {
namespace {

// The speed is measured over this much of the recent run.
constexpr auto kWindow = std::chrono::seconds(10);
// Nothing is estimated before the run has reported this long, this often.
constexpr auto kWarmUp = std::chrono::seconds(3);
constexpr int kWarmUpReports = 3;

// "about 1 min 20 s left"; the smaller unit is left out when it is 0.
std::string aboutLeft(long long larger, const char* largerUnit, long long smaller,
                      const char* smallerUnit)
{
    std::string text = "about ";
    text.append(std::to_string(larger)).append(" ").append(largerUnit);
    if (smaller != 0)
        text.append(" ").append(std::to_string(smaller)).append(" ").append(smallerUnit);
    return text.append(" left");
}

}  // namespace

void TimeLeftEstimator::Reset()
{
    recent_.clear();
    firstReport_.reset();
    reports_ = 0;
    totalMs_ = 0;
}

void TimeLeftEstimator::Report(Clock::time_point now, int64_t doneMs, int64_t totalMs)
{
    if (!firstReport_)
        firstReport_ = now;
    ++reports_;
    totalMs_ = totalMs;
    recent_.push_back({now, doneMs});
    // Keep the newest report that is at least a window old, so the speed
    // always spans a full window once the run is that long.
    while (recent_.size() > 2 && recent_[1].at <= now - kWindow)
        recent_.pop_front();
}

bool TimeLeftEstimator::Steady() const
{
    return firstReport_ && reports_ >= kWarmUpReports &&
           recent_.back().at - *firstReport_ >= kWarmUp;
}

std::optional<double> TimeLeftEstimator::Speed() const
{
    if (!Steady())
        return std::nullopt;
    const Sample& oldest = recent_.front();
    const Sample& newest = recent_.back();
    const double wallMs =
        std::chrono::duration<double, std::milli>(newest.at - oldest.at).count();
    if (wallMs <= 0.0)
        return std::nullopt;
    // Output written never shrinks; a report that reads less is noise.
    return static_cast<double>(std::max<int64_t>(newest.doneMs - oldest.doneMs, 0)) / wallMs;
}

std::optional<double> TimeLeftEstimator::SecondsLeft() const
{
    if (!Steady() || totalMs_ <= 0)
        return std::nullopt;
    const int64_t remainingMs = totalMs_ - recent_.back().doneMs;
    if (remainingMs <= 0)
        return 0.0;
    const std::optional<double> speed = Speed();
    if (!speed || *speed <= 0.0)
        return std::nullopt;
    return static_cast<double>(remainingMs) / *speed / 1000.0;
}

std::string TimeLeftEstimator::Summary() const
{
    const std::optional<double> speed = Speed();
    if (!speed)
        return {};
    const std::string pace = SpeedText(*speed) + " real time";
    const std::optional<double> left = SecondsLeft();
    return left ? TimeLeftText(*left) + ", " + pace : pace;
}

std::string TimeLeftText(double seconds)
{
    if (!(seconds > 0.0))
        return "almost done";
    const auto whole = static_cast<long long>(std::ceil(std::min(seconds, 1e9)));
    if (whole < 60)
        return aboutLeft(whole, "s", 0, "");
    // Longer waits in coarser steps, always rounded up.
    const long long tens = (whole + 9) / 10 * 10;
    if (tens < 3600)
        return aboutLeft(tens / 60, "min", tens % 60, "s");
    const long long minutes = (whole + 59) / 60;
    return aboutLeft(minutes / 60, "h", minutes % 60, "min");
}

std::string SpeedText(double speed)
{
    char text[32];
    const double shown = std::max(speed, 0.0);
    std::snprintf(text, sizeof text, shown < 1.0 ? "%.2fx" : shown < 10.0 ? "%.1fx" : "%.0fx",
                  shown);
    return text;
}

}  // namespace clipmora
