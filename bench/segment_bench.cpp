// segment_bench: a marked segment late in a long file should cost about what
// the same segment at its start costs, since the frame server enters the
// source close to the segment instead of reading up to it.
//
// Generates a 640x360, 10-minute H.264/AAC clip once (kept in the temporary
// folder), then splits a 5 s segment at its start and one at its end through
// the split job (trim script, engine on a worker thread), five times each,
// and prints the median wall time of each and their ratio (goal: at most 1.2).
#include "bench/bench_support.h"
#include "bench/split_runner.h"
#include "tests/support/media_generator.h"

#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

using namespace clipmora;
namespace fs = std::filesystem;

std::string inputClip()
{
    return bench::Mp4Clip("clip-640x360-10min.mp4",
                          {.width = 640, .height = 360, .seconds = 600.0, .videoBitRate = 1000000});
}

}  // namespace

int main()
{
    return bench::RunBench("segment_bench", [&] {
        // Binds the codec libraries, which the generator needs too.
        bench::Splitter splitter("AVI - DivX Video (*.avi)");
        const std::string clip = inputClip();
        const fs::path out = fs::temp_directory_path() / "clipmora-bench" / "segments";
        fs::create_directories(out);
        constexpr int kRuns = 5;
        const double segmentFrames = 5 * 25;
        const double lastStart = 600 * 25 - segmentFrames - 25;
        std::vector<double> early, late;
        for (int run = 0; run < kRuns; ++run) {
            early.push_back(splitter.split(clip, out.string(), 0, segmentFrames - 1));
            late.push_back(splitter.split(clip, out.string(), lastStart,
                                          lastStart + segmentFrames - 1));
        }
        const double atStart = bench::Median(early), atEnd = bench::Median(late);
        std::printf("5 s segment at the start: median %.3f s\n", atStart);
        std::printf("5 s segment at the end:   median %.3f s\n", atEnd);
        std::printf("end / start ratio: %.2f (goal: at most 1.2)\n", atEnd / atStart);
        return 0;
    });
}
