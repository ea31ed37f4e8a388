// segment_bench: a marked segment late in a long file should cost about what
// the same segment at its start costs, since the frame server enters the
// source close to the segment instead of reading up to it.
//
// Generates two 640x360, 10-minute clips once (kept in the temporary
// folder), H.264/AAC in MP4 and MPEG-4/MP3 in AVI (which is served at its own
// rate), then splits a 5 s segment at the start and one at the end of each
// through the split job (trim script, engine on a worker thread), five times
// each, and prints the median wall time of each and their ratio (goal: at
// most 1.2).
#include "bench/bench_support.h"
#include "bench/split_runner.h"
#include "framesrv/frame_server.h"
#include "tests/support/media_generator.h"

#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

using namespace clipmora;
namespace fs = std::filesystem;

}  // namespace

int main()
{
    clipmora::framesrv::InstallFrameServer();
    return bench::RunBench("segment_bench", [&] {
        // Binds the codec libraries, which the generator needs too.
        bench::Splitter splitter("AVI - DivX Video (*.avi)");
        const fs::path out = fs::temp_directory_path() / "clipmora-bench" / "segments";
        fs::create_directories(out);
        const bench::ClipShape shape{
            .width = 640, .height = 360, .seconds = 600.0, .videoBitRate = 1000000};
        const std::string clips[] = {
            bench::Mp4Clip("clip-640x360-10min.mp4", shape),
            bench::ShapedClip("clip-640x360-10min.avi", testing::AviMpeg4Mp3(), shape)};
        constexpr int kRuns = 5;
        // Both clips run at 25 frames per second, the rate of the marks.
        const double segmentFrames = 5 * 25;
        const double lastStart = 600 * 25 - segmentFrames - 25;
        for (const std::string& clip : clips) {
            std::vector<double> early, late;
            for (int run = 0; run < kRuns; ++run) {
                early.push_back(splitter.split(clip, out.string(), 0, segmentFrames - 1));
                late.push_back(splitter.split(clip, out.string(), lastStart,
                                              lastStart + segmentFrames - 1));
            }
            const double atStart = bench::Median(early), atEnd = bench::Median(late);
            std::printf("%s\n", fs::path(clip).filename().c_str());
            std::printf("  5 s segment at the start: median %.3f s\n", atStart);
            std::printf("  5 s segment at the end:   median %.3f s\n", atEnd);
            std::printf("  end / start ratio: %.2f (goal: at most 1.2)\n", atEnd / atStart);
        }
        return 0;
    });
}
