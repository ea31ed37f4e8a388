// Target presets: one option sets a whole group of options for a disc or
// tape format. The presets are a table; the norm (PAL, NTSC or film) picks
// sizes, rates and group-of-pictures lengths.
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"

#include <cmath>
#include <string_view>

namespace clipmora {
namespace {

enum class Norm { Pal, Ntsc, Film };

enum class ChannelRule { Keep, Stereo, MonoBecomesStereo };
enum class PixelRule { None, Dv, Dv50 };

struct TargetPreset {
    std::string_view type;
    const char* videoCodec;  // null: leave the codec alone
    const char* audioCodec;
    const char* format;
    const char* palSize;
    const char* ntscSize;
    const char* palGop;  // null: no group-of-pictures setting
    const char* ntscGop;
    const char* videoBitrate;
    const char* maxRate;
    const char* minRate;
    const char* bufferSize;
    const char* audioBitrate;
    int sampleRate;
    ChannelRule channels;
    const char* packetSize;
    const char* muxRate;
    float muxPreload;    // seconds; 0: leave it
    const char* scanOffset;  // the MPEG-2 encoder's scan offset ("1" for SVCD players)
    const char* aspect;  // when none is set yet
    PixelRule pixelFormat;
};

constexpr TargetPreset kPresets[] = {
    {"vcd", "mpeg1video", "mp2", "vcd", "352x288", "352x240", "15", "18", "1150000", "1150000",
     "1150000", "327680", "224000", 44100, ChannelRule::Stereo, "2324", "1411200", 0.44f, nullptr,
     "4:3", PixelRule::None},
    {"svcd", "mpeg2video", "mp2", "svcd", "480x576", "480x480", "15", "18", "2040000", "2516000",
     "0", "1835008", "224000", 44100, ChannelRule::MonoBecomesStereo, "2324", nullptr, 0.0f,
     "1", "4:3", PixelRule::None},
    {"dvd", "mpeg2video", "ac3", "dvd", "720x576", "720x480", "15", "18", "6000000", "9000000",
     "0", "1835008", "448000", 48000, ChannelRule::MonoBecomesStereo, "2048", "10080000", 0.0f,
     nullptr, "16:9", PixelRule::None},
    {"dv", nullptr, nullptr, "dv", "720x576", "720x480", nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr, nullptr, 48000, ChannelRule::Stereo, nullptr, nullptr, 0.0f, nullptr,
     nullptr, PixelRule::Dv},
    {"dv50", nullptr, nullptr, "dv", "720x576", "720x480", nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr, nullptr, 48000, ChannelRule::Stereo, nullptr, nullptr, 0.0f, nullptr,
     nullptr, PixelRule::Dv50},
};

// The norm a frame rate stands for, in thousandths of a frame per second.
bool normOfRate(long long milliFps, Norm& norm)
{
    if (milliFps == 25000) {
        norm = Norm::Pal;
        return true;
    }
    if (milliFps == 23976 || milliFps == 29970) {
        norm = Norm::Ntsc;
        return true;
    }
    return false;
}

// The norm a target follows: the one named; else the one the frame rate, or
// the first input video's rate, suggests (`guessed` set); else the fallback.
Norm targetNorm(const std::string& normText, const std::string& fallbackNorm, AVRational rate,
                const std::vector<InputFile>& inputs, bool& guessed)
{
    if (normText == "pal")
        return Norm::Pal;
    if (normText == "ntsc")
        return Norm::Ntsc;
    if (normText == "film")
        return Norm::Film;
    if (rate.den == 0)
        throw FFMpegException("frame_rate is invalid.");
    guessed = true;
    Norm norm = Norm::Pal;
    bool decided = normOfRate(std::llround(rate.num * 1000.0 / rate.den), norm);
    for (const InputFile& input : inputs) {
        for (unsigned i = 0; i < input.context->nb_streams && !decided; ++i) {
            const AVStream* stream = input.context->streams[i];
            const AVRational fps = stream->r_frame_rate;
            if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && fps.den > 0)
                decided = normOfRate(std::llround(fps.num * 1000.0 / fps.den), norm);
        }
    }
    if (decided)
        return norm;
    return fallbackNorm == "film" ? Norm::Film : fallbackNorm == "ntsc" ? Norm::Ntsc : Norm::Pal;
}

}  // namespace

void TCustomFFmpeg::ApplyTarget(const std::string& type, const std::string& normText,
                                const std::string& fallbackNorm)
{
    const TargetPreset* preset = nullptr;
    for (const TargetPreset& candidate : kPresets)
        if (candidate.type == type)
            preset = &candidate;
    if (!preset)
        throw FFMpegException("Unknown target type");

    bool guessed = false;
    const Norm norm = targetNorm(normText, fallbackNorm, options_.frameRate, inputs_, guessed);
    if (guessed && options_.verbosity >= kLogInfo)
        LogMessage(kLogInfo, "Assuming %s for target.", norm == Norm::Pal ? "PAL" : "NTSC");

    const bool pal = norm == Norm::Pal;
    const char* rateText = pal ? "25" : norm == Norm::Ntsc ? "30000/1001" : "24000/1001";

    if (preset->videoCodec)
        ParseOption("vcodec", preset->videoCodec);
    if (preset->audioCodec)
        ParseOption("acodec", preset->audioCodec);
    SetOutputFormat(preset->format);
    ParseOption("s", pal ? preset->palSize : preset->ntscSize);
    ParseOption("r", rateText);
    if (preset->palGop)
        SetGenericParameter("gop", pal ? preset->palGop : preset->ntscGop);

    const struct {
        const char* name;
        const char* value;
    } generic[] = {{"b", preset->videoBitrate}, {"maxrate", preset->maxRate},
                   {"minrate", preset->minRate}, {"bufsize", preset->bufferSize},
                   {"ab", preset->audioBitrate}, {"packetsize", preset->packetSize},
                   {"muxrate", preset->muxRate}, {"scan_offset", preset->scanOffset}};
    for (const auto& parameter : generic)
        if (parameter.value)
            SetGenericParameter(parameter.name, parameter.value);

    options_.audioSampleRate = preset->sampleRate;
    if (preset->channels == ChannelRule::Stereo ||
        (preset->channels == ChannelRule::MonoBecomesStereo && options_.audioChannels == 1))
        options_.audioChannels = 2;
    if (preset->muxPreload > 0.0f)
        options_.muxPreload = preset->muxPreload;
    if (preset->aspect && options_.frameAspectRatio == 0.0f)
        ParseOption("aspect", preset->aspect);
    if (preset->pixelFormat == PixelRule::Dv50)
        ParseOption("pix_fmt", "yuv422p");
    else if (preset->pixelFormat == PixelRule::Dv)
        ParseOption("pix_fmt", pal ? "yuv420p" : "yuv411p");
}

}  // namespace clipmora
