// Shared by the benchmarks that split: the split job run through the engine
// component as the window runs it, timed, and the median of timed runs.
#pragma once

#include "job/split_job.h"
#include "bench/bench_support.h"
#include "engine/transcoder.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace clipmora::bench {

// Runs split jobs into one output format, one at a time.
class Splitter {
public:
    // `format` is the format's name as the catalogue lists it. Binds the
    // codec libraries; throws std::runtime_error when it cannot.
    explicit Splitter(const std::string& format)
    {
        if (!engine_.LoadCodecLibraries((ProgramFolder() / "Common").string(), true))
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
        profile_.ComboOutputFormat.SelectText(format);
        FormatChangeStep(profile_);
        ApplyQualityLevels(profile_);
    }
    ~Splitter() { engine_.DetachEvents(); }
    Splitter(const Splitter&) = delete;
    Splitter& operator=(const Splitter&) = delete;

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
        request.ProgramFolder = ProgramFolder().string();
        {
            std::lock_guard guard(lock_);
            done_ = false;
        }
        const auto start = std::chrono::steady_clock::now();
        const SplitOutcome outcome = StartSplitJob(engine_, request, profile_);
        if (outcome.Result != SplitStart::Started)
            throw std::runtime_error("split not started: " + outcome.Error);
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

}  // namespace clipmora::bench
