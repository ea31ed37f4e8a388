// cut_bench: keeping the original streams should write a segment in well
// under a second, far faster than re-encoding it, and the exact cut should
// cost little more than the pictures it re-encodes next to the marks.
//
// Generates a 1920x1080, 10-minute H.264/AAC clip with a key frame every 2 s
// once (kept in the temporary folder), then writes a 20 s segment from its
// middle, with marks between key frames, five times each from the key frame
// and exactly, and the same segment through the re-encoding split job once.
// Prints the medians, the split's time and the ratios (goals: the key-frame
// cut at least 50 times faster than the split, the exact cut at least 10
// times, and the exact cut at most three times the key-frame cut plus the
// time it spends re-encoding pictures: decoding them from their key frame and
// encoding them).
#include "bench/bench_support.h"
#include "bench/split_runner.h"
#include "engine/stream_cut.h"
#include "framesrv/frame_server.h"
#include "tests/support/media_generator.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

using namespace clipmora;
namespace fs = std::filesystem;

constexpr double kStartSeconds = 300.7;  // between two key frames
constexpr double kEndSeconds = 320.9;

std::string inputClip()
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.width = 1920;
    spec.height = 1080;
    spec.seconds = 600.0;
    spec.keyFrameInterval = 50;
    spec.bFrames = 2;
    spec.videoBitRate = 5000000;
    return bench::BenchClip("clip-1920x1080-10min-gop50.mp4", spec);
}

// Opens the source and writes the segment; the wall time in seconds.
double keepStreams(const std::string& source, const std::string& output, bool exact,
                   StreamCutResult& result)
{
    const auto start = std::chrono::steady_clock::now();
    TStreamCut cut;
    if (!cut.Open(source))
        throw std::runtime_error(cut.Error());
    cut.SetExact(exact);
    result = cut.Write(output, kStartSeconds, kEndSeconds, {});
    if (result.end != StreamCutResult::End::Finished)
        throw std::runtime_error(result.Error);
    if (exact && !result.exact)
        throw std::runtime_error("no exact cut: " + result.exactFallback);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main()
{
    clipmora::framesrv::InstallFrameServer();
    return bench::RunBench("cut_bench", [&] {
        // Binds the codec libraries, which the generator needs too.
        bench::Splitter splitter("MP4 - MPEG4 Video (*.mp4)");
        const std::string clip = inputClip();
        const fs::path out = bench::BenchFolder() / "cuts";
        fs::create_directories(out);
        constexpr int kRuns = 5;
        std::vector<double> copies, exacts;
        StreamCutResult result;
        for (int run = 0; run < kRuns; ++run) {
            fs::remove(out / "kept.mp4");
            copies.push_back(keepStreams(clip, (out / "kept.mp4").string(), false, result));
            fs::remove(out / "exact.mp4");
            exacts.push_back(keepStreams(clip, (out / "exact.mp4").string(), true, result));
        }
        const double kept = bench::Median(copies);
        const double exact = bench::Median(exacts);
        // The same pictures by frame number at 25 per second, as the window marks them.
        const double first = std::floor(kStartSeconds * 25);
        const double reencoded =
            splitter.split(clip, out.string(), first, std::floor(kEndSeconds * 25) - 1);
        const double budget = 3 * kept + result.reencodingSeconds;
        std::printf("20 s of 1080p, key-frame cut:  median %.3f s\n", kept);
        std::printf("20 s of 1080p, exact cut:      median %.3f s (%.2f s + %.2f s of pictures "
                    "re-encoded in %.3f s)\n",
                    exact, result.reencodedStartSeconds, result.reencodedEndSeconds,
                    result.reencodingSeconds);
        std::printf("20 s of 1080p re-encoded:      %.3f s\n", reencoded);
        std::printf("re-encoded / key-frame cut: %.0f x (goal: at least 50)\n", reencoded / kept);
        std::printf("re-encoded / exact cut:     %.1f x (goal: at least 10)\n", reencoded / exact);
        std::printf("exact cut / (3 x key-frame cut + its re-encoding time): %.2f (goal: at most 1)\n",
                    exact / budget);
        return 0;
    });
}
