// split_bench: how fast the split job runs, how well it uses the cores, and
// how much memory it needs.
//
// Generates a 1280x720, 60 s, 30 fps H.264/AAC clip once (kept in the bench
// folder), then splits it with the format "MP4 - MPEG4 Video (*.mp4)" and
// its defaults, through the split job as the window and the command line run
// it: the whole file and the marked 20 s segment from 20 s to 40 s. Every
// split runs in a child process of its own, so that its CPU time and peak
// memory are its own. Prints per job the median wall time, CPU time,
// CPU / wall, frames per second and peak memory over five runs.
//
// When the command-line converter of the same codec libraries is installed
// ("ffmpeg" on the PATH), it does the same jobs (same codecs, bit rates,
// size, rate and sampling) in runs interleaved with ours, and the ratios of
// the wall times are printed too; a second time with its sound taken through
// 16-bit samples (for sound decoded from a lossy source this alone costs the
// AAC encoder a good part of its time, which is why the engine's audio path
// keeps such sound as float). It is only a yardstick, never needed.
//
// Last, a 5 s segment at the end of a 10-minute clip against the same
// segment at its start (goal: at most 1.2 x).
//
//   split_bench [--runs N] [--no-long]
#include "job/split_job.h"
#include "engine/codec_libraries.h"
#include "engine/transcoder.h"
#include "framesrv/frame_server.h"
#include "bench/bench_support.h"
#include "tests/support/media_generator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace clipmora;
namespace fs = std::filesystem;

constexpr const char* kFormat = "MP4 - MPEG4 Video (*.mp4)";
// Trim scripts number their frames at 25 per second, whatever the source's
// rate, and the marked segment comes out at that rate.
constexpr double kScriptRate = 25.0;

// An H.264/AAC clip at 30 fps, made on first use.
std::string clip(const std::string& name, int width, int height, double seconds, int bitRate)
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.width = width;
    spec.height = height;
    spec.frameRateNum = 30;
    spec.seconds = seconds;
    spec.videoBitRate = bitRate;
    spec.audioBitRate = 128000;
    return bench::BenchClip(name, spec);
}

TProfileControls mp4Profile()
{
    TProfileControls profile;
    FillFixedLists(profile);
    FillFormatList(profile);
    profile.ComboOutputFormat.SelectText(kFormat);
    FormatChangeStep(profile);
    ApplyQualityLevels(profile);
    return profile;
}

// One split job in this process, seconds `from`..`to` of the source (both
// negative: the whole file). Prints the frame count on stdout.
int runSplit(const std::string& source, const std::string& folder, double from, double to)
{
    TTranscoder engine;
    if (!engine.LoadCodecLibraries((bench::ProgramFolder() / "Common").string(), true)) {
        std::fprintf(stderr, "%s\n", engine.LastError().c_str());
        return 1;
    }
    // SPLIT_BENCH_LOG=1..4 shows the engine's log at that level.
    const char* logLevel = std::getenv("SPLIT_BENCH_LOG");
    engine.SetLogLevel(logLevel ? static_cast<TLogLevel>(std::atoi(logLevel)) : llError);
    if (logLevel)
        engine.OnLog = [](int, TLogLevel, const std::string& text) {
            std::fprintf(stderr, "%s\n", text.c_str());
        };
    bench::TaskEnd end(engine);
    SplitRequest request;
    request.SourceFile = source;
    request.OutputFolder = folder;
    request.Overwrite = true;
    request.Marked = from >= 0.0;
    request.StartFrame = from * kScriptRate;
    request.EndFrame = to * kScriptRate - 1;
    request.ProgramFolder = bench::ProgramFolder().string();
    const SplitOutcome outcome = StartSplitJob(engine, request, mp4Profile());
    if (outcome.Result != SplitStart::Started) {
        std::fprintf(stderr, "split not started: %s\n", outcome.Error.c_str());
        return 1;
    }
    std::string failure;
    const bool finished = end.wait(failure);
    engine.DetachEvents();
    if (!finished) {
        std::fprintf(stderr, "split failed: %s\n", failure.c_str());
        return 1;
    }
    std::printf("%d\n", end.frames());
    return 0;
}

struct Sample {
    double wall = 0.0, cpu = 0.0;
    long peakKiB = 0;
    int frames = 0;
};

// Runs `args` as a child process (its stdout read for a frame count when
// `framesOnStdout`) and measures it with wait4.
bool measure(const std::vector<std::string>& args, bool framesOnStdout, Sample& sample)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    if (!framesOnStdout)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const auto start = std::chrono::steady_clock::now();
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t n; spawned == 0 && (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    if (spawned != 0)
        return false;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return false;
    sample.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    sample.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    sample.peakKiB = usage.ru_maxrss;
    if (framesOnStdout)
        sample.frames = std::atoi(output.c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Job {
    const char* name;
    double from, to;  // seconds of the source; negative: the whole file
};

// The reference converter doing `job` the way the split job's options ask;
// with `sixteenBitSound` its sound passes through 16-bit samples on the way to
// the encoder.
std::vector<std::string> referenceCommand(const Job& job, const std::string& source,
                                          const SplitJob& split, const std::string& output,
                                          bool sixteenBitSound)
{
    const TOutputOptions& o = split.Output;
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-y", "-loglevel", "error"};
    if (job.from >= 0.0)
        args.insert(args.end(), {"-ss", std::to_string(job.from)});
    args.insert(args.end(), {"-i", source});
    if (job.from >= 0.0)
        args.insert(args.end(), {"-t", std::to_string(job.to - job.from)});
    args.insert(args.end(), {"-c:v", o.VideoCodec, "-b:v", std::to_string(o.VideoBitrate),
                             "-c:a", "aac", "-b:a", std::to_string(o.AudioBitrate),
                             "-ar", std::to_string(o.AudioSampleRate),
                             "-ac", std::to_string(o.AudioChannels)});
    if (sixteenBitSound)
        args.insert(args.end(), {"-af", "aformat=sample_fmts=s16"});
    if (!o.FrameSize.empty())
        args.insert(args.end(), {"-s", o.FrameSize});
    if (!o.FrameRate.empty())
        args.insert(args.end(), {"-r", o.FrameRate});
    else if (job.from >= 0.0)
        args.insert(args.end(), {"-r", std::to_string(static_cast<int>(kScriptRate))});
    args.push_back(output);
    return args;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void printRow(const char* name, const std::vector<Sample>& samples)
{
    std::vector<double> wall, cpu, ratio, peak;
    for (const Sample& s : samples) {
        wall.push_back(s.wall);
        cpu.push_back(s.cpu);
        ratio.push_back(s.cpu / s.wall);
        peak.push_back(static_cast<double>(s.peakKiB) / 1024.0);
    }
    const int frames = samples.front().frames;
    std::printf("%-28s %8.2f %8.2f %8.2f %8.1f %9.1f\n", name, median(wall), median(cpu),
                median(ratio), frames > 0 ? frames / median(wall) : 0.0, median(peak));
}

void printRatio(const char* name, const std::vector<Sample>& ours,
                const std::vector<Sample>& theirs)
{
    std::vector<double> ourWall, theirWall;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        ourWall.push_back(ours[i].wall);
        theirWall.push_back(theirs[i].wall);
    }
    std::printf("  wall time / %s: %.2f\n", name, median(ourWall) / median(theirWall));
}

// Runs `job` with the split and, when installed, with the reference (plain,
// and with 16-bit sound), interleaved; prints the rows. False on a failure.
bool runJob(const Job& job, const std::string& source, const fs::path& out, int runs,
            bool reference)
{
    SplitRequest request;
    request.SourceFile = source;
    const SplitJob split = PrepareSplitJob(request, mp4Profile());
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string referenceOutput = (out / "reference.mp4").string();
    std::vector<Sample> ours, theirs, theirs16;
    for (int run = 0; run < runs; ++run) {
        Sample sample;
        if (!measure({self, "--split", source, out.string(), std::to_string(job.from),
                      std::to_string(job.to)},
                     true, sample)) {
            std::fprintf(stderr, "%s: the split failed\n", job.name);
            return false;
        }
        ours.push_back(sample);
        for (std::vector<Sample>* samples : {&theirs, &theirs16}) {
            if (!reference)
                break;
            if (!measure(referenceCommand(job, source, split, referenceOutput,
                                          samples == &theirs16),
                         false, sample)) {
                std::fprintf(stderr, "%s: the reference failed\n", job.name);
                return false;
            }
            sample.frames = ours.front().frames;
            samples->push_back(sample);
        }
    }
    printRow(job.name, ours);
    if (reference) {
        printRow("  reference", theirs);
        printRatio("reference", ours, theirs);
        printRow("  reference, 16-bit sound", theirs16);
        printRatio("reference with 16-bit sound", ours, theirs16);
    }
    return true;
}

bool referenceInstalled()
{
    return std::system("ffmpeg -version > /dev/null 2>&1") == 0;
}

int runAll(int runs, bool longClip)
{
    std::string error;
    if (!BindCodecLibraries((bench::ProgramFolder() / "Common").string(), true, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    SetLibraryLogLevel(0);
    const std::string source = clip("clip-1280x720-30fps-60s.mp4", 1280, 720, 60.0, 4000000);
    const fs::path out = bench::BenchFolder() / "split";
    fs::create_directories(out);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const bool reference = referenceInstalled();

    const Job jobs[] = {{"whole file", -1.0, -1.0}, {"marked 20 s (20 s to 40 s)", 20.0, 40.0}};
    std::printf("%-28s %8s %8s %8s %8s %9s\n", "job", "wall (s)", "cpu (s)", "cpu/wall", "fps",
                "peak MiB");
    for (const Job& job : jobs)
        if (!runJob(job, source, out, runs, reference))
            return 1;
    if (!longClip)
        return 0;

    const std::string longSource =
        clip("clip-640x360-30fps-10min.mp4", 640, 360, 600.0, 1000000);
    std::vector<double> early, late;
    for (int run = 0; run < runs; ++run) {
        Sample sample;
        for (const auto& [from, times] : {std::pair{0.0, &early}, std::pair{594.0, &late}}) {
            if (!measure({self, "--split", longSource, out.string(), std::to_string(from),
                          std::to_string(from + 5.0)},
                         true, sample)) {
                std::fprintf(stderr, "the 5 s segment at %.0f s failed\n", from);
                return 1;
            }
            times->push_back(sample.wall);
        }
    }
    std::printf("5 s segment of 10 minutes: start %.2f s, end %.2f s, end / start %.2f "
                "(goal: at most 1.2)\n",
                median(early), median(late), median(late) / median(early));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    clipmora::framesrv::InstallFrameServer();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return bench::RunBench("split_bench", [&] {
        if (args.size() == 5 && args[0] == "--split")
            return runSplit(args[1], args[2], std::stod(args[3]), std::stod(args[4]));
        int runs = 5;
        bool longClip = true;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--runs" && i + 1 < args.size())
                runs = std::max(1, std::atoi(args[++i].c_str()));
            else if (args[i] == "--no-long")
                longClip = false;
        }
        return runAll(runs, longClip);
    });
}
