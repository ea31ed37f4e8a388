// JSON strings, numbers, objects and arrays as text.
#include "cli/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace clipmora::cli {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
// Refuses overlong forms, surrogates and code points past U+10FFFF.
std::size_t utf8SequenceLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

std::string indent(int level) { return std::string(2 * static_cast<std::size_t>(level), ' '); }

// Items between `open` and `close`, one a line, indented one level deeper.
std::string enclose(const std::vector<std::string>& items, char open, char close, int level)
{
    if (items.empty())
        return {open, close};
    std::string text(1, open);
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i ? ",\n" : "\n") + indent(level + 1) + items[i];
    return text + "\n" + indent(level) + close;
}

}  // namespace

std::string JsonString(std::string_view text)
{
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = utf8SequenceLength(text.substr(i));
            json += length ? text.substr(i, length) : kReplacement;
            i += length ? length : 1;
            continue;
        }
        ++i;
        switch (c) {
        case '"':
            json += "\\\"";
            break;
        case '\\':
            json += "\\\\";
            break;
        case '\b':
            json += "\\b";
            break;
        case '\f':
            json += "\\f";
            break;
        case '\n':
            json += "\\n";
            break;
        case '\r':
            json += "\\r";
            break;
        case '\t':
            json += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                json += escaped;
            } else {
                json += static_cast<char>(c);
            }
        }
    }
    return json + "\"";
}

std::string JsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string JsonNumber(int64_t value) { return std::to_string(value); }

std::string JsonObject(const JsonMembers& members, int level)
{
    std::vector<std::string> items;
    items.reserve(members.size());
    for (const auto& [name, value] : members)
        items.push_back(JsonString(name) + ": " + value);
    return enclose(items, '{', '}', level);
}

std::string JsonArray(const std::vector<std::string>& values, int level)
{
    return enclose(values, '[', ']', level);
}

}  // namespace clipmora::cli
