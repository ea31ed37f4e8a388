// The hook's segment list: "first-last" millisecond ranges, comma separated.
#include "engine/transcoder_tasks.h"

#include "engine/conversions.h"

#include <algorithm>
#include <climits>

namespace clipmora {
namespace {

// A 64-bit integer, or -1 for text that is not one (or whose microseconds
// would not fit).
int64_t segmentMilliseconds(const std::string& text)
{
    try {
        const int64_t value = StrToInt64(text);
        if (value > INT64_MAX / 1000 || value < INT64_MIN / 1000)
            return -1;
        return value;
    } catch (const ConversionError&) {
        return -1;
    }
}

}  // namespace

std::vector<std::pair<int64_t, int64_t>> ParseSegmentList(const std::string& text)
{
    std::vector<std::pair<int64_t, int64_t>> ranges;
    const std::string list = Trim(text);
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::size_t length = comma == std::string::npos ? std::string::npos : comma - start;
        const std::string piece = Trim(list.substr(start, length));
        const std::size_t dash = piece.find('-');
        const int64_t first = segmentMilliseconds(Trim(piece.substr(0, dash)));
        const int64_t last =
            dash == std::string::npos ? -1 : segmentMilliseconds(piece.substr(dash + 1));
        if (first <= last && last >= 0)
            ranges.emplace_back(first * 1000, last * 1000);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    return ranges;
}

}  // namespace clipmora
