// Strict text-to-number conversions for option values. Malformed text raises
// ConversionError, so a typo in an option never becomes a silent zero.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace clipmora {

class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A decimal integer with an optional sign, surrounded by nothing but blanks.
// Throws ConversionError("'x' is not a valid integer value") otherwise, also
// when the value does not fit.
int StrToInt(const std::string& text);
int64_t StrToInt64(const std::string& text);

// The whole number that `text` begins with (after blanks, with an optional
// sign), as in "2009" or "3/12"; `fallback` when it begins with none or the
// number does not fit.
int LeadingInteger(const std::string& text, int fallback);

// A decimal number with "." as the decimal separator and an optional
// exponent. Throws ConversionError("'x' is not a valid floating point value").
double StrToFloat(const std::string& text);

// Trims blanks and control characters from both ends.
std::string Trim(const std::string& text);

// The text with ASCII letters in lower case.
std::string LowerCase(std::string_view text);

// A file name's extension with its dot, in lower case (".avi"); empty when
// the name has none.
std::string LowerCaseExtension(const std::string& fileName);

// True when both names lead to the same file: the same device and inode
// (symbolic and hard links, "./a" and "a"), or, for names that do not exist
// yet, the same resolved path.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace clipmora
