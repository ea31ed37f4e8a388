// The option vocabulary of a conversion task. Every option is one row of
// kOptionTable: its name, how its value text is read, and the handler that
// validates and stores it. ParseOption walks the rows in order; names that no
// row knows go to the codec, format and scaler libraries as named parameters
// (generic_parameters.cpp).
#include "engine/conversions.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"

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

    const char* name;
    Read read;
    Handler handler;

    // Stores the value in an option field: a flag is set, numbers and text
    // are stored as read.
    template <auto Field>
    static void store(TCustomFFmpeg& task, const Value& value)
    {
        auto& field = task.options_.*Field;
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

    // Options accepted for compatibility that have no effect here.
    static void doNothing(TCustomFFmpeg& task, const Value& value)
    {
        task.LogMessage(kLogInfo, "Do nothing: option - %s", value.name.c_str());
    }

    static void unsupported(TCustomFFmpeg&, const Value& value)
    {
        throw FFMpegException("TODO: option - " + value.name);
    }

    static void duration(TCustomFFmpeg& task, const Value& value, int64_t OptionState::*field)
    {
        task.options_.*field = parseTime(value.name, value.text, true);
    }

    // "b", "vb", "ab": the bit rate goes through the codec parameters; a value
    // that looks like kbit/s is worth a warning.
    static void bitRate(TCustomFFmpeg& task, const Value& value, CodecKind kind)
    {
        task.SetGenericParameter(value.name, value.text);
        if (task.defaults_.of(kind)->bit_rate < 1000)
            task.LogMessage(kLogInfo, "WARNING: The bitrate parameter is set too low. It takes bits/s "
                               "as argument, not kbits/s");
    }

    static void crop(TCustomFFmpeg& task, const Value& value, int OptionState::*band,
                     const char* side, bool vertical)
    {
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
        task.options_.*band = size;
        dimension -= size;
    }

    static void pad(TCustomFFmpeg& task, const Value& value, int OptionState::*band,
                    const char* side)
    {
        const int size = static_cast<int>(value.integer);
        if (size < 0)
            return;
        if (size % 2 != 0)
            throw FormattedException("%s pad size must be a multiple of 2", side);
        task.options_.*band = size;
    }

    // "vcodec", "acodec", "scodec": "copy" asks for stream copy, anything
    // else names the encoder.
    static void codecName(TCustomFFmpeg& task, const Value& value,
                          std::string OptionState::*name, bool OptionState::*copy)
    {
        (task.options_.*name).clear();
        if (value.text == "copy")
            task.options_.*copy = true;
        else
            task.options_.*name = value.text;
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

    static void matrix(TCustomFFmpeg& task, const Value& value,
                       std::optional<std::array<uint16_t, 64>> OptionState::*field)
    {
        task.options_.*field = parseMatrix(value.text);
    }
};

// The rows in lookup order; the first row with the option's name wins.
const TCustomFFmpeg::OptionEntry TCustomFFmpeg::kOptionTable[] = {
    {"L", Read::None, OptionEntry::doNothing},
    {"h", Read::None, OptionEntry::doNothing},
    {"version", Read::None, OptionEntry::doNothing},
    {"formats", Read::None, OptionEntry::doNothing},
    {"f", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         const std::string name = OptionEntry::formatAlias(task, value.text);
         task.options_.forcedInputFormat = lib.av_find_input_format(name.c_str());
         task.options_.forcedOutputFormat = lib.av_guess_format(name.c_str(), nullptr, nullptr);
         if (!task.options_.forcedInputFormat && !task.options_.forcedOutputFormat)
             throw FormattedException("Unknown input or output format: %s", name.c_str());
     }},
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
    {"t", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         const int64_t milliseconds = parseTime(value.name, value.text, true) / 1000;
         if (milliseconds > 0) {
             task.options_.recordingTime = milliseconds * 1000;
             // The duration events carry 32-bit milliseconds.
             task.totalOutputDurationMs_ =
                 static_cast<int>(std::min<int64_t>(milliseconds, INT_MAX));
         }
     }},
    {"fs", Read::Integer64, OptionEntry::store<&OptionState::fileSizeLimit>},
    {"ss", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::duration(task, value, &OptionState::startTime);
     }},
    {"itsoffset", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::duration(task, value, &OptionState::inputTsOffset);
     }},
    {"itsscale", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         const char* p = value.text.c_str();
         const int stream = leadingInteger(p);
         skipSeparator(p);
         if (stream < 0 || stream >= kMaxStreams)
             throw FormattedException("stream index over MAX_STREAMS(%d)", kMaxStreams);
         task.options_.nextInputTimeScales[stream] = leadingDecimal(p);
     }},
    {"title", Read::Text, OptionEntry::storeTag<&OptionState::title>},
    {"author", Read::Text, OptionEntry::storeTag<&OptionState::author>},
    {"copyright", Read::Text, OptionEntry::storeTag<&OptionState::copyright>},
    {"comment", Read::Text, OptionEntry::storeTag<&OptionState::comment>},
    {"genre", Read::Text, OptionEntry::storeTag<&OptionState::genre>},
    {"album", Read::Text, OptionEntry::storeTag<&OptionState::album>},
    {"timestamp", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         const int64_t microseconds = parseTime(value.name, value.text, false);
         task.options_.recordingTimestamp = std::llround(static_cast<double>(microseconds) / 1e6);
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
    {"vsync", Read::Integer, OptionEntry::store<&OptionState::videoSync>},
    {"async", Read::Integer, OptionEntry::store<&OptionState::audioSync>},
    {"adrift_threshold", Read::Decimal, OptionEntry::store<&OptionState::audioDriftThreshold>},
    {"vglobal", Read::Integer, OptionEntry::store<&OptionState::videoGlobalHeader>},
    {"copyts", Read::None, OptionEntry::store<&OptionState::copyTimestamps>},
    {"shortest", Read::None, OptionEntry::store<&OptionState::shortest>},
    {"dts_delta_threshold", Read::Decimal, OptionEntry::store<&OptionState::dtsDeltaThreshold>},
    {"programid", Read::Integer, OptionEntry::store<&OptionState::programId>},
    {"b", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) { OptionEntry::bitRate(task, value, CodecKind::Video); }},
    {"vb", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) { OptionEntry::bitRate(task, value, CodecKind::Video); }},
    {"vframes", Read::Integer, OptionEntry::store<&OptionState::maxVideoFrames>},
    {"r", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         AVRational rate{0, 0};
         if (lib.av_parse_video_rate(&rate, value.text.c_str()) < 0)
             throw FFMpegException("Incorrect frame rate");
         task.options_.frameRate = rate;
     }},
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
     }},
    {"aspect", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         const float ratio = parseAspect(value.text);
         if (ratio == 0.0f)
             throw FFMpegException("Incorrect aspect ratio specification.");
         task.options_.frameAspectRatio = ratio;
     }},
    {"pix_fmt", Read::Text, OptionEntry::pixelFormat},
    {"croptop", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::crop(task, value, &OptionState::cropTop, "Top", true);
     }},
    {"cropbottom", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::crop(task, value, &OptionState::cropBottom, "Bottom", true);
     }},
    {"cropleft", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::crop(task, value, &OptionState::cropLeft, "Left", false);
     }},
    {"cropright", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::crop(task, value, &OptionState::cropRight, "Right", false);
     }},
    {"padtop", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::pad(task, value, &OptionState::padTop, "Top");
     }},
    {"padbottom", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::pad(task, value, &OptionState::padBottom, "Bottom");
     }},
    {"padleft", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::pad(task, value, &OptionState::padLeft, "Left");
     }},
    {"padright", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::pad(task, value, &OptionState::padRight, "Right");
     }},
    {"padcolor", Read::Integer,
     [](TCustomFFmpeg& task, const Value& value) {
         const int rgb = static_cast<int>(value.integer);
         task.options_.padColorYuv = rgbToYuv(rgb);
         task.options_.padColorRgb = {rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF};
     }},
    {"intra", Read::None, OptionEntry::store<&OptionState::intraOnly>},
    {"vn", Read::None, OptionEntry::store<&OptionState::videoDisabled>},
    {"vdt", Read::Integer, OptionEntry::store<&OptionState::videoDiscard>},
    {"qscale", Read::Decimal,
     [](TCustomFFmpeg& task, const Value& value) {
         if (!(value.decimal > 0.0 && value.decimal <= 255.0))
             throw FFMpegException("qscale must be > 0.0 and <= 255");
         task.options_.videoQScale = static_cast<float>(value.decimal);
     }},
    {"rc_override", Read::Text, OptionEntry::store<&OptionState::rcOverride>},
    {"vcodec", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::codecName(task, value, &OptionState::videoCodecName,
                          &OptionState::videoStreamCopy);
     }},
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
    {"intra_matrix", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::matrix(task, value, &OptionState::intraMatrix);
     }},
    {"inter_matrix", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::matrix(task, value, &OptionState::interMatrix);
     }},
    {"top", Read::Integer, OptionEntry::store<&OptionState::topFieldFirst>},
    {"dc", Read::Integer, OptionEntry::store<&OptionState::intraDcPrecision>},
    {"vtag", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         task.options_.videoCodecTag =
             codecTag(value.text, "video tag parameter must be 4 chars");
     }},
    {"newvideo", Read::None,
     [](TCustomFFmpeg& task, const Value&) { task.AddStreamToLastOutput(CodecKind::Video); }},
    {"qphist", Read::None, OptionEntry::store<&OptionState::qpHistogram>},
    {"ab", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) { OptionEntry::bitRate(task, value, CodecKind::Audio); }},
    {"aframes", Read::Integer, OptionEntry::store<&OptionState::maxAudioFrames>},
    {"aq", Read::Decimal, OptionEntry::store<&OptionState::audioQScale>},
    {"ar", Read::Integer, OptionEntry::storePositive<&OptionState::audioSampleRate>},
    {"ac", Read::Integer, OptionEntry::storePositive<&OptionState::audioChannels>},
    {"an", Read::None, OptionEntry::store<&OptionState::audioDisabled>},
    {"acodec", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::codecName(task, value, &OptionState::audioCodecName,
                          &OptionState::audioStreamCopy);
     }},
    {"atag", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         task.options_.audioCodecTag =
             codecTag(value.text, "audio tag parameter must be 4 chars");
     }},
    {"vol", Read::Integer, OptionEntry::store<&OptionState::audioVolume>},
    {"newaudio", Read::None,
     [](TCustomFFmpeg& task, const Value&) { task.AddStreamToLastOutput(CodecKind::Audio); }},
    {"alang", Read::Text, OptionEntry::store<&OptionState::audioLanguage>},
    {"sn", Read::None, OptionEntry::store<&OptionState::subtitleDisabled>},
    {"scodec", Read::Text,
     [](TCustomFFmpeg& task, const Value& value) {
         OptionEntry::codecName(task, value, &OptionState::subtitleCodecName,
                          &OptionState::subtitleStreamCopy);
     }},
    {"newsubtitle", Read::None,
     [](TCustomFFmpeg& task, const Value&) { task.AddStreamToLastOutput(CodecKind::Subtitle); }},
    {"slang", Read::Text, OptionEntry::store<&OptionState::subtitleLanguage>},
    {"vc", Read::Integer, OptionEntry::store<&OptionState::videoChannel>},
    {"tvstd", Read::Text, OptionEntry::store<&OptionState::tvStandard>},
    {"isync", Read::None, OptionEntry::store<&OptionState::inputSync>},
    {"muxdelay", Read::Decimal, OptionEntry::store<&OptionState::muxMaxDelay>},
    {"muxpreload", Read::Decimal, OptionEntry::store<&OptionState::muxPreload>},
    {"absf", Read::Text, OptionEntry::unsupported},
    {"vbsf", Read::Text, OptionEntry::unsupported},
    {"sbsf", Read::Text, OptionEntry::unsupported},
    {"apre", Read::None, OptionEntry::doNothing},
    {"vpre", Read::None, OptionEntry::doNothing},
    {"spre", Read::None, OptionEntry::doNothing},
};

void TCustomFFmpeg::ParseOption(const std::string& name, const std::string& value)
{
    for (const OptionEntry& entry : kOptionTable) {
        if (name != entry.name)
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
        if (name == entry.name)
            return entry.read != Read::None;
    return true;
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
    options_.forcedOutputFormat = found;
}

}  // namespace clipmora
