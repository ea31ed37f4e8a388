// startup_bench: how long the program takes from its launch to its first
// painted window.
//
// Launches build/bin/clipmora (or the program named as the first argument)
// 11 times under the current X display, or under an Xvfb of its own when
// DISPLAY is not set. Each launch runs with CLIPMORA_EXIT_AFTER_FIRST_PAINT,
// so the program prints "painted" once its main window has been painted,
// then "ready" once the rest of its start-up is done (the codec libraries
// bound, the preview's playback framework started), and ends; a launch is
// timed from just before the process is started to each line (a program
// that ends after "painted" is timed to that alone). The first launch warms
// the disk cache and is not counted; the program's settings live in a
// folder of the bench's own, so the user's stored settings are neither read
// nor changed. Prints each time and the median of the 10 counted launches.
// Goal: launch to first paint, median at most 0.3 s.
#include "bench/bench_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace clipmora;
namespace fs = std::filesystem;

constexpr int kLaunches = 10;
// Only against a launch that never paints: the bench then fails.
constexpr int kGiveUpMs = 30000;

// Reads `fd` into `text` until it holds `wanted` or the writer ends; false
// when it ended (or kGiveUpMs passed) without it.
bool readUntil(int fd, std::string& text, const std::string& wanted)
{
    char buffer[256];
    while (text.find(wanted) == std::string::npos) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, kGiveUpMs) <= 0)
            return false;
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        text.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

// Starts `argv` with `environment`, its standard output going to a pipe
// whose reading end is returned in `output`; its standard error goes to
// `errorLog`.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const fs::path& errorLog, int& output, int extraWriteFd = -1)
{
    // Both ends close in every other process the bench starts.
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create a pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], extraWriteFd < 0 ? 1 : extraWriteFd);
    if (extraWriteFd >= 0)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorLog.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args, env;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    for (const std::string& entry : environment)
        env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);
    pid_t child = 0;
    const int failed = posix_spawn(&child, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (failed != 0) {
        close(pipeFds[0]);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
    }
    output = pipeFds[0];
    return child;
}

// The environment of this process with `changes` ("NAME=value") in place of
// the entries of the same names.
std::vector<std::string> environmentWith(const std::vector<std::string>& changes)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const std::string& change : changes)
            replaced = replaced || text.compare(0, change.find('=') + 1, change, 0,
                                                change.find('=') + 1) == 0;
        if (!replaced)
            result.push_back(text);
    }
    result.insert(result.end(), changes.begin(), changes.end());
    return result;
}

// An X server of the bench's own, for a session without a display.
class OwnXServer {
public:
    explicit OwnXServer(const fs::path& errorLog)
    {
        // Xvfb writes the display number it chose to the descriptor named.
        int output = -1;
        pid_ = spawn({"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24",
                      "-nolisten", "tcp"},
                     environmentWith({}), errorLog, output, 3);
        std::string number;
        const bool started = readUntil(output, number, "\n");
        close(output);
        if (!started) {
            stop();
            throw std::runtime_error("Xvfb did not start; see " + errorLog.string());
        }
        display_ = ":" + number.substr(0, number.find('\n'));
    }
    ~OwnXServer() { stop(); }
    const std::string& display() const { return display_; }

private:
    void stop()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    pid_t pid_ = -1;
    std::string display_;
};

// Seconds from the start of one launch to its "painted" and "ready" lines
// (ready is negative when the program did not say it).
struct LaunchTimes {
    double painted = 0.0;
    double ready = -1.0;
};

LaunchTimes timeLaunch(const std::string& program, const std::vector<std::string>& environment,
                       const fs::path& errorLog)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto since = [&start] {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    int output = -1;
    const pid_t child = spawn({program}, environment, errorLog, output);
    std::string said;
    LaunchTimes times;
    const bool painted = readUntil(output, said, "painted\n");
    times.painted = since();
    if (painted && readUntil(output, said, "ready\n"))
        times.ready = since();
    if (!painted)
        kill(child, SIGTERM);
    close(output);
    int status = 0;
    waitpid(child, &status, 0);
    if (!painted)
        throw std::runtime_error(program + " ended without painting its window; see " +
                                 errorLog.string());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(program + " failed after its first paint (" +
                                 (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                                      : "status " + std::to_string(WEXITSTATUS(status))) +
                                 "); see " + errorLog.string());
    return times;
}

void printTimes(const char* what, const std::vector<double>& times)
{
    std::printf("  %s:", what);
    for (const double seconds : times)
        std::printf(" %.3f", seconds);
    std::printf(" s\n    median of %zu: %.3f s\n", times.size(), bench::Median(times));
}

}  // namespace

int main(int argc, char** argv)
{
    return bench::RunBench("startup_bench", [&] {
        const std::string program =
            argc > 1 ? argv[1] : (bench::ProgramFolder() / "clipmora").string();
        const fs::path folder = bench::BenchFolder() / "startup";
        fs::create_directories(folder / "config");
        const fs::path errorLog = folder / "stderr.txt";

        std::unique_ptr<OwnXServer> server;
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            server = std::make_unique<OwnXServer>(folder / "xvfb.txt");
        const std::string displayName = server ? server->display() : display;
        const std::vector<std::string> environment = environmentWith(
            {"DISPLAY=" + displayName, "QT_QPA_PLATFORM=xcb",
             "CLIPMORA_EXIT_AFTER_FIRST_PAINT=1", "XDG_CONFIG_HOME=" + (folder / "config").string()});

        timeLaunch(program, environment, errorLog);  // warms the disk cache
        std::vector<double> painted, ready;
        for (int launch = 0; launch < kLaunches; ++launch) {
            const LaunchTimes times = timeLaunch(program, environment, errorLog);
            painted.push_back(times.painted);
            if (times.ready >= 0.0)
                ready.push_back(times.ready);
        }

        std::printf("%s on display %s%s\n", program.c_str(), displayName.c_str(),
                    server ? " (Xvfb of the bench)" : "");
        printTimes("launch to first paint (goal: median at most 0.3 s)", painted);
        if (!ready.empty())
            printTimes("launch to start-up finished", ready);
        return 0;
    });
}
