// Frame numbers of marks, rate and duration texts.
#include "job/segment_marks.h"

#include "engine/conversions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>
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

// A part of a colon form: digits, and (`last`) an optional fraction.
std::optional<double> readTimePart(std::string_view part, bool last)
{
    const std::size_t point = part.find('.');
    const std::string_view whole = part.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : part.substr(point + 1);
    const auto digitsOnly = [](std::string_view digits) {
        return std::all_of(digits.begin(), digits.end(),
                           [](unsigned char c) { return std::isdigit(c) != 0; });
    };
    if (whole.empty() || !digitsOnly(whole) || !digitsOnly(fraction) ||
        (point != std::string_view::npos && (!last || fraction.empty())))
        return std::nullopt;
    double value = 0;
    std::from_chars(part.data(), part.data() + part.size(), value, std::chars_format::fixed);
    return value;
}

std::optional<double> readColonTime(std::string_view text)
{
    double seconds = 0;
    int parts = 0;
    while (true) {
        const std::size_t colon = text.find(':');
        const bool last = colon == std::string_view::npos;
        const std::string_view part = text.substr(0, colon);
        const std::optional<double> value = readTimePart(part, last);
        // Minutes and seconds after a larger part are two digits under 60.
        if (!value || (parts > 0 && (part.substr(0, part.find('.')).size() != 2 || *value >= 60)))
            return std::nullopt;
        seconds = seconds * 60 + *value;
        if (++parts > 3)
            return std::nullopt;
        if (last)
            return parts >= 2 ? std::optional<double>(seconds) : std::nullopt;
        text.remove_prefix(colon + 1);
    }
}

}  // namespace

std::optional<double> ParseMarkTime(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    const std::string_view trimmed =
        std::string_view(text).substr(first, text.find_last_not_of(" \t") - first + 1);
    if (trimmed.find(':') != std::string_view::npos)
        return readColonTime(trimmed);
    double seconds = 0;
    const auto [end, error] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(),
                                              seconds, std::chars_format::general);
    if (error != std::errc() || end != trimmed.data() + trimmed.size() || !std::isfinite(seconds) ||
        seconds < 0)
        return std::nullopt;
    return seconds;
}

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
