// Named parameters of the codec, format and scaler libraries. Options the
// option table does not know are set on the task's parameter defaults (one
// codec context per kind, a format context, a scaler); the names accepted so
// far are remembered, and output setup copies them from the defaults onto
// every new stream's codec and onto the output file's context.
#include "engine/conversions.h"
#include "engine/ffmpeg.h"

#include <algorithm>
#include <optional>

namespace clipmora {
namespace {

constexpr int kEncoding = AV_OPT_FLAG_ENCODING_PARAM;
constexpr int kDecoding = AV_OPT_FLAG_DECODING_PARAM;

// The flags that select each codec kind's parameters, in CodecKind order.
// Data and attachment parameters are not flagged, so every codec parameter
// applies to them.
constexpr int kKindMasks[kCodecKindCount] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                             AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// Codec parameter names whose meaning this library generation changed or
// dropped. Callers keep using the old names with the old meaning: the
// parameter is set under its current name, but only on the kinds (and copied
// only onto the streams) that the old flags select.
struct LegacyParameter {
    const char* name;         // the name callers use
    const char* libraryName;  // the parameter that holds it now
    int flags;                // the kind and direction it used to have
};

constexpr LegacyParameter kLegacyParameters[] = {
    // "b" now also sets the audio bit rate; it used to be the video one only.
    {"b", "b", AV_OPT_FLAG_VIDEO_PARAM | kEncoding},
    {"vb", "b", AV_OPT_FLAG_VIDEO_PARAM | kEncoding},
    {"ab", "b", AV_OPT_FLAG_AUDIO_PARAM | kEncoding},
    // The group-of-pictures size has only ever been "g" to the library.
    {"gop", "g", AV_OPT_FLAG_VIDEO_PARAM | kEncoding},
};

const LegacyParameter* findLegacy(const std::string& name)
{
    for (const LegacyParameter& legacy : kLegacyParameters)
        if (name == legacy.name)
            return &legacy;
    return nullptr;
}

// The codec kind a prefix letter names ("a", "v", "s"), or -1.
int prefixKind(char letter)
{
    switch (letter) {
    case 'a':
        return static_cast<int>(CodecKind::Audio);
    case 'v':
        return static_cast<int>(CodecKind::Video);
    case 's':
        return static_cast<int>(CodecKind::Subtitle);
    default:
        return -1;
    }
}

// Where a remembered name lives on a parameter object, and the flags that
// decide which objects it is copied onto.
struct ResolvedParameter {
    std::string libraryName;
    int flags = 0;
};

// Resolves a name the way SetGenericParameter accepted it: a legacy name, a
// parameter of the object itself, or a kind prefix ("abt" = audio "bt"),
// which belongs to that kind alone (in the parameter's own direction).
std::optional<ResolvedParameter> resolveParameter(void* object, const std::string& name)
{
    if (const LegacyParameter* legacy = findLegacy(name)) {
        if (!lib.av_opt_find(object, legacy->libraryName, nullptr, 0, 0))
            return std::nullopt;
        return ResolvedParameter{legacy->libraryName, legacy->flags};
    }
    if (const AVOption* option = lib.av_opt_find(object, name.c_str(), nullptr, 0, 0))
        return ResolvedParameter{name, option->flags};
    const int kind = name.size() > 1 ? prefixKind(name[0]) : -1;
    if (kind < 0)
        return std::nullopt;
    const AVOption* option = lib.av_opt_find(object, name.c_str() + 1, nullptr, 0, 0);
    if (!option)
        return std::nullopt;
    return ResolvedParameter{name.substr(1),
                             kKindMasks[kind] | (option->flags & (kEncoding | kDecoding))};
}

}  // namespace

bool TCustomFFmpeg::SetGenericParameter(const std::string& rawName, const std::string& rawValue)
{
    const std::string name = Trim(rawName);
    const std::string value = Trim(rawValue);
    // Before PrepareTask there are no defaults to take anything.
    if (name.empty() || value.empty() || !defaults_.format)
        return false;

    // A set that finds the parameter but refuses the value is remembered, so
    // the caller hears why a known option had no effect.
    bool valueRefused = false;
    auto trySet = [&](void* object, const char* parameter) {
        const int result = lib.av_opt_set(object, parameter, value.c_str(), 0);
        if (result < 0 && result != AVERROR_OPTION_NOT_FOUND)
            valueRefused = true;
        return result >= 0;
    };

    AVCodecContext* videoDefaults = defaults_.of(CodecKind::Video);
    const LegacyParameter* legacy = findLegacy(name);
    const char* codecParameter = legacy ? legacy->libraryName : name.c_str();
    bool accepted = false;
    bool scalerAccepted = false;

    // Codec parameters go to every kind whose flags the parameter carries;
    // all codec contexts share one parameter list, so the video one answers.
    if (const AVOption* option = lib.av_opt_find(videoDefaults, codecParameter, nullptr, 0, 0)) {
        const int flags = legacy ? legacy->flags : option->flags;
        for (int kind = 0; kind < kCodecKindCount && !valueRefused; ++kind)
            if ((flags & kKindMasks[kind]) == kKindMasks[kind])
                accepted = trySet(defaults_.codec[kind].get(), codecParameter);
    }
    if (!accepted && !legacy) {
        accepted = trySet(defaults_.format.get(), name.c_str());
        if (!accepted)
            accepted = scalerAccepted = trySet(defaults_.scaler.get(), name.c_str());
        if (!accepted) {
            const int kind = name.size() > 1 ? prefixKind(name[0]) : -1;
            if (kind >= 0)
                accepted = trySet(defaults_.codec[kind].get(), name.c_str() + 1);
        }
    }
    if (!accepted) {
        if (valueRefused)
            LogMessage(kLogError, "Invalid value '%s' for option '%s'", value.c_str(), name.c_str());
        else
            defaults_.privateParameters.emplace_back(name, value);
        return false;
    }

    rememberGenericParameter(name, scalerAccepted);
    return true;
}

void TCustomFFmpeg::rememberGenericParameter(const std::string& name, bool forScaler)
{
    if (std::find(defaults_.names.begin(), defaults_.names.end(), name) == defaults_.names.end())
        defaults_.names.push_back(name);

    // The scaler's flags are read when scalers are made for the run.
    int64_t scalerFlags = 0;
    if (forScaler && lib.av_opt_get_int(defaults_.scaler.get(), "sws_flags", 0, &scalerFlags) >= 0)
        options_.scalerFlags = static_cast<int>(scalerFlags);

    if (defaults_.of(CodecKind::Video)->debug != 0 || defaults_.format->debug != 0)
        SetVerbosity(2);
}

bool TCustomFFmpeg::SetGenericParameter(const std::string& name, int64_t value)
{
    return SetGenericParameter(name, std::to_string(value));
}

void CopyGenericParameters(const ParameterDefaults& defaults, void* target, void* source, int mask)
{
    if (!target || !source)
        return;
    for (const std::string& name : defaults.names) {
        const std::optional<ResolvedParameter> parameter = resolveParameter(source, name);
        if (!parameter || (parameter->flags & mask) != mask)
            continue;
        uint8_t* text = nullptr;
        if (lib.av_opt_get(source, parameter->libraryName.c_str(), 0, &text) < 0)
            continue;
        const LibraryMemoryPtr<uint8_t> owned(text);
        lib.av_opt_set(target, parameter->libraryName.c_str(), reinterpret_cast<char*>(text), 0);
    }
}

}  // namespace clipmora
