// convert_bench: how fast the engine converts, and how much memory it needs.
//
// Generates a 1280x720, 60 s H.264/AAC clip once (kept in the temporary
// folder for later runs), then converts it through the engine component on a
// worker thread twice: by stream copy into Matroska and by re-encoding to
// MPEG-4 video and MP3 sound in AVI. Each conversion runs in a child process
// of its own, so that its peak resident memory is its own. Prints frames,
// wall time, frames per second and peak memory per case, and their ratios.
//
//   convert_bench [--keep]      --keep leaves the converted files in place
#include "engine/codec_libraries.h"
#include "engine/transcoder.h"
#include "bench/bench_support.h"
#include "tests/support/media_generator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using namespace clipmora;

struct Case {
    const char* name;
    const char* outputName;
    const char* options;  // engine options, name=value lines
};

const Case kCases[] = {
    {"stream copy -> mkv", "copy.mkv", "vcodec=copy\nacodec=copy"},
    {"mpeg4 + mp3 -> avi", "mpeg4.avi", "vcodec=mpeg4\nb=4000000\nacodec=libmp3lame\nab=128000"},
};

struct Result {
    int frames = 0;
    double seconds = 0.0;
    long peakKiB = 0;
};

std::string programFolder() { return bench::ProgramFolder().string(); }

// The input clip, made on first use.
std::string inputClip()
{
    return bench::Mp4Clip("clip-1280x720-60s.mp4",
                          {.width = 1280, .height = 720, .seconds = 60.0,
                           .videoBitRate = 4000000, .audioBitRate = 128000});
}

// One conversion in this process; prints "frames seconds peakKiB" on stdout.
int runCase(const Case& c, const std::string& input, const std::string& output)
{
    TTranscoder transcoder;
    if (!transcoder.LoadCodecLibraries(programFolder() + "/Common", true)) {
        std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
        return 1;
    }
    transcoder.SetLogLevel(llError);
    transcoder.OnLog = [](int, TLogLevel, const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    bench::TaskEnd end(transcoder);

    TOutputOptions options;
    options.ExtraOptions = c.options;
    const auto start = std::chrono::steady_clock::now();
    const int index = transcoder.AppendTask(input);
    if (index < 0 || !transcoder.AttachOutput(index, output, &options)) {
        std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
        return 1;
    }
    transcoder.StartTasks(1);
    std::string failure;
    const bool finished = end.wait(failure);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    if (!finished) {
        std::fprintf(stderr, "%s failed: %s\n", c.name, failure.c_str());
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%d %.6f %ld\n", end.frames(), wall.count(), usage.ru_maxrss);
    return 0;
}

bool runChild(std::size_t index, const std::string& input, const std::string& output,
              Result& result)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string command = "'" + self + "' --case " + std::to_string(index) + " '" +
                                input + "' '" + output + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return false;
    const int read = std::fscanf(pipe, "%d %lf %ld", &result.frames, &result.seconds,
                                 &result.peakKiB);
    return pclose(pipe) == 0 && read == 3;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "--case") {
        const std::size_t index = std::stoul(args[1]);
        if (index >= std::size(kCases))
            return 2;
        return runCase(kCases[index], args[2], args[3]);
    }
    const bool keep = args.size() == 1 && args[0] == "--keep";

    std::string error;
    if (!BindCodecLibraries(programFolder() + "/Common", true, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    SetLibraryLogLevel(0);
    const std::string input = inputClip();

    std::vector<Result> results;
    std::printf("%-22s %8s %10s %10s %12s\n", "case", "frames", "wall (s)", "fps", "peak (MiB)");
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
        const std::string output = (bench::BenchFolder() / kCases[i].outputName).string();
        Result result;
        if (!runChild(i, input, output, result)) {
            std::fprintf(stderr, "%s: the conversion failed\n", kCases[i].name);
            return 1;
        }
        if (!keep)
            std::filesystem::remove(output);
        std::printf("%-22s %8d %10.2f %10.1f %12.1f\n", kCases[i].name, result.frames,
                    result.seconds, result.frames / result.seconds, result.peakKiB / 1024.0);
        results.push_back(result);
    }
    std::printf("re-encode / copy: wall time x%.1f, peak memory x%.2f\n",
                results[1].seconds / results[0].seconds,
                static_cast<double>(results[1].peakKiB) / results[0].peakKiB);
    return 0;
}
