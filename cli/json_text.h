// JSON text for the command line's machine-readable output: strings quoted
// and escaped, numbers in a form JSON can hold, and objects and arrays of
// members that are JSON text already.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace clipmora::cli {

// `text` as a JSON string: quotes, backslashes and control characters
// escaped, other characters kept as they are (UTF-8). Bytes that are not
// UTF-8 (a file name on Linux may hold any bytes) become U+FFFD, so the
// result is always valid JSON.
std::string JsonString(std::string_view text);

// The shortest form that reads back as `value`; "null" for NaN and the
// infinities, which JSON cannot hold.
std::string JsonNumber(double value);
std::string JsonNumber(int64_t value);

// Members in the order given; each value is JSON text already. Nested
// objects and arrays are indented by two blanks per level.
using JsonMembers = std::vector<std::pair<std::string, std::string>>;
std::string JsonObject(const JsonMembers& members, int level = 0);
std::string JsonArray(const std::vector<std::string>& values, int level = 0);

}  // namespace clipmora::cli
