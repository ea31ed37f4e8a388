// Frame numbers of marks, rate and duration texts.
#include "job/segment_marks.h"

#include "engine/conversions.h"

#include <algorithm>
#include <cctype>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace clipmora {
namespace {

// Round half to even, in extended precision.
long double roundHalfEven(long double value)
{
    return std::nearbyintl(value);  // the default rounding mode is to nearest, ties to even
}

bool isAviFile(const std::string& fileName) { return LowerCaseExtension(fileName) == ".avi"; }

}  // namespace

double MarkFrameNumber(int64_t positionMs, const std::string& sourceFrameRate,
                       const std::string& fileName)
{
    char* end = nullptr;
    const long double rate = std::strtold(sourceFrameRate.c_str(), &end);
    // A file without pictures is served at 25 frames per second as well, so
    // its marks count those frames.
    if (end == sourceFrameRate.c_str() || !(rate > 0))
        return static_cast<double>(roundHalfEven(25.0L * positionMs / 1000));
    const long double native = roundHalfEven(rate * (static_cast<long double>(positionMs) / 1000));
    if (isAviFile(fileName))
        return static_cast<double>(native);
    return static_cast<double>(roundHalfEven(25.0L / rate * native));
}

double MarkSeconds(double frameNumber, const std::string& sourceFrameRate,
                   const std::string& fileName)
{
    char* end = nullptr;
    const double rate = std::strtod(sourceFrameRate.c_str(), &end);
    if (end != sourceFrameRate.c_str() && rate > 0 && isAviFile(fileName))
        return frameNumber / rate;
    return frameNumber / 25.0;
}

std::string SourceFrameRateText(int numerator, int denominator, bool hasVideo)
{
    if (!hasVideo || denominator == 0)
        return "0";
    const double rate = std::round(static_cast<double>(numerator) / denominator * 100.0) / 100.0;
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", rate);
    return text;
}

std::string ShortestNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

std::string FormatDuration(double seconds, const std::string& separator)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e12)
        return "Unknown";
    const long long minutes = static_cast<long long>(seconds / 60);
    const long long rest = std::llround(seconds - static_cast<double>(minutes) * 60);
    char text[96];
    std::snprintf(text, sizeof text, "%02lld%s%02lld%s%02lld", minutes / 60, separator.c_str(),
                  minutes % 60, separator.c_str(), rest);
    return text;
}

}  // namespace clipmora
