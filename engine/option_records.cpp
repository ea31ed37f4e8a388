// The rows that carry the component's option records to a task's options.
#include "engine/option_records.h"

#include "engine/conversions.h"

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

std::string decimalText(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

template <auto Field>
bool positive(const TOutputOptions& o)
{
    return o.*Field > 0;
}

template <auto Field>
bool nonNegative(const TOutputOptions& o)
{
    return o.*Field >= 0;
}

template <auto Field>
bool notEmpty(const TOutputOptions& o)
{
    return !(o.*Field).empty();
}

template <auto Field>
bool flagSet(const TOutputOptions& o)
{
    return o.*Field;
}

bool always(const TOutputOptions&) { return true; }

template <auto Field>
std::string fieldText(const TOutputOptions& o)
{
    const auto& value = o.*Field;
    using T = std::decay_t<decltype(value)>;
    if constexpr (std::is_same_v<T, std::string>)
        return value;
    else if constexpr (std::is_same_v<T, bool>)
        return {};
    else if constexpr (std::is_floating_point_v<T>)
        return decimalText(value);
    else
        return std::to_string(value);
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

enum class Apply {
    Option,        // through the option parser
    OutputFormat,  // through the output-format setter
    Generic,       // straight to the named parameters
    Year,          // option state fields without an option of their own
    Track,
};

// Reads an option's text into a record field (StrToInt for numbers).
template <auto Field>
void storeField(TOutputOptions& o, const std::string& text)
{
    auto& field = o.*Field;
    if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::string>)
        field = text;
    else
        field = static_cast<std::decay_t<decltype(field)>>(StrToInt(text));
}

struct OutputRow {
    Apply how;
    const char* name;
    bool (*applies)(const TOutputOptions&);
    std::string (*value)(const TOutputOptions&);
    // For the fields applied whatever the extra options said: how a caller
    // that has the option as text stores it in the field instead.
    void (*store)(TOutputOptions&, const std::string&) = nullptr;
};

using O = TOutputOptions;

// The output record's fields in the order they are applied, each with its
// condition and the option it drives. Fields whose condition fails leave the
// engine's default.
const OutputRow kOutputRows[] = {
    {Apply::OutputFormat, "f", notEmpty<&O::Format>, fieldText<&O::Format>},
    {Apply::Option, "packetsize", positive<&O::PacketSize>, fieldText<&O::PacketSize>},
    {Apply::Option, "muxrate", positive<&O::MuxRate>, fieldText<&O::MuxRate>},
    {Apply::Option, "muxdelay", positive<&O::MuxDelay>, fieldText<&O::MuxDelay>},
    {Apply::Option, "muxpreload", positive<&O::MuxPreload>, fieldText<&O::MuxPreload>},
    {Apply::Option, "acodec", notEmpty<&O::AudioCodec>, fieldText<&O::AudioCodec>},
    {Apply::Option, "an", flagSet<&O::DisableAudio>, fieldText<&O::DisableAudio>},
    {Apply::Option, "vol", nonNegative<&O::Volume>, fieldText<&O::Volume>},
    {Apply::Option, "ac", positive<&O::AudioChannels>, fieldText<&O::AudioChannels>},
    {Apply::Option, "ar", positive<&O::AudioSampleRate>, fieldText<&O::AudioSampleRate>},
    {Apply::Option, "ab", positive<&O::AudioBitrate>, fieldText<&O::AudioBitrate>},
    {Apply::Option, "abt", positive<&O::AudioBitrateTolerance>,
     fieldText<&O::AudioBitrateTolerance>},
    {Apply::Option, "alang", always, fieldText<&O::AudioLanguage>, storeField<&O::AudioLanguage>},
    {Apply::Option, "async", always, fieldText<&O::AudioSync>, storeField<&O::AudioSync>},
    {Apply::Option, "atag", notEmpty<&O::AudioTag>, fieldText<&O::AudioTag>},
    {Apply::Option, "vcodec", notEmpty<&O::VideoCodec>, fieldText<&O::VideoCodec>},
    {Apply::Option, "vn", flagSet<&O::DisableVideo>, fieldText<&O::DisableVideo>},
    {Apply::Option, "r", notEmpty<&O::FrameRate>, fieldText<&O::FrameRate>},
    {Apply::Option, "s", notEmpty<&O::FrameSize>, fieldText<&O::FrameSize>},
    {Apply::Option, "aspect", notEmpty<&O::Aspect>, fieldText<&O::Aspect>},
    {Apply::Option, "croptop", nonNegative<&O::CropTop>, fieldText<&O::CropTop>},
    {Apply::Option, "cropbottom", nonNegative<&O::CropBottom>, fieldText<&O::CropBottom>},
    {Apply::Option, "cropleft", nonNegative<&O::CropLeft>, fieldText<&O::CropLeft>},
    {Apply::Option, "cropright", nonNegative<&O::CropRight>, fieldText<&O::CropRight>},
    {Apply::Option, "padtop", nonNegative<&O::PadTop>, fieldText<&O::PadTop>},
    {Apply::Option, "padbottom", nonNegative<&O::PadBottom>, fieldText<&O::PadBottom>},
    {Apply::Option, "padleft", nonNegative<&O::PadLeft>, fieldText<&O::PadLeft>},
    {Apply::Option, "padright", nonNegative<&O::PadRight>, fieldText<&O::PadRight>},
    {Apply::Option, "padcolor", always, padColorText, storeField<&O::PadColor>},
    {Apply::Option, "gop", positive<&O::GopSize>, fieldText<&O::GopSize>},
    // Bits per second, as given: no warning about values that look like kbit/s.
    {Apply::Generic, "vb", positive<&O::VideoBitrate>, fieldText<&O::VideoBitrate>},
    {Apply::Option, "maxrate", positive<&O::MaxRate>, fieldText<&O::MaxRate>},
    {Apply::Option, "minrate", positive<&O::MinRate>, fieldText<&O::MinRate>},
    {Apply::Option, "bt", positive<&O::VideoBitrateTolerance>,
     fieldText<&O::VideoBitrateTolerance>},
    {Apply::Option, "bufsize", positive<&O::BufferSize>, fieldText<&O::BufferSize>},
    {Apply::Option, "vsync", always, fieldText<&O::VideoSync>, storeField<&O::VideoSync>},
    {Apply::Option, "vtag", notEmpty<&O::VideoTag>, fieldText<&O::VideoTag>},
    {Apply::Option, "sn", flagSet<&O::DisableSubtitle>, fieldText<&O::DisableSubtitle>},
    {Apply::Option, "slang", always, fieldText<&O::SubtitleLanguage>,
     storeField<&O::SubtitleLanguage>},
    // A flag option can only switch copying on, so false keeps the default.
    {Apply::Option, "copyts", flagSet<&O::CopyTimestamps>, fieldText<&O::CopyTimestamps>},
    {Apply::Option, "t", positive<&O::DurationMs>, durationText},
    {Apply::Option, "timestamp", timestampApplies, timestampText},
    {Apply::Year, "year", positive<&O::Year>, fieldText<&O::Year>},
    {Apply::Track, "track", positive<&O::Track>, fieldText<&O::Track>},
    {Apply::Option, "title", notEmpty<&O::Title>, fieldText<&O::Title>},
    {Apply::Option, "author", notEmpty<&O::Author>, fieldText<&O::Author>},
    {Apply::Option, "copyright", notEmpty<&O::Copyright>, fieldText<&O::Copyright>},
    {Apply::Option, "comment", notEmpty<&O::Comment>, fieldText<&O::Comment>},
    {Apply::Option, "album", notEmpty<&O::Album>, fieldText<&O::Album>},
    {Apply::Option, "genre", notEmpty<&O::Genre>, fieldText<&O::Genre>},
};

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

void ApplyInputRecord(TCustomFFmpeg& task, const TInputOptions& options)
{
    applyExtraOptions(task, options.ExtraOptions);
    task.SetInputFormat(options.ForcedFormat);
    if (options.StartTimeMs > 0)
        task.ParseOption("ss", secondsText(options.StartTimeMs));
    if (options.ProgramId >= 0)
        task.ParseOption("programid", std::to_string(options.ProgramId));
}

void ApplyOutputRecord(TCustomFFmpeg& task, const TOutputOptions& options)
{
    applyExtraOptions(task, options.ExtraOptions);
    for (const OutputRow& row : kOutputRows) {
        if (!row.applies(options))
            continue;
        const std::string value = row.value(options);
        switch (row.how) {
        case Apply::Option:
            task.ParseOption(row.name, value);
            break;
        case Apply::OutputFormat:
            task.SetOutputFormat(value);
            break;
        case Apply::Generic:
            task.SetGenericParameter(row.name, value);
            break;
        case Apply::Year:
            task.Options().year = StrToInt(value);
            break;
        case Apply::Track:
            task.Options().track = StrToInt(value);
            break;
        }
    }
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
    for (const OutputRow& row : kOutputRows) {
        if (row.store && name == row.name) {
            row.store(record, value);
            return true;
        }
    }
    return false;
}

}  // namespace clipmora
