// Shared by the benchmarks: where the program and its codec libraries are,
// and the generated clips they measure, made once and kept in the temporary
// folder between runs.
#pragma once

#include "engine/codec_libraries.h"
#include "engine/transcoder.h"
#include "tests/support/media_generator.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace clipmora::bench {

// The folder of the running benchmark, which holds "Common".
inline std::filesystem::path ProgramFolder()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

inline std::filesystem::path BenchFolder()
{
    return std::filesystem::temp_directory_path() / "clipmora-bench";
}

// The clip `name` in the bench folder, generated from `spec` on first use.
// It is written under a temporary name first, so an interrupted run never
// leaves half a clip to be measured next time.
inline std::string BenchClip(const std::string& name, const testing::MediaSpec& spec)
{
    const std::filesystem::path clip = BenchFolder() / name;
    if (std::filesystem::exists(clip))
        return clip.string();
    std::string error;
    if (!BindCodecLibraries((ProgramFolder() / "Common").string(), true, error))
        throw std::runtime_error(error);
    std::filesystem::create_directories(BenchFolder());
    std::fprintf(stderr, "generating %s (once)...\n", clip.c_str());
    const std::string partial = clip.string() + ".part";
    testing::GenerateMedia(partial, spec);
    std::filesystem::rename(partial, clip);
    return clip.string();
}

// The picture size, rate, length and bit rates of a generated H.264 and AAC
// clip in an mp4 container.
struct ClipShape {
    int width = 0;
    int height = 0;
    int frameRate = 25;
    double seconds = 0.0;
    int64_t videoBitRate = 0;
    int64_t audioBitRate = 0;  // 0: the rate of the tests' clip
};

// The clip `name` of the given shape made as `spec` says otherwise,
// generated on first use (BenchClip).
inline std::string ShapedClip(const std::string& name, testing::MediaSpec spec,
                              const ClipShape& shape)
{
    spec.width = shape.width;
    spec.height = shape.height;
    spec.frameRateNum = shape.frameRate;
    spec.seconds = shape.seconds;
    spec.videoBitRate = shape.videoBitRate;
    if (shape.audioBitRate > 0)
        spec.audioBitRate = shape.audioBitRate;
    return BenchClip(name, spec);
}

// The mp4 clip `name` of the given shape, generated on first use (BenchClip).
inline std::string Mp4Clip(const std::string& name, const ClipShape& shape)
{
    return ShapedClip(name, testing::Mp4H264Aac(), shape);
}

// Follows the tasks of `engine` to their end: the last frame number
// reported and how the task ended. Set up before the tasks start.
class TaskEnd {
public:
    explicit TaskEnd(TTranscoder& engine)
    {
        engine.OnProgress = [this](int, int frame, int, int, float, float, int64_t, int) {
            std::lock_guard guard(lock_);
            frames_ = frame;
        };
        engine.OnTerminate = [this](int index, bool finished, bool, const std::string& message) {
            std::lock_guard guard(lock_);
            if (index >= 0) {
                finished_ = finished;
                failure_ = message;
            } else {
                done_ = true;
                ended_.notify_all();
            }
        };
    }

    // Waits for the end of all tasks; true when the task finished, else
    // `failure` says why.
    bool wait(std::string& failure)
    {
        std::unique_lock guard(lock_);
        ended_.wait(guard, [this] { return done_; });
        failure = failure_;
        return finished_;
    }

    int frames() const
    {
        std::lock_guard guard(lock_);
        return frames_;
    }

private:
    mutable std::mutex lock_;  // guards the fields below
    std::condition_variable ended_;
    bool done_ = false;
    bool finished_ = false;
    std::string failure_;
    int frames_ = 0;
};

// The middle value, or the mean of the two middle values of an even count.
inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs a benchmark's body; what it throws is printed as "name: what" and
// ends the program with 1.
template <typename Body>
int RunBench(const char* name, Body body)
{
    try {
        return body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
}

}  // namespace clipmora::bench
