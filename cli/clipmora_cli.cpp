// clipmora-cli: the command-line front end of the engine.
//
//   clipmora-cli probe FILE   prints what the media probe reads of FILE
//
// The codec libraries are bound from the "Common" folder beside the program,
// as the window does.
#include "engine/av_probe.h"
#include "engine/ffmpeg_exception.h"
#include "engine/library_binding.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace clipmora;

std::string programFolder()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

void usage()
{
    std::fprintf(stderr, "usage: clipmora-cli probe FILE\n");
}

std::string formatSeconds(int64_t microseconds)
{
    if (microseconds < 0)
        return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
    return text;
}

int probe(const std::string& file)
{
    TAVProbe probe;
    if (!probe.OpenMedia(file)) {
        std::fprintf(stderr, "%s\n", probe.LastError().c_str());
        return 1;
    }
    const FileInfo info = probe.ReadFileInfo();
    std::printf("file: %s\n", file.c_str());
    std::printf("streams: %d (video %d, audio %d, subtitle %d), programs: %d\n",
                probe.StreamCount(), probe.VideoStreamCount(), probe.AudioStreamCount(),
                probe.SubtitleStreamCount(), probe.ProgramCount());
    std::printf("duration: %s\n", formatSeconds(info.Duration).c_str());
    std::printf("start: %s\n", formatSeconds(info.StartTime).c_str());
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
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        usage();
        return 2;
    }
    std::string error;
    if (!BindCodecLibraries(programFolder() + "/Common", true, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // Library chatter would mix with the report; errors still reach stderr.
    SetLibraryLogLevel(0);
    try {
        if (args[0] == "probe" && args.size() == 2)
            return probe(args[1]);
    } catch (const FFMpegException& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    usage();
    return 2;
}
