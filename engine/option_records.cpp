// The component's option records applied to a task: the extra option lines,
// the output record's fields (bound to their rows of the option table) and
// the target; and the texts the fields give.
#include "engine/option_records.h"

#include "engine/conversions.h"
#include "engine/ffmpeg.h"
#include "engine/record_fields.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <type_traits>

namespace clipmora {
namespace {

// "name=value" lines, applied in order. Names and values are taken as written.
void applyExtraOptions(TCustomFFmpeg& task, const std::string& extra)
{
    std::string text = Trim(extra);
    std::string normalized;
    normalized.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            normalized += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            normalized += text[i];
        }
    }
    std::size_t start = 0;
    while (start <= normalized.size() && !normalized.empty()) {
        std::size_t end = normalized.find('\n', start);
        if (end == std::string::npos)
            end = normalized.size();
        const std::string piece = normalized.substr(start, end - start);
        if (!piece.empty()) {
            const std::size_t equals = piece.find('=');
            if (equals == std::string::npos)
                task.ParseOption(piece, "");
            else
                task.ParseOption(piece.substr(0, equals), piece.substr(equals + 1));
        }
        start = end + 1;
    }
}

const char* targetName(int type)
{
    switch (type) {
    case 1:
        return "vcd";
    case 2:
        return "svcd";
    case 3:
        return "dvd";
    default:
        return nullptr;
    }
}

}  // namespace

namespace record_fields {

std::string decimalText(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// A colour's RGB part; the flag byte above it (system colours elsewhere) has
// no meaning here.
std::string padColorText(const TOutputOptions& o) { return std::to_string(o.PadColor & 0xFFFFFFu); }

// Milliseconds as the seconds text that the duration options ("t", "ss") read.
std::string secondsText(int milliseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%03d", milliseconds / 1000, milliseconds % 1000);
    return text;
}

std::string durationText(const TOutputOptions& o) { return secondsText(o.DurationMs); }

// The last day a date-time value may name: 9999-12-31.
constexpr double kLastTimestampDay = 2958465.0;

bool timestampApplies(const TOutputOptions& o)
{
    return o.Timestamp >= 0.0 && o.Timestamp <= kLastTimestampDay;
}

// Days since 1899-12-30 on the local clock (0: now) as the UTC date the
// "timestamp" option reads. The local wall-clock moment goes through mktime,
// so the zone offset in force on that day (daylight saving included) applies.
std::string timestampText(const TOutputOptions& o)
{
    std::time_t utc = 0;
    if (o.Timestamp == 0.0) {
        utc = std::time(nullptr);
    } else {
        const auto wallClock =
            static_cast<std::time_t>(std::llround((o.Timestamp - 25569.0) * 86400.0));
        std::tm fields{};
        gmtime_r(&wallClock, &fields);
        fields.tm_isdst = -1;
        utc = std::mktime(&fields);
    }
    std::tm fields{};
    gmtime_r(&utc, &fields);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02dZ", fields.tm_year + 1900,
                  fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
    return text;
}

}  // namespace record_fields

void ApplyInputRecord(TCustomFFmpeg& task, const TInputOptions& options)
{
    applyExtraOptions(task, options.ExtraOptions);
    task.SetInputFormat(options.ForcedFormat);
    if (options.StartTimeMs > 0)
        task.ParseOption("ss", record_fields::secondsText(options.StartTimeMs));
    if (options.ProgramId >= 0)
        task.ParseOption("programid", std::to_string(options.ProgramId));
}

void ApplyOutputRecord(TCustomFFmpeg& task, const TOutputOptions& options)
{
    applyExtraOptions(task, options.ExtraOptions);
    task.ApplyRecordFields(options);
    if (const char* target = targetName(options.TargetType)) {
        const char* norm = options.TargetNorm == 1   ? "pal"
                           : options.TargetNorm == 2 ? "ntsc"
                                                     : "auto";
        task.ApplyTarget(target, norm, options.TargetFrameNorm == 1 ? "pal" : "ntsc");
    }
}

bool StoreInOutputRecord(TOutputOptions& record, const std::string& name,
                         const std::string& value)
{
    return TCustomFFmpeg::StoreRecordField(record, name, value);
}

bool OptionTakesValue(const std::string& name) { return TCustomFFmpeg::OptionTakesValue(name); }

}  // namespace clipmora
