// "probe" and "formats": what the media probe reads of a file, and the
// catalogue's output formats.
#include "cli/cli_support.h"

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

int probeFile(TAVProbe& probe, const std::string& file)
{
    if (!probe.OpenMedia(file)) {
        std::fprintf(stderr, "%s\n", probe.LastError().c_str());
        return kExitFailed;
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
    if (args.size() != 1) {
        usage();
        return kExitUsage;
    }
    return formatsList();
}

int probe(const std::vector<std::string>& args)
{
    if (args.size() != 2) {
        usage();
        return kExitUsage;
    }
    TTranscoder transcoder;
    // Library chatter would mix with the report; errors still reach stderr.
    transcoder.SetLogLevel(llError);
    transcoder.OnLog = [](int, TLogLevel, const std::string& message) {
        std::fprintf(stderr, "%s\n", message.c_str());
    };
    if (!loadLibraries(transcoder))
        return kExitFailed;
    try {
        return probeFile(transcoder.Probe(), args[1]);
    } catch (const FFMpegException& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return kExitFailed;
    }
}

}  // namespace clipmora::cli
