// The option vocabulary of a conversion task. Every option is one row of
// kOptionTable: its name, how its value text is read, the handler that
// validates and stores it, and the field of the component's output record
// that drives it, if any. ParseOption walks the rows in order; names that no
// row knows go to the codec, format and scaler libraries as named parameters
// (generic_parameters.cpp).
#include "engine/conversions.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"
#include "engine/record_fields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <type_traits>

namespace clipmora {
namespace {

// Reads a C-style integer (decimal, 0x hex or 0 octal) at `p` and moves `p`
// behind it; no digits read as 0. Values beyond int are clamped so that later
// range checks reject them instead of seeing a wrapped number.
int leadingInteger(const char*& p)
{
    char* end = nullptr;
    const long value = std::strtol(p, &end, 0);
    p = end;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// Reads a decimal number at `p` whatever the process locale says about the
// decimal separator; no number reads as 0.
double leadingDecimal(const char* p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '+')
        ++p;
    double value = 0.0;
    std::from_chars(p, p + std::char_traits<char>::length(p), value);
    return value;
}

// Moves `p` past one separator character unless the text has ended.
void skipSeparator(const char*& p)
{
    if (*p)
        ++p;
}

// Parses a time option's value as a duration (microseconds) or as a date
// (microseconds since 1970).
int64_t parseTime(const std::string& option, const std::string& text, bool duration)
{
    int64_t value = 0;
    if (lib.av_parse_time(&value, text.c_str(), duration ? 1 : 0) < 0)
        throw FormattedException("Invalid %s specification for %s: %s", duration ? "duration" : "date",
                          option.c_str(), text.c_str());
    return value;
}

// A four-character codec tag, first character in the lowest byte.
uint32_t codecTag(const std::string& text, const char* lengthMessage)
{
    if (text.size() != 4)
        throw FFMpegException(lengthMessage);
    uint32_t tag = 0;
    for (int i = 3; i >= 0; --i)
        tag = (tag << 8) | static_cast<unsigned char>(text[i]);
    return tag;
}

// The folder of the running program, with a trailing separator; empty when
// it cannot be read (the file then goes to the current folder).
std::string executableFolder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    std::string folder = program.parent_path().string();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The pad colour's RGB value (red in the lowest byte) as Y, U, V with the
// 10-bit fixed-point coefficients of the BT.601 conversion.
std::array<int, 3> rgbToYuv(int rgb)
{
    const int r = rgb & 0xFF;
    const int g = (rgb >> 8) & 0xFF;
    const int b = (rgb >> 16) & 0xFF;
    return {(307 * r + 602 * g + 117 * b + 512) >> 10,
            ((-173 * r - 340 * g + 512 * b + 511) >> 10) + 128,
            ((512 * r - 429 * g - 84 * b + 511) >> 10) + 128};
}

// A frame aspect ratio given as "a:b" or as a decimal; 0 when it cannot be
// read or makes no sense.
float parseAspect(const std::string& text)
{
    auto readOrZero = [](const std::string& part, auto convert) -> double {
        try {
            return convert(part);
        } catch (const ConversionError&) {
            return 0.0;
        }
    };
    double ratio = 0.0;
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        ratio = readOrZero(text, StrToFloat);
    } else {
        const double numerator = readOrZero(text.substr(0, colon), StrToInt);
        const double denominator = readOrZero(text.substr(colon + 1), StrToInt);
        ratio = denominator > 0 ? numerator / denominator : 0.0;
    }
    // A negative or non-finite ratio can only be a mistake; treat it as unreadable.
    if (!std::isfinite(ratio) || ratio <= 0.0)
        return 0.0f;
    return static_cast<float>(ratio);
}

// 64 quantiser matrix coefficients separated by ",". Coefficients outside
// 1..255 are refused: the encoders divide by them and store them in 8 bits.
std::array<uint16_t, 64> parseMatrix(const std::string& text)
{
    std::array<uint16_t, 64> matrix{};
    std::size_t position = 0;
    for (int i = 0; i < 64; ++i) {
        const std::size_t comma = text.find(',', position);
        const int coefficient = StrToInt(text.substr(position, comma - position));
        if (coefficient < 1 || coefficient > 255 || (i < 63 && comma == std::string::npos))
            throw FormattedException("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i);
        matrix[i] = static_cast<uint16_t>(coefficient);
        position = comma + 1;
    }
    return matrix;
}

// How an option's value text is read before its handler runs.
enum class Read { None, Integer, Integer64, Decimal, Text };

// The side of the picture a crop or pad band lies on, as its messages name it.
enum class Side { Top, Bottom, Left, Right };

constexpr const char* sideName(Side side)
{
    constexpr const char* kNames[] = {"Top", "Bottom", "Left", "Right"};
    return kNames[static_cast<int>(side)];
}

constexpr bool isVertical(Side side) { return side == Side::Top || side == Side::Bottom; }

// The field of the option state that a member pointer names: one of the
// state's own, or one of its record for the next output.
template <class T>
T& optionField(OptionState& o, T OptionState::*field)
{
    return o.*field;
}
template <class T>
T& optionField(OptionState& o, T OutputChoices::*field)
{
    return o.output.*field;
}

// An option as its handler sees it.
struct Value {
    const std::string& name;
    const std::string& text;
    int64_t integer = 0;   // Read::Integer (within int), Read::Integer64
    double decimal = 0.0;  // Read::Decimal
};

}  // namespace

// One row of the option table, and the handlers that several rows share.
// Being a member, it may reach the task's option state and log slot.
struct TCustomFFmpeg::OptionEntry {
    using Handler = void (*)(TCustomFFmpeg& task, const Value& value);

    // The output record's field that drives the option, if one does.
    struct RecordField {
        // Whether the field applies; nullptr: no field drives the option.
        bool (*applies)(const TOutputOptions&) = nullptr;
        std::string (*value)(const TOutputOptions&) = nullptr;
        // For the fields applied whatever the extra options said: how a
        // caller that has the option as text stores it in the field instead.
        void (*store)(TOutputOptions&, const std::string&) = nullptr;
        // How the field's text reaches the task when it does not go through
        // the option itself.
        void (*route)(TCustomFFmpeg& task, const char* name, const std::string& text) = nullptr;
    };

    const char* name;
    Read read;
    Handler handler;  // nullptr: a record field only, not an option
    RecordField record{};

    // Stores the value in an option field: a flag is set, numbers and text
    // are stored as read.
    template <auto Field>
    static void store(TCustomFFmpeg& task, const Value& value)
    {
        auto& field = optionField(task.options_, Field);
        using T = std::remove_reference_t<decltype(field)>;
        if constexpr (std::is_same_v<T, bool>)
            field = true;
        else if constexpr (std::is_same_v<T, int>)
            field = static_cast<int>(value.integer);
        else if constexpr (std::is_same_v<T, int64_t>)
            field = value.integer;
        else if constexpr (std::is_same_v<T, float>)
            field = static_cast<float>(value.decimal);
        else
            field = value.text;
    }

    // Metadata tags: an empty text leaves the tag as it was.
    template <std::string OptionState::*Field>
    static void storeTag(TCustomFFmpeg& task, const Value& value)
    {
        if (!value.text.empty())
            task.options_.*Field = value.text;
    }

    // Audio sample rate and channel count: only positive values count.
    template <int OptionState::*Field>
    static void storePositive(TCustomFFmpeg& task, const Value& value)
    {
        if (value.integer > 0)
            task.options_.*Field = static_cast<int>(value.integer);
    }

    // "pgmyuv" survives as a name for the image sequence format.
    static std::string formatAlias(TCustomFFmpeg& task, const std::string& name)
    {
        if (name != "pgmyuv")
            return name;
        task.options_.imageSequence = true;
        task.LogMessage(kLogInfo, "pgmyuv format is deprecated, use image2");
        return "image2";
    }

    // Parameters of the codec, format and scaler libraries that the output
    // record names; the option text goes to them as it is.
    static void genericParameter(TCustomFFmpeg& task, const Value& value)
    {
        task.SetGenericParameter(value.name, value.text);
    }

    // Record routes: the forced container goes through the output-format
    // setter, the video bit rate straight to the named parameters, the year
    // and track numbers to their fields of the option state.
    static void outputFormat(TCustomFFmpeg& task, const char*, const std::string& text)
    {
        task.SetOutputFormat(text);
    }
    static void genericParameter(TCustomFFmpeg& task, const char* name, const std::string& text)
    {
        task.SetGenericParameter(name, text);
    }
    static void recordYear(TCustomFFmpeg& task, const char*, const std::string& text)
    {
        task.options_.year = StrToInt(text);
    }
    static void recordTrack(TCustomFFmpeg& task, const char*, const std::string& text)
    {
        task.options_.track = StrToInt(text);
    }

    // Options accepted for compatibility that have no effect here.
    static void doNothing(TCustomFFmpeg& task, const Value& value)
    {
        task.LogMessage(kLogInfo, "Do nothing: option - %s", value.name.c_str());
    }

    static void unsupported(TCustomFFmpeg&, const Value& value)
    {
        throw FFMpegException("TODO: option - " + value.name);
    }

    template <int64_t OptionState::*Field>
    static void duration(TCustomFFmpeg& task, const Value& value)
    {
        task.options_.*Field = parseTime(value.name, value.text, true);
    }

    // "b", "vb", "ab": the bit rate goes through the codec parameters; a value
    // that looks like kbit/s is worth a warning.
    template <CodecKind kind>
    static void bitRate(TCustomFFmpeg& task, const Value& value)
    {
        task.SetGenericParameter(value.name, value.text);
        if (task.defaults_.of(kind)->bit_rate < 1000)
            task.LogMessage(kLogInfo, "WARNING: The bitrate parameter is set too low. It takes bits/s "
                               "as argument, not kbits/s");
    }

    // "croptop" .. "cropright": the band is taken off the frame size.
    template <int OptionState::*Band, Side S>
    static void crop(TCustomFFmpeg& task, const Value& value)
    {
        const char* side = sideName(S);
        const bool vertical = isVertical(S);
        const int size = static_cast<int>(value.integer);
        if (size < 0)
            return;
        if (size % 2 != 0)
            throw FormattedException("%s crop size must be a multiple of 2", side);
        int& dimension = vertical ? task.options_.frameHeight : task.options_.frameWidth;
        if (size >= dimension)
            throw FormattedException("%s crop dimensions are outside the range of the original "
                              "image.\nRemember to crop first and scale second.",
                              vertical ? "Vertical" : "Horizontal");
        task.options_.*Band = size;
        dimension -= size;
    }

    // "padtop" .. "padright".
    template <int OptionState::*Band, Side S>
    static void pad(TCustomFFmpeg& task, const Value& value)
    {
        const int size = static_cast<int>(value.integer);
        if (size < 0)
            return;
        if (size % 2 != 0)
            throw FormattedException("%s pad size must be a multiple of 2", sideName(S));
        task.options_.*Band = size;
    }

    // "vcodec", "acodec", "scodec": "copy" asks for stream copy, anything
    // else names the encoder.
    template <StreamChoice OutputChoices::*Kind>
    static void codecName(TCustomFFmpeg& task, const Value& value)
    {
        StreamChoice& choice = task.options_.output.*Kind;
        choice.codecName.clear();
        if (value.text == "copy")
            choice.streamCopy = true;
        else
            choice.codecName = value.text;
    }

    // "vn", "an", "sn": the next stream of the kind is left out.
    template <StreamChoice OutputChoices::*Kind>
    static void disable(TCustomFFmpeg& task, const Value&)
    {
        (task.options_.output.*Kind).disabled = true;
    }

    // "list" logs the known pixel formats instead of choosing one.
    static void pixelFormat(TCustomFFmpeg& task, const Value& value)
    {
        if (value.text != "list") {
            const AVPixelFormat format = lib.av_get_pix_fmt(value.text.c_str());
            // An unknown name would otherwise silently mean "keep the input's format".
            if (format == AV_PIX_FMT_NONE)
                throw FormattedException("Unknown pixel format requested: %s", value.text.c_str());
            task.options_.pixelFormat = format;
            return;
        }
        auto logLine = [&task](const std::string& line) {
            task.LogMessage(kLogInfo, "%s", Trim(line).c_str());
        };
        char line[128];
        std::snprintf(line, sizeof line, "%-16s %13s %5s %5s", "name", "nb_components", "depth",
                      "alpha");
        logLine(line);
        for (int index = 0;; ++index) {
            const AVPixFmtDescriptor* descriptor =
                lib.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(index));
            if (!descriptor)
                break;
            std::snprintf(line, sizeof line, "%-16s %13d %5d %5d", descriptor->name,
                          descriptor->nb_components, descriptor->comp[0].depth,
                          (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) ? 1 : 0);
            logLine(line);
        }
    }

    template <std::optional<std::array<uint16_t, 64>> OptionState::*field>
    static void matrix(TCustomFFmpeg& task, const Value& value)
    {
        task.options_.*field = parseMatrix(value.text);
    }

    // "newvideo", "newaudio", "newsubtitle".
    template <CodecKind kind>
    static void newStream(TCustomFFmpeg& task, const Value&)
    {
        task.AddStreamToLastOutput(kind);
    }
};

using namespace record_fields;
using O = TOutputOptions;

// Every option name has one row; ParseOption finds it by name.
const TCustomFFmpeg::OptionEntry TCustomFFmpeg::kOptionTable[] = {
    {"L", Read::None, OptionEntry::doNothing},
    {"h", Read::None, OptionEntry::doNothing},
    {"version", Read::None, OptionEntry::doNothing},
    {"formats", Read::None, OptionEntry::doNothing},
    {"i", Read::None, OptionEntry::doNothing},
    {"y", Read::None, OptionEntry::doNothing},
    {"map", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         if (task.options_.streamMaps.size() >= kMaxMaps)
             throw FormattedException("Too many stream maps (at most %d)", kMaxMaps);
         TStreamMap map;
         const char* p = value.text.c_str();
         map.FileIndex = leadingInteger(p);
         skipSeparator(p);
         map.StreamIndex = leadingInteger(p);
         if (*p) {
             ++p;
             map.SyncFileIndex = leadingInteger(p);
             skipSeparator(p);
             map.SyncStreamIndex = leadingInteger(p);
         } else {
             map.SyncFileIndex = map.FileIndex;
             map.SyncStreamIndex = map.StreamIndex;
         }
         task.options_.streamMaps.push_back(map);
     }},
    {"map_meta_data", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         if (task.options_.metaDataMaps.size() >= kMaxMaps)
             throw FormattedException("Too many metadata maps (at most %d)", kMaxMaps);
         TMetaDataMap map;
         const char* p = value.text.c_str();
         map.OutFile = leadingInteger(p);
         skipSeparator(p);
         map.InFile = leadingInteger(p);
         task.options_.metaDataMaps.push_back(map);
     }},
    {"fs", Read::Integer64, OptionEntry::store<&OptionState::fileSizeLimit>},
    {"ss", Read::Text, OptionEntry::duration<&OptionState::startTime>},
    {"itsoffset", Read::Text, OptionEntry::duration<&OptionState::inputTsOffset>},
    {"itsscale", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         const char* p = value.text.c_str();
         const int stream = leadingInteger(p);
         skipSeparator(p);
         if (stream < 0 || stream >= kMaxStreams)
             throw FormattedException("stream index over MAX_STREAMS(%d)", kMaxStreams);
         task.options_.nextInputTimeScales[stream] = leadingDecimal(p);
     }},
    {"dframes", Read::Integer, OptionEntry::store<&OptionState::maxDataFrames>},
    {"benchmark", Read::None, OptionEntry::doNothing},
    {"dump", Read::None, OptionEntry::store<&OptionState::packetDump>},
    {"hex", Read::None, OptionEntry::store<&OptionState::hexDump>},
    {"re", Read::None, OptionEntry::store<&OptionState::rateEmulation>},
    {"loop_input", Read::None, OptionEntry::store<&OptionState::loopInput>},
    {"loop_output", Read::Integer, OptionEntry::store<&OptionState::loopOutput>},
    {"v", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         task.SetVerbosity(static_cast<int>(value.integer));
     }},
    {"target", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         std::string type = value.text;
         std::string norm;
         for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
             const std::string text(prefix);
             if (type.compare(0, text.size(), text) == 0) {
                 norm = text.substr(0, text.size() - 1);
                 type.erase(0, text.size());
                 break;
             }
         }
         task.ApplyTarget(type, norm, "ntsc");
     }},
    {"threads", Read::Text, OptionEntry::unsupported},
    {"adrift_threshold", Read::Decimal, OptionEntry::store<&OptionState::audioDriftThreshold>},
    {"vglobal", Read::Integer, OptionEntry::store<&OptionState::videoGlobalHeader>},
    {"shortest", Read::None, OptionEntry::store<&OptionState::shortest>},
    {"dts_delta_threshold", Read::Decimal, OptionEntry::store<&OptionState::dtsDeltaThreshold>},
    {"programid", Read::Integer, OptionEntry::store<&OptionState::programId>},
    {"b", Read::Text, OptionEntry::bitRate<CodecKind::Video>},
    {"vframes", Read::Integer, OptionEntry::store<&OptionState::maxVideoFrames>},
    {"pix_fmt", Read::Text, OptionEntry::pixelFormat},
    {"intra", Read::None, OptionEntry::store<&OptionState::intraOnly>},
    {"vdt", Read::Integer, OptionEntry::store<&OptionState::videoDiscard>},
    {"qscale", Read::Decimal,
     [](TCustomFFmpeg& task, const Value& value) {
         if (!(value.decimal > 0.0 && value.decimal <= 255.0))
             throw FFMpegException("qscale must be > 0.0 and <= 255");
         task.options_.videoQScale = static_cast<float>(value.decimal);
     }},
    {"rc_override", Read::Text, OptionEntry::store<&OptionState::rcOverride>},
    {"me_threshold", Read::Integer, OptionEntry::store<&OptionState::meThreshold>},
    {"sameq", Read::None, OptionEntry::store<&OptionState::sameQuality>},
    {"pass", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         if (value.integer != 1 && value.integer != 2)
             throw FFMpegException("pass number can be only 1 or 2");
         task.options_.pass = static_cast<int>(value.integer);
     }},
    {"passlogfile", Read::Text, OptionEntry::store<&OptionState::passLogFile>},
    {"deinterlace", Read::None, OptionEntry::store<&OptionState::deinterlace>},
    {"psnr", Read::None, OptionEntry::store<&OptionState::psnr>},
    {"vstats", Read::None,
     [](TCustomFFmpeg& task, const Value&) {
         const std::time_t now = std::time(nullptr);
         std::tm local{};
         localtime_r(&now, &local);
         char clock[16];
         std::strftime(clock, sizeof clock, "%H%M%S", &local);
         task.options_.vstatsFileName = executableFolder() + "vstats_" + clock + ".log";
     }},
    {"vstats_file", Read::Text, OptionEntry::store<&OptionState::vstatsFileName>},
    {"vhook", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         AddFrameHookFromOption(task.frameHooks_, value.text);
         task.options_.usingFrameHooks = true;
     }},
    {"intra_matrix", Read::Text, OptionEntry::matrix<&OptionState::intraMatrix>},
    {"inter_matrix", Read::Text, OptionEntry::matrix<&OptionState::interMatrix>},
    {"top", Read::Integer, OptionEntry::store<&OptionState::topFieldFirst>},
    {"dc", Read::Integer, OptionEntry::store<&OptionState::intraDcPrecision>},
    {"newvideo", Read::None, OptionEntry::newStream<CodecKind::Video>},
    {"qphist", Read::None, OptionEntry::store<&OptionState::qpHistogram>},
    {"aframes", Read::Integer, OptionEntry::store<&OptionState::maxAudioFrames>},
    {"aq", Read::Decimal, OptionEntry::store<&OptionState::audioQScale>},
    {"newaudio", Read::None, OptionEntry::newStream<CodecKind::Audio>},
    {"scodec", Read::Text,
     OptionEntry::codecName<&OutputChoices::subtitle>},
    {"newsubtitle", Read::None, OptionEntry::newStream<CodecKind::Subtitle>},
    {"vc", Read::Integer, OptionEntry::store<&OptionState::videoChannel>},
    {"tvstd", Read::Text, OptionEntry::store<&OptionState::tvStandard>},
    {"isync", Read::None, OptionEntry::store<&OptionState::inputSync>},
    {"absf", Read::Text, OptionEntry::unsupported},
    {"vbsf", Read::Text, OptionEntry::unsupported},
    {"sbsf", Read::Text, OptionEntry::unsupported},
    {"apre", Read::None, OptionEntry::doNothing},
    {"vpre", Read::None, OptionEntry::doNothing},
    {"spre", Read::None, OptionEntry::doNothing},

    // The options the output record drives, in the order ApplyRecordFields
    // applies them (the first rejected value is the one reported).
    {"f", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         const std::string name = OptionEntry::formatAlias(task, value.text);
         task.options_.forcedInputFormat = lib.av_find_input_format(name.c_str());
         task.options_.output.forcedFormat = lib.av_guess_format(name.c_str(), nullptr, nullptr);
         if (!task.options_.forcedInputFormat && !task.options_.output.forcedFormat)
             throw FormattedException("Unknown input or output format: %s", name.c_str());
     },
     {notEmpty<&O::Format>, text<&O::Format>, nullptr, OptionEntry::outputFormat}},
    {"packetsize", Read::Text, OptionEntry::genericParameter,
     {positive<&O::PacketSize>, text<&O::PacketSize>}},
    {"muxrate", Read::Text, OptionEntry::genericParameter,
     {positive<&O::MuxRate>, text<&O::MuxRate>}},
    {"muxdelay", Read::Decimal, OptionEntry::store<&OptionState::muxMaxDelay>,
     {positive<&O::MuxDelay>, text<&O::MuxDelay>}},
    {"muxpreload", Read::Decimal, OptionEntry::store<&OptionState::muxPreload>,
     {positive<&O::MuxPreload>, text<&O::MuxPreload>}},
    {"acodec", Read::Text,
     OptionEntry::codecName<&OutputChoices::audio>,
     {notEmpty<&O::AudioCodec>, text<&O::AudioCodec>}},
    {"an", Read::None, OptionEntry::disable<&OutputChoices::audio>,
     {flagSet<&O::DisableAudio>, text<&O::DisableAudio>}},
    {"vol", Read::Integer, OptionEntry::store<&OptionState::audioVolume>,
     {nonNegative<&O::Volume>, text<&O::Volume>}},
    {"ac", Read::Integer, OptionEntry::storePositive<&OptionState::audioChannels>,
     {positive<&O::AudioChannels>, text<&O::AudioChannels>}},
    {"ar", Read::Integer, OptionEntry::storePositive<&OptionState::audioSampleRate>,
     {positive<&O::AudioSampleRate>, text<&O::AudioSampleRate>}},
    {"ab", Read::Text, OptionEntry::bitRate<CodecKind::Audio>,
     {positive<&O::AudioBitrate>, text<&O::AudioBitrate>}},
    {"abt", Read::Text, OptionEntry::genericParameter,
     {positive<&O::AudioBitrateTolerance>, text<&O::AudioBitrateTolerance>}},
    {"alang", Read::Text, OptionEntry::store<&OutputChoices::audioLanguage>,
     {always, text<&O::AudioLanguage>, store<&O::AudioLanguage>}},
    {"async", Read::Integer, OptionEntry::store<&OptionState::audioSync>,
     {always, text<&O::AudioSync>, store<&O::AudioSync>}},
    {"atag", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         task.options_.audioCodecTag =
             codecTag(value.text, "audio tag parameter must be 4 chars");
     },
     {notEmpty<&O::AudioTag>, text<&O::AudioTag>}},
    {"vcodec", Read::Text,
     OptionEntry::codecName<&OutputChoices::video>,
     {notEmpty<&O::VideoCodec>, text<&O::VideoCodec>}},
    {"vn", Read::None, OptionEntry::disable<&OutputChoices::video>,
     {flagSet<&O::DisableVideo>, text<&O::DisableVideo>}},
    {"r", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         AVRational rate{0, 0};
         if (lib.av_parse_video_rate(&rate, value.text.c_str()) < 0)
             throw FFMpegException("Incorrect frame rate");
         task.options_.frameRate = rate;
     },
     {notEmpty<&O::FrameRate>, text<&O::FrameRate>}},
    {"s", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         int width = 0;
         int height = 0;
         if (lib.av_parse_video_size(&width, &height, value.text.c_str()) < 0)
             throw FFMpegException("Incorrect frame size");
         if (width % 2 != 0 || height % 2 != 0)
             throw FFMpegException("Frame size must be a multiple of 2");
         task.options_.frameWidth = width;
         task.options_.frameHeight = height;
     },
     {notEmpty<&O::FrameSize>, text<&O::FrameSize>}},
    {"aspect", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         const float ratio = parseAspect(value.text);
         if (ratio == 0.0f)
             throw FFMpegException("Incorrect aspect ratio specification.");
         task.options_.frameAspectRatio = ratio;
     },
     {notEmpty<&O::Aspect>, text<&O::Aspect>}},
    {"croptop", Read::Integer, OptionEntry::crop<&OptionState::cropTop, Side::Top>,
     {nonNegative<&O::CropTop>, text<&O::CropTop>}},
    {"cropbottom", Read::Integer, OptionEntry::crop<&OptionState::cropBottom, Side::Bottom>,
     {nonNegative<&O::CropBottom>, text<&O::CropBottom>}},
    {"cropleft", Read::Integer, OptionEntry::crop<&OptionState::cropLeft, Side::Left>,
     {nonNegative<&O::CropLeft>, text<&O::CropLeft>}},
    {"cropright", Read::Integer, OptionEntry::crop<&OptionState::cropRight, Side::Right>,
     {nonNegative<&O::CropRight>, text<&O::CropRight>}},
    {"padtop", Read::Integer, OptionEntry::pad<&OptionState::padTop, Side::Top>,
     {nonNegative<&O::PadTop>, text<&O::PadTop>}},
    {"padbottom", Read::Integer, OptionEntry::pad<&OptionState::padBottom, Side::Bottom>,
     {nonNegative<&O::PadBottom>, text<&O::PadBottom>}},
    {"padleft", Read::Integer, OptionEntry::pad<&OptionState::padLeft, Side::Left>,
     {nonNegative<&O::PadLeft>, text<&O::PadLeft>}},
    {"padright", Read::Integer, OptionEntry::pad<&OptionState::padRight, Side::Right>,
     {nonNegative<&O::PadRight>, text<&O::PadRight>}},
    {"padcolor", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         const int rgb = static_cast<int>(value.integer);
         task.options_.padColorYuv = rgbToYuv(rgb);
         task.options_.padColorRgb = {rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF};
     },
     {always, padColorText, store<&O::PadColor>}},
    {"gop", Read::Text, OptionEntry::genericParameter,
     {positive<&O::GopSize>, text<&O::GopSize>}},
    // The record's video bit rate goes straight to the named parameters in
    // bits per second: no warning about values that look like kbit/s.
    {"vb", Read::Text, OptionEntry::bitRate<CodecKind::Video>,
     {positive<&O::VideoBitrate>, text<&O::VideoBitrate>, nullptr, OptionEntry::genericParameter}},
    {"maxrate", Read::Text, OptionEntry::genericParameter,
     {positive<&O::MaxRate>, text<&O::MaxRate>}},
    {"minrate", Read::Text, OptionEntry::genericParameter,
     {positive<&O::MinRate>, text<&O::MinRate>}},
    {"bt", Read::Text, OptionEntry::genericParameter,
     {positive<&O::VideoBitrateTolerance>, text<&O::VideoBitrateTolerance>}},
    {"bufsize", Read::Text, OptionEntry::genericParameter,
     {positive<&O::BufferSize>, text<&O::BufferSize>}},
    {"vsync", Read::Integer, OptionEntry::store<&OptionState::videoSync>,
     {always, text<&O::VideoSync>, store<&O::VideoSync>}},
    {"vtag", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         task.options_.videoCodecTag =
             codecTag(value.text, "video tag parameter must be 4 chars");
     },
     {notEmpty<&O::VideoTag>, text<&O::VideoTag>}},
    {"sn", Read::None, OptionEntry::disable<&OutputChoices::subtitle>,
     {flagSet<&O::DisableSubtitle>, text<&O::DisableSubtitle>}},
    {"slang", Read::Text, OptionEntry::store<&OutputChoices::subtitleLanguage>,
     {always, text<&O::SubtitleLanguage>, store<&O::SubtitleLanguage>}},
    // A flag option can only switch copying on, so false keeps the default.
    {"copyts", Read::None, OptionEntry::store<&OptionState::copyTimestamps>,
     {flagSet<&O::CopyTimestamps>, text<&O::CopyTimestamps>}},
    {"t", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         const int64_t milliseconds = parseTime(value.name, value.text, true) / 1000;
         if (milliseconds > 0) {
             task.options_.recordingTime = milliseconds * 1000;
             // The duration events carry 32-bit milliseconds.
             task.totalOutputDurationMs_ =
                 static_cast<int>(std::min<int64_t>(milliseconds, INT_MAX));
         }
     },
     {positive<&O::DurationMs>, durationText}},
    {"timestamp", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         const int64_t microseconds = parseTime(value.name, value.text, false);
         task.options_.recordingTimestamp = std::llround(static_cast<double>(microseconds) / 1e6);
     },
     {timestampApplies, timestampText}},
    // Fields of the option state that no option of their own sets.
    {"year", Read::Text, nullptr,
     {positive<&O::Year>, text<&O::Year>, nullptr, OptionEntry::recordYear}},
    {"track", Read::Text, nullptr,
     {positive<&O::Track>, text<&O::Track>, nullptr, OptionEntry::recordTrack}},
    {"title", Read::Text, OptionEntry::storeTag<&OptionState::title>,
     {notEmpty<&O::Title>, text<&O::Title>}},
    {"author", Read::Text, OptionEntry::storeTag<&OptionState::author>,
     {notEmpty<&O::Author>, text<&O::Author>}},
    {"copyright", Read::Text, OptionEntry::storeTag<&OptionState::copyright>,
     {notEmpty<&O::Copyright>, text<&O::Copyright>}},
    {"comment", Read::Text, OptionEntry::storeTag<&OptionState::comment>,
     {notEmpty<&O::Comment>, text<&O::Comment>}},
    {"album", Read::Text, OptionEntry::storeTag<&OptionState::album>,
     {notEmpty<&O::Album>, text<&O::Album>}},
    {"genre", Read::Text, OptionEntry::storeTag<&OptionState::genre>,
     {notEmpty<&O::Genre>, text<&O::Genre>}},
};

void TCustomFFmpeg::ParseOption(const std::string& name, const std::string& value)
{
    for (const OptionEntry& entry : kOptionTable) {
        if (!entry.handler || name != entry.name)
            continue;
        Value argument{name, value};
        switch (entry.read) {
        case Read::Integer:
            argument.integer = StrToInt(value);
            break;
        case Read::Integer64:
            argument.integer = StrToInt64(value);
            break;
        case Read::Decimal:
            argument.decimal = StrToFloat(value);
            break;
        case Read::None:
        case Read::Text:
            break;
        }
        entry.handler(*this, argument);
        return;
    }
    // Not one of ours: perhaps a parameter of the libraries; otherwise ignored.
    SetGenericParameter(name, value);
}

bool TCustomFFmpeg::OptionTakesValue(const std::string& name)
{
    for (const OptionEntry& entry : kOptionTable)
        if (entry.handler && name == entry.name)
            return entry.read != Read::None;
    return true;
}

void TCustomFFmpeg::ApplyRecordFields(const TOutputOptions& record)
{
    for (const OptionEntry& entry : kOptionTable) {
        const OptionEntry::RecordField& field = entry.record;
        if (!field.applies || !field.applies(record))
            continue;
        const std::string text = field.value(record);
        if (field.route)
            field.route(*this, entry.name, text);
        else
            ParseOption(entry.name, text);
    }
}

bool TCustomFFmpeg::StoreRecordField(TOutputOptions& record, const std::string& name,
                                     const std::string& value)
{
    for (const OptionEntry& entry : kOptionTable) {
        if (entry.record.store && name == entry.name) {
            entry.record.store(record, value);
            return true;
        }
    }
    return false;
}

void TCustomFFmpeg::SetInputFormat(const std::string& name)
{
    if (name.empty())
        return;
    const std::string format = OptionEntry::formatAlias(*this, name);
    const AVInputFormat* found = lib.av_find_input_format(format.c_str());
    if (!found)
        throw FormattedException("Unknown input format: %s", format.c_str());
    options_.forcedInputFormat = found;
}

void TCustomFFmpeg::SetOutputFormat(const std::string& name)
{
    if (name.empty())
        return;
    const std::string format = OptionEntry::formatAlias(*this, name);
    const AVOutputFormat* found = lib.av_guess_format(format.c_str(), nullptr, nullptr);
    if (!found)
        throw FormattedException("Unknown output format: %s", format.c_str());
    options_.output.forcedFormat = found;
}

}  // namespace clipmora
