// "probe" and "formats": what the media probe reads of a file, for eyes or
// as JSON for scripts, and the catalogue's output formats.
#include "cli/cli_support.h"
#include "cli/json_text.h"

#include "engine/av_probe.h"
#include "engine/ffmpeg_exception.h"
#include "profiles/format_catalogue.h"
#include "profiles/profile_options.h"

namespace clipmora::cli {
namespace {

int formatsList()
{
    for (std::string_view entry : FormatListEntries())
        if (!IsFormatSeparator(entry))
            std::printf("%.*s\n", static_cast<int>(entry.size()), entry.data());
    return kExitDone;
}

// `known` tells a time the file gives from one it does not.
std::string formatSeconds(int64_t microseconds, bool known)
{
    if (!known)
        return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
    return text;
}

// Seconds from microseconds; null when the file does not say.
std::string jsonSeconds(int64_t microseconds, bool known)
{
    return known ? JsonNumber(static_cast<double>(microseconds) / 1e6) : "null";
}

// A count or rate the file gives as a positive number; null otherwise.
std::string jsonPositive(int64_t value) { return value > 0 ? JsonNumber(value) : "null"; }

std::string streamJson(const StreamInfo& stream, int index)
{
    JsonMembers members = {{"index", JsonNumber(int64_t{index})},
                           {"type", JsonString(stream.Kind)},
                           {"codec", JsonString(stream.CodecName)}};
    if (stream.Kind == "video") {
        const bool rateKnown = stream.FrameRateNum > 0 && stream.FrameRateDen > 0;
        members.insert(members.end(),
                       {{"width", jsonPositive(stream.Width)},
                        {"height", jsonPositive(stream.Height)},
                        {"frame_rate", rateKnown ? JsonNumber(static_cast<double>(
                                                       stream.FrameRateNum) /
                                                   stream.FrameRateDen)
                                                 : "null"},
                        {"frame_rate_num", jsonPositive(stream.FrameRateNum)},
                        {"frame_rate_den", jsonPositive(stream.FrameRateDen)}});
    } else if (stream.Kind == "audio") {
        members.insert(members.end(), {{"sample_rate", jsonPositive(stream.SampleRate)},
                                       {"channels", jsonPositive(stream.Channels)}});
    }
    members.insert(members.end(),
                   {{"duration", jsonSeconds(stream.DurationUs, stream.DurationUs >= 0)},
                    {"start", jsonSeconds(stream.StartTimeUs, stream.StartTimeUs != kNoPts)},
                    {"bit_rate", jsonPositive(stream.BitRate)}});
    return JsonObject(members, 2);
}

// The same figures as the plain report, and every stream's, as one object.
void printJson(const TAVProbe& probe, const std::string& file)
{
    const FileInfo info = probe.ReadFileInfo();
    std::vector<std::string> streams;
    for (int i = 0; i < probe.StreamCount(); ++i)
        streams.push_back(streamJson(probe.ReadStreamInfo(i), i));
    const JsonMembers members = {
        {"file", JsonString(file)},
        {"duration", jsonSeconds(info.Duration, info.Duration >= 0)},
        {"start", jsonSeconds(info.StartTime, info.StartTime != kNoPts)},
        {"bit_rate", jsonPositive(info.BitRate)},
        {"programs", JsonNumber(int64_t{probe.ProgramCount()})},
        {"streams", JsonArray(streams, 1)},
    };
    std::printf("%s\n", JsonObject(members).c_str());
}

int probeFile(TAVProbe& probe, const std::string& file, bool json)
{
    if (!probe.OpenMedia(file)) {
        std::fprintf(stderr, "%s\n", probe.LastError().c_str());
        return kExitFailed;
    }
    if (json) {
        printJson(probe, file);
        return kExitDone;
    }
    const FileInfo info = probe.ReadFileInfo();
    std::printf("file: %s\n", file.c_str());
    std::printf("streams: %d (video %d, audio %d, subtitle %d), programs: %d\n",
                probe.StreamCount(), probe.VideoStreamCount(), probe.AudioStreamCount(),
                probe.SubtitleStreamCount(), probe.ProgramCount());
    std::printf("duration: %s\n", formatSeconds(info.Duration, info.Duration >= 0).c_str());
    // A start may lie before 0 (sound primed ahead of the first picture).
    std::printf("start: %s\n",
                formatSeconds(info.StartTime, info.StartTime != kNoPts).c_str());
    if (info.BitRate > 0)
        std::printf("bit rate: %d bit/s\n", info.BitRate);
    if (probe.VideoStreamCount() > 0) {
        const VideoStreamInfo video = probe.ReadFirstVideoStreamInfo();
        const double rate = video.FrameRateDen > 0
                                ? static_cast<double>(video.FrameRateNum) / video.FrameRateDen
                                : 0.0;
        std::printf("video: %s %dx%d\n", video.CodecName.c_str(), video.Width, video.Height);
        std::printf("frame rate: %.2f (%d/%d)\n", rate, video.FrameRateNum, video.FrameRateDen);
    }
    return kExitDone;
}

}  // namespace

int formats(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return usageError("formats takes no arguments");
    return formatsList();
}

int probe(const std::vector<std::string>& args)
{
    // "--json" anywhere before "--"; any other word is the file, and a word
    // that begins with "--" is taken for a mistyped option.
    bool json = false;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--") {
            files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                         args.end());
            break;
        }
        if (args[i] == "--json")
            json = true;
        else if (args[i].rfind("--", 0) == 0)
            return usageError("unknown option '" + args[i] + "'");
        else
            files.push_back(args[i]);
    }
    if (files.size() != 1)
        return usageError("probe takes one FILE");
    TTranscoder transcoder;
    // Library chatter would mix with the report; errors still reach stderr.
    transcoder.SetLogLevel(llError);
    transcoder.OnLog = [](int, TLogLevel, const std::string& message) {
        std::fprintf(stderr, "%s\n", message.c_str());
    };
    if (!loadLibraries(transcoder))
        return kExitFailed;
    try {
        return probeFile(transcoder.Probe(), files[0], json);
    } catch (const FFMpegException& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return kExitFailed;
    }
}

}  // namespace clipmora::cli
