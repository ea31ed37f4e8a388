// segment_bench: a marked segment late in a long file should cost about what
// the same segment at its start costs, since the frame server enters the
// source close to the segment instead of reading up to it.
//
// Generates a 640x360, 10-minute H.264/AAC clip once (kept in the temporary
// folder), then splits a 5 s segment at its start and one at its end through
// the split job (trim script, engine on a worker thread), five times each,
// and prints the median wall time of each and their ratio (goal: at most 1.2).
#include "app/split_job.h"
#include "engine/transcoder.h"
#include "bench/bench_support.h"
#include "tests/support/media_generator.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

namespace {

using namespace clipmora;
namespace fs = std::filesystem;

fs::path programFolder() { return bench::ProgramFolder(); }

std::string inputClip()
{
    return bench::Mp4Clip("clip-640x360-10min.mp4",
                          {.width = 640, .height = 360, .seconds = 600.0, .videoBitRate = 1000000});
}

class Splitter {
public:
    Splitter()
    {
        if (!engine_.LoadCodecLibraries((programFolder() / "Common").string(), true))
            throw std::runtime_error(engine_.LastError());
        engine_.SetLogLevel(llError);
        engine_.OnTerminate = [this](int index, bool finished, bool, const std::string&) {
            std::lock_guard guard(lock_);
            if (index >= 0)
                finished_ = finished;
            else
                done_ = true;
            ended_.notify_all();
        };
        FillFixedLists(profile_);
        FillFormatList(profile_);
        profile_.ComboOutputFormat.SelectText("AVI - DivX Video (*.avi)");
        FormatChangeStep(profile_);
        ApplyQualityLevels(profile_);
    }
    ~Splitter() { engine_.DetachEvents(); }

    // Splits frames first..last (at 25 fps) and returns the wall time in seconds.
    double split(const std::string& source, const std::string& folder, double first, double last)
    {
        SplitRequest request;
        request.SourceFile = source;
        request.OutputFolder = folder;
        request.Overwrite = true;
        request.Marked = true;
        request.StartFrame = first;
        request.EndFrame = last;
        request.ProgramFolder = programFolder().string();
        done_ = false;
        const auto start = std::chrono::steady_clock::now();
        const SplitOutcome outcome = StartSplitJob(engine_, request, profile_);
        if (outcome.Result != SplitStart::Started)
            throw std::runtime_error("split not started: " + outcome.Detail);
        std::unique_lock guard(lock_);
        ended_.wait(guard, [this] { return done_; });
        if (!finished_)
            throw std::runtime_error("split failed");
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

private:
    TTranscoder engine_;
    TProfileControls profile_;
    std::mutex lock_;  // guards done_, finished_
    std::condition_variable ended_;
    bool done_ = false;
    bool finished_ = false;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main()
{
    try {
        Splitter splitter;  // binds the codec libraries, which the generator needs too
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
        const double atStart = median(early), atEnd = median(late);
        std::printf("5 s segment at the start: median %.3f s\n", atStart);
        std::printf("5 s segment at the end:   median %.3f s\n", atEnd);
        std::printf("end / start ratio: %.2f (goal: at most 1.2)\n", atEnd / atStart);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "segment_bench: %s\n", e.what());
        return 1;
    }
}
