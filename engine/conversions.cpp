// Strict number parsing with std::from_chars (locale-independent).
#include "engine/conversions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>

namespace clipmora {
namespace {

// How much of a text a number took.
enum class NumberRead { None, Leading, Whole };

// Reads the number that the trimmed `text` begins with into `value`
// (std::from_chars takes a "-" but not a "+"). None when it begins with no
// number or the number does not fit.
template <typename T, typename... Format>
NumberRead readNumber(const std::string& text, T& value, Format... format)
{
    const std::string trimmed = Trim(text);
    const char* first = trimmed.data();
    const char* last = first + trimmed.size();
    if (first != last && *first == '+')
        ++first;
    const auto [end, error] = std::from_chars(first, last, value, format...);
    if (error != std::errc())
        return NumberRead::None;
    return end == last ? NumberRead::Whole : NumberRead::Leading;
}

template <typename T>
T parseInteger(const std::string& text)
{
    T value{};
    if (readNumber(text, value, 10) != NumberRead::Whole)
        throw ConversionError("'" + text + "' is not a valid integer value");
    return value;
}

}  // namespace

std::string Trim(const std::string& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}

std::string LowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string LowerCaseExtension(const std::string& fileName)
{
    return LowerCase(std::filesystem::path(fileName).extension().string());
}

bool SameFile(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty())
        return false;
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error))
        return true;
    std::error_code errorA, errorB;
    const auto resolvedA = std::filesystem::weakly_canonical(a, errorA);
    const auto resolvedB = std::filesystem::weakly_canonical(b, errorB);
    return !errorA && !errorB && resolvedA == resolvedB;
}

int StrToInt(const std::string& text) { return parseInteger<int>(text); }

int64_t StrToInt64(const std::string& text) { return parseInteger<int64_t>(text); }

int LeadingInteger(const std::string& text, int fallback)
{
    int value = 0;
    return readNumber(text, value, 10) == NumberRead::None ? fallback : value;
}

double StrToFloat(const std::string& text)
{
    double value = 0.0;
    if (readNumber(text, value, std::chars_format::general) != NumberRead::Whole)
        throw ConversionError("'" + text + "' is not a valid floating point value");
    return value;
}

}  // namespace clipmora
