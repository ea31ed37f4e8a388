// cut_bench: keeping the original streams should write a segment in well
// under a second, far faster than re-encoding it.
//
// Generates a 1280x720, 10-minute H.264/AAC clip once (kept in the temporary
// folder), then writes a 20 s segment from its middle with the streams kept,
// five times, and the same segment through the re-encoding split job once,
// and prints the median time of the first, the time of the second and their
// ratio (goal: at least 50).
#include "bench/bench_support.h"
#include "bench/split_runner.h"
#include "engine/stream_cut.h"
#include "tests/support/media_generator.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

using namespace clipmora;
namespace fs = std::filesystem;

constexpr double kStartSeconds = 300.3;  // between two key frames
constexpr double kSegmentSeconds = 20.0;

std::string inputClip()
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.width = 1280;
    spec.height = 720;
    spec.seconds = 600.0;
    spec.videoBitRate = 2500000;
    return bench::BenchClip("clip-1280x720-10min.mp4", spec);
}

// Opens the source and writes the segment; the wall time in seconds.
double keepStreams(const std::string& source, const std::string& output)
{
    const auto start = std::chrono::steady_clock::now();
    TStreamCut cut;
    if (!cut.Open(source))
        throw std::runtime_error(cut.Error());
    const StreamCutResult result =
        cut.Write(output, kStartSeconds, kStartSeconds + kSegmentSeconds, {});
    if (result.end != StreamCutResult::End::Finished)
        throw std::runtime_error(result.error);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main()
{
    return bench::RunBench("cut_bench", [&] {
        // Binds the codec libraries, which the generator needs too.
        bench::Splitter splitter("MP4 - MPEG4 Video (*.mp4)");
        const std::string clip = inputClip();
        const fs::path out = bench::BenchFolder() / "cuts";
        fs::create_directories(out);
        constexpr int kRuns = 5;
        std::vector<double> copies;
        for (int run = 0; run < kRuns; ++run) {
            fs::remove(out / "kept.mp4");
            copies.push_back(keepStreams(clip, (out / "kept.mp4").string()));
        }
        const double kept = bench::Median(copies);
        // The same pictures by frame number at 25 per second, as the window marks them.
        const double first = std::floor(kStartSeconds * 25);
        const double reencoded =
            splitter.split(clip, out.string(), first, first + kSegmentSeconds * 25 - 1);
        std::printf("20 s of 720p with the streams kept: median %.3f s\n", kept);
        std::printf("20 s of 720p re-encoded:            %.3f s\n", reencoded);
        std::printf("re-encoded / kept: %.0f x (goal: at least 50)\n", reencoded / kept);
        return 0;
    });
}
