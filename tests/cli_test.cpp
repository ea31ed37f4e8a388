// The command-line front end, run as a separate program.
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace clipmora {
namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

// Runs the program with `arguments` (shell words), after the shell commands
// `before` (a folder change, limits) when given; `after` redirects or pipes
// what it writes (by default standard error joins standard output).
Outcome runCli(const std::string& arguments, const std::string& before = {},
               const std::string& after = " 2>&1")
{
    Outcome outcome;
    const std::string command =
        before + std::string(CLIPMORA_CLI_PATH) + " " + arguments + after;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return outcome;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        outcome.output += buffer;
    const int status = pclose(pipe);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

// Starts the program with `arguments` (its name first), its standard error
// going into the file `log`; returns its process id, or -1.
pid_t spawnCli(const std::vector<std::string>& arguments, const std::string& log)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t child = -1;
    if (posix_spawn(&child, CLIPMORA_CLI_PATH, &actions, nullptr, argv.data(), environ) != 0)
        child = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

std::string readText(const std::string& path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

TEST(CliProbe, PrintsDurationFrameRateAndSize)
{
    testing::BindLibrariesForTests();
    testing::MediaSpec spec = testing::AviMpeg4Mp3();
    spec.frameRateNum = 30000;
    spec.frameRateDen = 1001;
    const std::string clip = testing::CachedMedia("clip 29.97.avi", spec);

    const Outcome outcome = runCli("probe '" + clip + "'");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("streams: 2 (video 1, audio 1, subtitle 0)"), std::string::npos)
        << outcome.output;
    EXPECT_NE(outcome.output.find("duration: 2.0"), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("frame rate: 29.97 (30000/1001)"), std::string::npos)
        << outcome.output;
    EXPECT_NE(outcome.output.find("video: mpeg4 160x120"), std::string::npos) << outcome.output;

    // Sound whose decoder skips its first samples starts the file before 0.
    testing::MediaSpec primed = testing::MatroskaClip();
    primed.audioCodec = "libopus";
    primed.sampleRate = 48000;
    const Outcome early = runCli("probe '" + testing::CachedMedia("opus.mkv", primed) + "'");
    EXPECT_EQ(early.exitCode, 0) << early.output;
    EXPECT_NE(early.output.find("start: -0.0"), std::string::npos) << early.output;
}

// What goes to which stream: the usage asked for on standard output with
// 0; a malformed command line as its reason and a pointer to --help (two
// lines, no parser's own text) on standard error with 2; the version with the
// versions of the codec libraries bound at run time.
TEST(CliUsage, HelpUsageErrorsAndVersionUseTheirStreamsAndExitCodes)
{
    const std::string usage = "usage: clipmora-cli probe FILE";
    const std::string pointer = "\nRun \"clipmora-cli --help\" for the usage.\n";
    const struct {
        const char* arguments;
        int exitCode;
        std::string out;  // found in standard output; empty: none written
        std::string err;  // all of standard error
    } rows[] = {
        {"--help", 0, usage, ""},
        {"-h", 0, usage, ""},
        {"split --help", 0, usage, ""},
        {"split in.mp4 out --copy -h --start 1", 0, usage, ""},
        {"convert -i in.mp4 --help", 0, usage, ""},
        {"probe -h", 0, usage, ""},
        {"frobnicate", 2, "", "unknown command 'frobnicate'" + pointer},
        {"split in.mp4 out --copy --bogus 1", 2, "", "unknown option '--bogus'" + pointer},
        {"split in.mp4 out --copy --start", 2, "", "--start needs a value" + pointer},
        {"split in.mp4 out --copy=yes", 2, "", "--copy takes no value" + pointer},
        {"split in.mp4 --copy", 2, "", "split needs IN, OUTDIR and --format (or --copy)" + pointer},
        {"split a b --format x --volume loud", 2, "",
         "'loud' is not a valid integer value" + pointer},
        {"probe", 2, "", "probe takes one FILE" + pointer},
        {"probe --jsn x.mp4", 2, "", "unknown option '--jsn'" + pointer},
        {"formats all", 2, "", "formats takes no arguments" + pointer},
        {"split in.mp4 out --format x --aspect -5", 2, "",
         "--volume takes 0 to 10, --aspect 0 to 2" + pointer},
        {"split in.mp4 out --copy --start ''", 2, "", "--start needs a value" + pointer},
        {"split in.mp4 out --copy --start 1 --end=", 2, "", "--end needs a value" + pointer},
        {"--version now", 2, "", "--version takes no arguments" + pointer},
        // After "--" the next two words are names, "-h" among them.
        {"split --copy -- -h /no/such/folder", 1, "",
         "The output folder \"/no/such/folder\" does not exist\n"},
    };
    testing::TempFolder folder;
    const std::string errors = folder.file("stderr.txt");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        const Outcome outcome = runCli(row.arguments, {}, " 2>'" + errors + "'");
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        EXPECT_EQ(readText(errors), row.err);
        if (row.out.empty())
            EXPECT_EQ(outcome.output, "");
        else
            EXPECT_NE(outcome.output.find(row.out), std::string::npos) << outcome.output;
    }

    const Outcome version = runCli("--version", {}, " 2>'" + errors + "'");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(readText(errors), "");
    const std::regex expected("clipmora-cli 2\\.0\nlibavcodec 59\\.\\d+\\.\\d+\n"
                              "libavformat 59\\.\\d+\\.\\d+\nlibavutil 57\\.\\d+\\.\\d+\n"
                              "libswscale 6\\.\\d+\\.\\d+\n(lib\\w+ \\d+\\.\\d+\\.\\d+\n){3}");
    EXPECT_TRUE(std::regex_match(version.output, expected)) << version.output;
}

// Whatever a command prints on standard output counts only when it was
// written: on a full device the command fails and says why on standard error.
TEST(CliUsage, AStandardOutputThatCannotBeWrittenFailsTheCommand)
{
    testing::BindLibrariesForTests();
    const std::string clip = testing::CachedMedia("clip.mp4", testing::Mp4H264Aac());
    testing::TempFolder folder;
    const std::string errors = folder.file("stderr.txt");
    for (const std::string& arguments : std::vector<std::string>{
             "--help", "split --help", "--version", "formats", "probe '" + clip + "'",
             "probe --json '" + clip + "'"}) {
        SCOPED_TRACE(arguments);
        const Outcome outcome = runCli(arguments, {}, " >/dev/full 2>'" + errors + "'");
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_EQ(readText(errors),
                  "Cannot write to the standard output: No space left on device\n");
    }
}

// The JSON report read back by another program holds the plain report's
// figures, the name as it is (blanks, quotes, a backslash, a tab, letters
// beyond ASCII) and the sound's rate and channels.
TEST(CliProbe, JsonReadBackGivesThePlainReport)
{
    testing::BindLibrariesForTests();
    if (std::system("python3 -c 'import json' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3 is needed to read the JSON back";
    testing::TempFolder folder;
    testing::MediaSpec spec = testing::AviMpeg4Mp3();
    spec.frameRateNum = 30000;
    spec.frameRateDen = 1001;
    spec.sampleRate = 22050;
    spec.channels = 1;
    const std::string clip = folder.file("say \"hi\" \\ \tto Zoë ü.avi");
    std::filesystem::copy_file(testing::CachedMedia("mono 29.97.avi", spec), clip);
    // Rebuilds the plain report from the JSON alone, then the sound's line.
    const std::string script = folder.file("plain.py");
    std::ofstream(script) << R"py(import json, sys
d = json.load(sys.stdin)
seconds = lambda v: "unknown" if v is None else "%.3f s" % v
kinds = [s["type"] for s in d["streams"]]
print("file: " + d["file"])
print("streams: %d (video %d, audio %d, subtitle %d), programs: %d" % (len(kinds),
      kinds.count("video"), kinds.count("audio"), kinds.count("subtitle"), d["programs"]))
print("duration: " + seconds(d["duration"]))
print("start: " + seconds(d["start"]))
if d["bit_rate"] is not None: print("bit rate: %d bit/s" % d["bit_rate"])
v = [s for s in d["streams"] if s["type"] == "video"][0]
print("video: %s %dx%d" % (v["codec"], v["width"], v["height"]))
print("frame rate: %.2f (%d/%d)" % (v["frame_rate"], v["frame_rate_num"], v["frame_rate_den"]))
a = [s for s in d["streams"] if s["type"] == "audio"][0]
print("audio: %s %d Hz %d" % (a["codec"], a["sample_rate"], a["channels"]))
)py";
    const std::string name = "'" + clip + "'";
    const Outcome plain = runCli("probe " + name);
    ASSERT_EQ(plain.exitCode, 0) << plain.output;
    const Outcome json = runCli("probe --json " + name, {}, " | python3 '" + script + "' 2>&1");
    EXPECT_EQ(json.exitCode, 0) << json.output;
    EXPECT_EQ(json.output, plain.output + "audio: mp3 22050 Hz 1\n");

    // A name that is not UTF-8 (a stray continuation byte) still gives valid
    // JSON: the byte becomes U+FFFD and the rest of the name stays.
    const std::string stray = folder.file("take\x80one.avi");
    std::filesystem::copy_file(clip, stray);
    const std::string check = folder.file("name.py");
    std::ofstream(check) << R"py(import json, sys
d = json.loads(sys.stdin.buffer.read().decode("utf-8", errors="strict"))
print(d["file"].endswith("/take\ufffdone.avi"))
)py";
    const Outcome replaced =
        runCli("probe --json '" + stray + "'", {}, " | python3 '" + check + "' 2>&1");
    EXPECT_EQ(replaced.exitCode, 0) << replaced.output;
    EXPECT_EQ(replaced.output, "True\n");
}

// The bash completion, run in bash as it runs when Tab is pressed: the
// words typed so far and the one being completed give the offers, the
// format names as the program lists them, escaped for the command line.
TEST(CliUsage, BashCompletionOffersCommandsOptionsAndFormats)
{
    const struct {
        const char* words;  // bash words; the last is the one completed
        const char* offers;
    } rows[] = {
        {"\"\"", "probe convert split formats --help --version"},
        {"sp", "split"},
        {"probe --", "--json --help"},
        {"split a b --co", "--copy"},
        {"split a b --format Ar",
         "Archos\\ AV500/GMini402\\ \\(\\*.avi\\) Archos\\ AV700\\ \\(\\*.avi\\)"},
        {"split a b --format AVI\\\\\\ -\\\\\\ D", "AVI\\ -\\ DivX\\ Video\\ \\(\\*.avi\\)"},
        {"split a b --audio-quality Lo", "Lower Lowest"},
        {"split -- --co", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.words);
        const std::string script = std::string("source ") + CLIPMORA_COMPLETION_PATH +
                                   "; COMP_WORDS=(" + CLIPMORA_CLI_PATH + " " + row.words +
                                   "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _clipmora_cli; "
                                   "echo \"${COMPREPLY[*]}\"";
        FILE* pipe = popen(("bash -c '" + script + "'").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[1024] = "";
        const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
        EXPECT_EQ(pclose(pipe), 0);
        ASSERT_TRUE(read);
        EXPECT_EQ(std::string(line), std::string(row.offers) + "\n");
    }
}

TEST(CliProbe, MissingFileFailsWithTheProbesMessage)
{
    const Outcome outcome = runCli("probe /no/such/clip.mp4");
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.output, "/no/such/clip.mp4: no such file or directory\n");
}

TEST(CliProbe, WrongUsageShowsHowToCallIt)
{
    const Outcome outcome = runCli("");
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.output.find("usage: clipmora-cli probe FILE"), std::string::npos);
    EXPECT_NE(outcome.output.find("clipmora-cli convert [input options] -i IN"),
              std::string::npos);
}

class CliConvert : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::BindLibrariesForTests();
        clip = testing::CachedMedia("clip.mp4", testing::Mp4H264Aac());
    }

    std::string quoted(const std::string& path) const { return "'" + path + "'"; }
    // Shell commands for runCli: run in the test's folder; limit the size of
    // the files written (in the shell's blocks of 512 or 1024 bytes).
    std::string inFolder() const { return "cd " + quoted(folder.path().string()) + " && "; }
    static std::string sizeLimit(std::uintmax_t blocks)
    {
        return "ulimit -f " + std::to_string(blocks) + "; ";
    }

    std::string clip;
    testing::TempFolder folder;
};

TEST_F(CliConvert, StreamCopyIntoAnotherContainer)
{
    const std::string output = folder.file("copy.mkv");
    const Outcome outcome =
        runCli("convert -i " + quoted(clip) + " -vcodec copy -acodec copy " + quoted(output));
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("done: " + output), std::string::npos) << outcome.output;

    const Outcome probed = runCli("probe " + quoted(output));
    EXPECT_EQ(probed.exitCode, 0) << probed.output;
    EXPECT_NE(probed.output.find("video: h264 160x120"), std::string::npos) << probed.output;
    EXPECT_EQ(testing::DecodeMedia(output).videoFrames, 50);
}

TEST_F(CliConvert, ReencodeWithInputAndOutputOptions)
{
    const std::string output = folder.file("late half.avi");
    // "-ss" before -i belongs to the input: the second half of the clip.
    const Outcome outcome = runCli("convert -ss 1 -i " + quoted(clip) +
                                   " -vcodec mpeg4 -b 400000 -acodec libmp3lame -ar 22050 " +
                                   quoted(output));
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("progress: "), std::string::npos) << outcome.output;

    const Outcome probed = runCli("probe " + quoted(output));
    EXPECT_EQ(probed.exitCode, 0) << probed.output;
    EXPECT_NE(probed.output.find("video: mpeg4 160x120"), std::string::npos) << probed.output;
    const testing::DecodedSummary summary = testing::DecodeMedia(output);
    EXPECT_NEAR(summary.videoFrames, 25, 2);
    EXPECT_NEAR(summary.firstFramePattern, 25, 1);
    EXPECT_EQ(summary.sampleRate, 22050);
}

TEST_F(CliConvert, FailuresEndWithTheEnginesMessage)
{
    const Outcome missing =
        runCli("convert -i /no/such/clip.mp4 -vcodec mpeg4 " + quoted(folder.file("x.avi")));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("/no/such/clip.mp4: no such file or directory"),
              std::string::npos)
        << missing.output;

    const Outcome rejected =
        runCli("convert -i " + quoted(clip) + " -qscale 0 " + quoted(folder.file("x.avi")));
    EXPECT_EQ(rejected.exitCode, 1);
    EXPECT_NE(rejected.output.find("qscale must be > 0.0 and <= 255"), std::string::npos)
        << rejected.output;

    const Outcome incompatible = runCli("convert -i " + quoted(clip) +
                                        " -acodec copy -vol 512 " + quoted(folder.file("x.mkv")));
    EXPECT_EQ(incompatible.exitCode, 1);
    EXPECT_NE(incompatible.output.find(
                  "conversion failed: -acodec copy and -vol are incompatible"),
              std::string::npos)
        << incompatible.output;
}

TEST_F(CliConvert, MalformedCommandLinesShowTheUsage)
{
    const Outcome noValue = runCli("convert -i " + quoted(clip) + " out.avi -vcodec");
    EXPECT_EQ(noValue.exitCode, 2);
    EXPECT_NE(noValue.output.find("option -vcodec needs a value"), std::string::npos)
        << noValue.output;

    const Outcome noInput = runCli("convert -vcodec mpeg4 out.avi");
    EXPECT_EQ(noInput.exitCode, 2);
    EXPECT_NE(noInput.output.find("unexpected argument 'out.avi' before -i"), std::string::npos)
        << noInput.output;

    const Outcome twoOutputs = runCli("convert -i " + quoted(clip) + " a.avi b.avi");
    EXPECT_EQ(twoOutputs.exitCode, 2);
    EXPECT_NE(twoOutputs.output.find("more than one output file"), std::string::npos);

    // Options that take a value but are not supported say so, value and all.
    for (const char* option : {"-threads 2", "-vbsf h264_mp4toannexb"}) {
        const Outcome unsupported =
            runCli("convert -i " + quoted(clip) + " " + option + " " + quoted(folder.file("t.avi")));
        EXPECT_EQ(unsupported.exitCode, 1) << unsupported.output;
        EXPECT_NE(unsupported.output.find("TODO: option - "), std::string::npos)
            << unsupported.output;
    }
}

TEST_F(CliConvert, StopSignalsEndTheRunAndLeaveNoFile)
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 8.0;
    const std::string longClip = testing::CachedMedia("clip 8s.mp4", spec);
    struct Case {
        int signal;
        const char* output;  // containers whose index is written last
    };
    for (const Case& c : {Case{SIGINT, "interrupted.mkv"}, Case{SIGTERM, "terminated.mp4"},
                          Case{SIGHUP, "hung up.avi"}}) {
        SCOPED_TRACE(c.output);
        const std::string output = folder.file(c.output);
        const std::string log = folder.file("stderr.txt");
        // "-re" reads the input at its own pace, so the run is still going
        // when the signal comes.
        const pid_t child = spawnCli(
            {CLIPMORA_CLI_PATH, "convert", "-re", "-i", longClip, "-vcodec", "mpeg4", output}, log);
        ASSERT_GT(child, 0);

        // The signal comes once the run has written pictures for a while (two
        // progress reports): a stop before the first packet leaves no file.
        const auto reports = [&] {
            const std::string text = readText(log);
            const auto first = text.find("progress: ");
            return first != std::string::npos &&
                   text.find("progress: ", first + 1) != std::string::npos;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!reports() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        kill(child, c.signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const std::string text = readText(log);
        ASSERT_TRUE(WIFEXITED(status)) << text;
        EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal) << text;
        EXPECT_NE(text.find("stopped: " + output + " was not written"), std::string::npos)
            << text;
        // Nothing of the run is left, under its name or any other.
        std::filesystem::remove(log);
        EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << text;
    }
}

// A FIFO never keeps the program waiting: split refuses it before opening
// it, and a stop signal ends a convert that waits in the FIFO's opening,
// as input or as output.
TEST_F(CliConvert, AFifoNeverKeepsTheProgramWaiting)
{
    const std::string fifo = folder.file("pipe.mp4");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = folder.file("out");
    std::filesystem::create_directory(out);
    for (const char* choice : {"--copy", "--format 'AVI - DivX Video (*.avi)' --start 1"}) {
        const Outcome refused = runCli("split " + quoted(fifo) + " " + quoted(out) + " " + choice);
        EXPECT_EQ(refused.exitCode, 1) << refused.output;
        EXPECT_NE(refused.output.find("\"" + fifo + "\" is not a regular file"),
                  std::string::npos)
            << refused.output;
    }

    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const std::string output = out + "/never.avi";
        const char* argv[] = {CLIPMORA_CLI_PATH, "convert", "-i", fifo.c_str(), output.c_str(),
                              nullptr};
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, argv[0], nullptr, nullptr, const_cast<char**>(argv),
                              environ),
                  0);
        // A writer opens the FIFO without waiting once the program has it
        // open for reading; the program then waits for data that never comes.
        int writer = -1;
        while ((writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
            ASSERT_EQ(errno, ENXIO);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        close(writer);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));

    // A FIFO as the output: the program waits in its opening for a reader
    // that never comes, and a stop signal ends it there.
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const char* argv[] = {CLIPMORA_CLI_PATH, "convert", "-i", clip.c_str(), "-f", "avi",
                              fifo.c_str(), nullptr};
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, argv[0], nullptr, nullptr, const_cast<char**>(argv),
                              environ),
                  0);
        const std::string waitChannel = "/proc/" + std::to_string(child) + "/wchan";
        while (readText(waitChannel) != "wait_for_partner")
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    }
}

TEST_F(CliConvert, FormatsListsTheCatalogue)
{
    const Outcome outcome = runCli("formats");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(std::count(outcome.output.begin(), outcome.output.end(), '\n'), 30);
    EXPECT_NE(outcome.output.find("iRiver PMP100 (*.avi)\n"), std::string::npos);
    EXPECT_EQ(outcome.output.find("-----"), std::string::npos) << "no separators";
}

TEST_F(CliConvert, SplitWithMarksCutsTheSegment)
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.frameRateNum = 30000;
    spec.frameRateDen = 1001;
    spec.seconds = 3.0;
    const std::string clip = testing::CachedMedia("ntsc.mp4", spec);
    // 1.0 s to 2.0 s of a 29.97 fps clip: frames 25 to 50 at 25 fps.
    const Outcome outcome = runCli("split '" + clip + "' '" + folder.path().string() +
                                   "' --format 'AVI - DivX Video (*.avi)' --start 1 --end 2");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
    const testing::DecodedSummary out = testing::DecodeMedia(folder.file("ntsc.avi"));
    EXPECT_EQ(out.videoFrames, 26);
    EXPECT_EQ(out.firstFramePattern, 29) << "the picture on screen at 1.0 s";
    EXPECT_NEAR(static_cast<double>(out.audioSamples) / out.sampleRate, 26 / 25.0, 0.06);
}

// What a split's output streams carry, as each choice names it.
struct StreamFigures {
    double videoKbps = 0, audioKbps = 0;
    int width = 0, height = 0;
    double pictureRate = 0;
    int channels = 0;
    double level = 0;  // root mean square of the samples, full scale = 32768
};

StreamFigures measureStreams(const std::string& file)
{
    StreamFigures figures;
    const testing::VideoStreamPackets video = testing::ReadVideoPackets(file);
    const testing::DecodedSummary decoded = testing::DecodeMedia(file);
    double videoBytes = 0;
    for (const testing::VideoPacket& packet : video.packets)
        videoBytes += static_cast<double>(packet.data.size());
    const double seconds = static_cast<double>(decoded.audioSamples) / decoded.sampleRate;
    figures.videoKbps = videoBytes * 8 / 1000 / seconds;
    // The rest of the file is sound, but for a few kilobytes of container.
    figures.audioKbps =
        (static_cast<double>(std::filesystem::file_size(file)) - videoBytes) * 8 / 1000 / seconds;
    figures.width = decoded.width;
    figures.height = decoded.height;
    figures.pictureRate = decoded.videoFrames / seconds;
    figures.channels = decoded.channels;
    double sum = 0;
    for (const int16_t sample : decoded.samples)
        sum += static_cast<double>(sample) * sample;
    figures.level = decoded.samples.empty() ? 0 : std::sqrt(sum / decoded.samples.size());
    return figures;
}

// Every choice of a split changes what it names on the output and nothing
// else: over six seconds of pictures and sound that take every bit they are
// given (noise), each row changes the figures of the plain split as it says.
TEST_F(CliConvert, EverySplitChoiceChangesWhatItNamesAndNothingElse)
{
    const std::string busy = folder.file("busy.mkv");
    const std::string pipeline =
        "gst-launch-1.0 -q videotestsrc pattern=snow num-buffers=150 ! "
        "video/x-raw,format=I420,width=40,height=30,framerate=25/1 ! videoscale ! "
        "video/x-raw,width=320,height=240 ! "
        "matroskamux name=mux ! filesink location=" + quoted(busy) + " "
        "audiotestsrc wave=pink-noise volume=0.25 num-buffers=259 samplesperbuffer=1024 ! "
        "audio/x-raw,format=S16LE,rate=44100,channels=2 ! mux. >/dev/null 2>&1";
    if (std::system(pipeline.c_str()) != 0 || !std::filesystem::exists(busy))
        GTEST_SKIP() << "GStreamer's videotestsrc, audiotestsrc and matroskamux are needed";
    const std::string out = folder.file("out");
    const auto split = [&](const std::string& choices) {
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        const Outcome outcome = runCli("split " + quoted(busy) + " " + quoted(out) +
                                       " --format 'MP4 - MPEG4 Video (*.mp4)' " + choices);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
        return measureStreams(out + "/busy.mp4");
    };
    // A rate is a target the encoders meet to within 30 % over a few seconds.
    const auto nearRate = [](double kbps, double target) {
        EXPECT_NEAR(kbps, target, target * 0.3);
    };
    const StreamFigures plain = split("");
    // The format's Normal levels and its own size, rate and channels.
    nearRate(plain.videoKbps, 1200);
    nearRate(plain.audioKbps, 128);
    EXPECT_EQ(plain.width, 320);
    EXPECT_NEAR(plain.pictureRate, 25, 0.5);
    EXPECT_EQ(plain.channels, 2);
    const struct {
        const char* choices;
        void (*expected)(StreamFigures&);  // from the plain split's figures
    } rows[] = {
        {"--video-quality Highest", [](StreamFigures& f) { f.videoKbps = 2500; }},
        {"--video-quality Lowest", [](StreamFigures& f) { f.videoKbps = 512; }},
        {"--audio-quality Highest", [](StreamFigures& f) { f.audioKbps = 256; }},
        {"--audio-quality Lowest", [](StreamFigures& f) { f.audioKbps = 64; }},
        {"--size '640 x 480'",
         [](StreamFigures& f) {
             f.width = 640;
             f.height = 480;
         }},
        {"--frame-rate '15.0 fps'", [](StreamFigures& f) { f.pictureRate = 15; }},
        // The down-mix adds the two channels at -3 dB each, so channels that
        // carry the same sound come out 3 dB louder.
        {"--channels Mono",
         [](StreamFigures& f) {
             f.channels = 1;
             f.level *= std::sqrt(2.0);
         }},
        // Position 2 of 0..10: 100/255 of the source's level.
        {"--volume 2", [](StreamFigures& f) { f.level *= 100.0 / 255; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.choices);
        StreamFigures expected = plain;
        row.expected(expected);
        const StreamFigures figures = split(row.choices);
        nearRate(figures.videoKbps, expected.videoKbps);
        nearRate(figures.audioKbps, expected.audioKbps);
        EXPECT_EQ(figures.width, expected.width);
        EXPECT_EQ(figures.height, expected.height);
        EXPECT_NEAR(figures.pictureRate, expected.pictureRate, 0.5);
        EXPECT_EQ(figures.channels, expected.channels);
        EXPECT_NEAR(figures.level, expected.level, expected.level * 0.1);
    }
}

TEST_F(CliConvert, SplitWithCopyAndKeyFrameKeepsTheStreamsFromTheKeyFrame)
{
    const std::string out = folder.file("out");
    std::filesystem::create_directory(out);
    // Key frames every 12 pictures at 25 per second: 0.96 s is the last one
    // at or before 1 s; the last picture before 1.6 s is number 39.
    const Outcome outcome =
        runCli("split " + quoted(clip) + " " + quoted(out) + " --copy --keyframe --start 1 --end 1.6");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("Started at the key frame at 0.96 s"), std::string::npos)
        << outcome.output;
    const testing::DecodedSummary copied = testing::DecodeMedia(out + "/clip.mp4");
    EXPECT_EQ(copied.firstFramePattern, 24);
    EXPECT_EQ(copied.lastFramePattern, 39);

    // "--" ends the options before IN: a name that begins with "-" is a file,
    // and the choices may still follow the names.
    std::filesystem::copy_file(clip, folder.file("-x.mp4"));
    std::filesystem::create_directory(folder.file("dashed"));
    const Outcome dashed = runCli("split -- -x.mp4 dashed --copy", inFolder());
    ASSERT_EQ(dashed.exitCode, 0) << dashed.output;
    EXPECT_EQ(testing::DecodeMedia(folder.file("dashed/-x.mp4")).videoFrames, 50);

    // A name that says nothing of the type: the copy is what the source is,
    // under its name.
    const std::string odd = folder.file("clip.xyz");
    std::filesystem::copy_file(clip, odd);
    const std::string named = folder.file("named");
    std::filesystem::create_directory(named);
    const Outcome asIs = runCli("split " + quoted(odd) + " " + quoted(named) + " --copy");
    EXPECT_EQ(asIs.exitCode, 0) << asIs.output;
    EXPECT_EQ(testing::DecodeMedia(named + "/clip.xyz").videoFrames, 50);
}

// Marks of any size, for a copy of the streams and for a re-encoding split:
// a start at 0 is taken, equal marks hold nothing to copy, a start past the
// end is refused however large, an end past it is the end. A key-frame start
// is a choice of the copy alone.
TEST_F(CliConvert, SplitMarksOfAnySize)
{
    const struct {
        const char* arguments;
        int exitCode;
        const char* said;
        int first, last;  // pictures of the written file; -1: none written
    } cases[] = {
        {"--copy --keyframe --start 0 --end 0.5", 0, "done", 0, 11},
        {"--copy --start 1 --end 1", 1, "the same", -1, -1},
        {"--copy --start 0.41 --end 0.42", 1, "the same", -1, -1},
        {"--copy --start 9e15", 1, "starts after the end", -1, -1},
        {"--copy --start 0.96 --end 1e308", 0, "done", 24, 49},
        {"--copy --keyframe --start 0:01 --end 0:00:01.600", 0, "done", 24, 39},
        {"--format 'AVI - DivX Video (*.avi)' --start 1e308", 1, "starts after the end", -1, -1},
        {"--format 'AVI - DivX Video (*.avi)' --start 1 --end 1e308", 0, "done", 25, 49},
        {"--format 'AVI - DivX Video (*.avi)' --keyframe --start 1", 2, "--keyframe applies to --copy only", -1, -1},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string out = folder.file("out" + std::to_string(row++));
        std::filesystem::create_directory(out);
        const Outcome outcome = runCli("split " + quoted(clip) + " " + quoted(out) + " " + c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.output;
        EXPECT_NE(outcome.output.find(c.said), std::string::npos) << outcome.output;
        if (c.first < 0) {
            EXPECT_TRUE(std::filesystem::is_empty(out));
            continue;
        }
        ASSERT_FALSE(std::filesystem::is_empty(out)) << outcome.output;
        const std::string written = std::filesystem::directory_iterator(out)->path().string();
        const testing::DecodedSummary summary = testing::DecodeMedia(written);
        EXPECT_EQ(summary.firstFramePattern, c.first);
        EXPECT_EQ(summary.lastFramePattern, c.last);
    }
}

// Several inputs are split in turn with the same choices: one that is no
// video fails with its own line and the others still get their outputs; an
// input named like an earlier one never overwrites that one's output.
TEST_F(CliConvert, SplitSeveralInputsGoesOnAfterAFailedOne)
{
    const std::string garbage = folder.file("not a video.mp4");
    std::ofstream(garbage) << "no pictures here\n";
    const std::string second = folder.file("zweite Datei \"2\".mp4");
    std::filesystem::copy_file(clip, second);
    const std::string out = folder.file("out");
    std::filesystem::create_directory(out);
    const Outcome outcome =
        runCli("split " + quoted(clip) + " " + quoted(garbage) + " " + quoted(second) + " " +
               quoted(clip) + " " + quoted(out) + " --copy --keyframe --end 0.5 --overwrite");
    EXPECT_EQ(outcome.exitCode, 1) << outcome.output;
    const std::string lines[] = {
        "done: " + out + "/clip.mp4\n",
        "Splitting \"" + garbage + "\" from 0.000 s to 0.500 s failed\n",
        "done: " + out + "/zweite Datei \"2\".mp4\n",
        "done: " + out + "/clip-1.mp4\n",
    };
    std::size_t at = 0;
    for (const std::string& line : lines) {
        at = outcome.output.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "in order in\n" << outcome.output;
    }
    for (const char* written : {"clip.mp4", "zweite Datei \"2\".mp4", "clip-1.mp4"}) {
        SCOPED_TRACE(written);
        const testing::DecodedSummary summary = testing::DecodeMedia(out + "/" + written);
        EXPECT_EQ(summary.firstFramePattern, 0);
        EXPECT_EQ(summary.lastFramePattern, 11);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 3);
}

TEST_F(CliConvert, SplitRefusesWhatTheFormatDoesNotOffer)
{
    const std::string clip = testing::CachedMedia("clip.mp4", testing::Mp4H264Aac());
    const std::string folderText = "'" + folder.path().string() + "'";
    Outcome outcome = runCli("split '" + clip + "' " + folderText + " --format 'Betamax'");
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.output.find("Unknown format \"Betamax\""), std::string::npos);
    outcome = runCli("split '" + clip + "' " + folderText +
                     " --format 'iPod (*.mp4)' --size '1920 x 1080'");
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.output.find("no size \"1920 x 1080\"; the format offers: \"320 x 240\""),
              std::string::npos)
        << outcome.output;
    outcome = runCli("split '" + clip + "' /no/such/folder --format 'iPod (*.mp4)'");
    EXPECT_EQ(outcome.exitCode, 1);
}

TEST_F(CliConvert, AnOutputThatIsTheInputIsRefusedUntouched)
{
    namespace fs = std::filesystem;
    const std::string source = folder.file("a.mp4");
    fs::copy_file(clip, source);
    fs::create_symlink(source, folder.file("link.mp4"));
    fs::create_hard_link(source, folder.file("hard.mp4"));
    const auto size = fs::file_size(source);
    for (const std::string output : {"a.mp4", "./a.mp4", "link.mp4", "hard.mp4"}) {
        const Outcome outcome =
            runCli("convert -y -i a.mp4 -vcodec copy -acodec copy " + output, inFolder());
        EXPECT_EQ(outcome.exitCode, 1) << output << "\n" << outcome.output;
        EXPECT_NE(outcome.output.find("is an input of this task"), std::string::npos)
            << outcome.output;
        EXPECT_EQ(fs::file_size(source), size) << output;
    }
    EXPECT_EQ(testing::DecodeMedia(source).videoFrames, 50);
}

TEST_F(CliConvert, AFailedWriteFailsTheRunAndLeavesNoBrokenFile)
{
    const Outcome full = runCli("convert -i " + quoted(clip) + " -f avi /dev/full");
    EXPECT_EQ(full.exitCode, 1) << full.output;
    EXPECT_NE(full.output.find("No space left on device"), std::string::npos) << full.output;
    EXPECT_EQ(full.output.find("done"), std::string::npos) << full.output;

    // A file size limit stands in for a disk that fills up before the end.
    struct Case {
        const char* output;
        const char* options;
    };
    for (const Case& c : {Case{"cut.mp4", "-vcodec copy -acodec copy"},
                          Case{"cut.avi", "-vcodec mpeg4 -acodec libmp3lame"}}) {
        SCOPED_TRACE(c.output);
        const std::string output = folder.file(c.output);
        const std::string command =
            "convert -i " + quoted(clip) + " " + c.options + " " + quoted(output);
        const Outcome whole = runCli(command);
        ASSERT_EQ(whole.exitCode, 0) << whole.output;
        const auto size = std::filesystem::file_size(output);
        std::filesystem::remove(output);
        // Below the size whichever block size the shell counts in.
        const Outcome cut = runCli(command, sizeLimit(size / 2048));
        EXPECT_EQ(cut.exitCode, 1) << cut.output;
        EXPECT_NE(cut.output.find(std::string(c.output) + ": File too large"), std::string::npos)
            << cut.output;
        EXPECT_FALSE(std::filesystem::exists(output)) << "the unfinished file is removed";
    }
}

TEST_F(CliConvert, AnExistingOutputIsReplacedOnlyWhenAskedAndOnlyByARunThatWrites)
{
    testing::MediaSpec odd = testing::AviMpeg4Mp3();
    odd.width = 161;
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 4.0;
    const std::string longer = testing::CachedMedia("four seconds.mp4", spec);
    struct Case {
        const char* overwrite;
        std::string source;
        int exitCode;
        const char* says;
        int pictures;  // in the output file afterwards
    };
    const Case cases[] = {
        {"", longer, 1, "exists already; -y replaces it", 50},
        {"-y", testing::CachedMedia("odd width.avi", odd), 1, "conversion failed", 50},
        {"-y", longer, 0, "done", 100},
    };
    const std::string output = folder.file("p.mkv");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        std::filesystem::copy_file(clip, output, std::filesystem::copy_options::overwrite_existing);
        const Outcome outcome = runCli("convert " + std::string(c.overwrite) + " -i " +
                                       quoted(c.source) + " " + quoted(output));
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.output;
        EXPECT_NE(outcome.output.find(c.says), std::string::npos) << outcome.output;
        EXPECT_EQ(testing::DecodeMedia(output).videoFrames, c.pictures);
    }
}

TEST_F(CliConvert, OutputsWithoutPicturesFailAndLeaveNoFile)
{
    testing::MediaSpec late = testing::Mp4H264Aac();
    late.audioDelayUs = 1000000;
    testing::MediaSpec oneKeyFrame = testing::StartOffset();
    oneKeyFrame.startTimeUs = 0;
    oneKeyFrame.seconds = 8.0;
    oneKeyFrame.keyFrameInterval = 1000;
    const std::string out = folder.file("out");
    const std::string split = " " + quoted(out) + " --format 'MP4 - MPEG4 Video (*.mp4)' ";
    struct Case {
        std::string command;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {"split " + quoted(clip) + split + "--start 20 --end 25",
         {"No picture and no sound was written",
          "Splitting \"" + clip + "\" from 20.000 s to 25.000 s failed"}},
        {"split " + quoted(clip) + split + "--start 1.99", {"No picture was written"}},
        {"split " + quoted(testing::CachedMedia("one key frame.ts", oneKeyFrame)) + split +
             "--start 4 --end 6",
         {"No picture was written"}},
        // Sound runs on for a second after the last picture.
        {"convert -ss 2.5 -i " + quoted(testing::CachedMedia("sound after.mp4", late)) + " " +
             quoted(out + "/late.avi"),
         {"No picture was written"}},
        // Marks after the last picture, where only sound is left: the copy
        // refuses them as the re-encoding split does.
        {"split " + quoted(testing::CachedMedia("sound after.mp4", late)) + split +
             "--start 2.5 --end 2.9",
         {"No picture was written"}},
        {"split " + quoted(testing::CachedMedia("sound after.mp4", late)) + " " + quoted(out) +
             " --copy --start 2.5 --end 2.9",
         {"No picture was written", "from 2.500 s to 2.900 s failed"}},
        {"split " + quoted(testing::CachedMedia("sound after.mp4", late)) + " " + quoted(out) +
             " --copy --keyframe --start 2.5",
         {"No picture was written"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::filesystem::create_directory(out);
        const Outcome outcome = runCli(c.command);
        EXPECT_EQ(outcome.exitCode, 1) << outcome.output;
        for (const std::string& text : c.says)
            EXPECT_NE(outcome.output.find(text), std::string::npos) << outcome.output;
        EXPECT_TRUE(std::filesystem::is_empty(out)) << outcome.output;
        std::filesystem::remove_all(out);
    }
}

// A source that holds less than its header says (or that is cut short while
// it is read) fails every kind of split that was to reach past its real end,
// naming where it ended; the whole intact source, also when its probed
// length is a packet off its data, splits as before.
TEST_F(CliConvert, ASourceThatEndsBeforeTheEndItPromisedFailsTheSplit)
{
    testing::MediaSpec spec = testing::MatroskaClip();
    spec.seconds = 20.0;
    const std::string whole = testing::CachedMedia("twenty seconds.mkv", spec);
    const std::string cut = folder.file("cut short.mkv");
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(whole) / 4);
    const std::string out = folder.file("out");
    const std::string reencoded = " --format 'MP4 - MPEG4 Video (*.mp4)'";
    const struct {
        std::string source;
        std::string choices;
        std::string end;  // the end the message names; empty: the split is done
    } rows[] = {
        {cut, reencoded + " --start 3 --end 18", "before the end mark at 18.0 s"},
        {cut, reencoded + " --start 1", "before the end it gives at 20.0 s"},
        {cut, " --copy --start 2 --end 18", "before the end mark at 18.0 s"},
        {cut, " --copy --keyframe --start 2 --end 18", "before the end mark at 18.0 s"},
        {cut, " --copy", "before the end it gives at 20.0 s"},
        {whole, reencoded + " --start 19", ""},
        {whole, " --copy", ""},
        {whole, " --copy --start 15 --end 19.99", ""},
    };
    const std::regex ended("\"" + cut + "\" ended at ([0-9.]+) s, (.*)\n");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source + row.choices);
        std::filesystem::create_directory(out);
        const Outcome outcome = runCli("split " + quoted(row.source) + " " + quoted(out) +
                                       row.choices);
        std::smatch match;
        if (row.end.empty()) {
            EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
            EXPECT_FALSE(std::filesystem::is_empty(out)) << outcome.output;
        } else {
            EXPECT_EQ(outcome.exitCode, 1) << outcome.output;
            ASSERT_TRUE(std::regex_search(outcome.output, match, ended)) << outcome.output;
            EXPECT_LT(std::stod(match[1]), 10.0) << outcome.output;
            EXPECT_EQ(match[2], row.end) << outcome.output;
            EXPECT_TRUE(std::filesystem::is_empty(out)) << outcome.output;
        }
        std::filesystem::remove_all(out);
    }
}

TEST_F(CliConvert, MarksMustBeSecondsFromZeroUp)
{
    const std::string start = "split " + quoted(clip) + " " + quoted(folder.path().string()) +
                              " --format 'iPod (*.mp4)' ";
    for (const char* marks : {"--start nan", "--end nan", "--end inf", "--start -inf",
                              "--start -1", "--start 1 --end -2", "--start 1:60",
                              "--end 0:1:00"}) {
        const Outcome outcome = runCli(start + marks);
        EXPECT_EQ(outcome.exitCode, 2) << marks << "\n" << outcome.output;
        EXPECT_NE(outcome.output.find("takes a number of seconds, 0 or more"), std::string::npos)
            << marks << "\n" << outcome.output;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST_F(CliConvert, UnknownOptionsAreNamedAndStandardOutputIsRefused)
{
    const Outcome outcome = runCli("convert -i " + quoted(clip) +
                                   " -vcodec mpeg4 -frames:v 10 -nosuchopt 4 -preset fast " +
                                   quoted(folder.file("named.avi")));
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
    const auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (auto at = outcome.output.find(text); at != std::string::npos;
             at = outcome.output.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("ignored option: frames:v\n"), 1u) << outcome.output;
    EXPECT_EQ(count("ignored option: nosuchopt\n"), 1u) << outcome.output;
    EXPECT_EQ(count("ignored option: preset"), 1u) << "the MPEG-4 encoder has no presets";

    const Outcome taken = runCli("convert -i " + quoted(clip) + " -vcodec libx264 -preset fast " +
                                 quoted(folder.file("taken.mp4")));
    ASSERT_EQ(taken.exitCode, 0) << taken.output;
    EXPECT_EQ(taken.output.find("ignored option"), std::string::npos) << taken.output;

    const Outcome piped = runCli("convert -i " + quoted(clip) + " -f mp4 -", inFolder());
    EXPECT_EQ(piped.exitCode, 2) << piped.output;
    EXPECT_NE(piped.output.find("writing to standard output is not supported"), std::string::npos)
        << piped.output;
    EXPECT_FALSE(std::filesystem::exists(folder.file("-")));
}

TEST_F(CliConvert, TheSoundOfASegmentNeverLiesOnDiskWhole)
{
    // This transport stream's sound (MPEG audio layer 2) is decoded outside
    // the filter graph and fed into it.
    testing::MediaSpec spec = testing::StartOffset();
    spec.startTimeUs = 0;
    spec.seconds = 3.0;
    const std::string source = testing::CachedMedia("mpeg sound.ts", spec);
    const std::string out = folder.file("out");
    std::filesystem::create_directory(out);
    // One second of it decoded is 192 kB; the files of the split (the
    // script, the output of about 50 kB) stay below 75 or 150 kB, whichever
    // block size the shell counts in.
    const Outcome outcome = runCli("split " + quoted(source) + " " + quoted(out) +
                                       " --format 'AVI - DivX Video (*.avi)' --start 1 --end 1.96",
                                   sizeLimit(150));
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
    const testing::DecodedSummary summary = testing::DecodeMedia(folder.file("out/mpeg sound.avi"));
    EXPECT_EQ(summary.videoFrames, 25);
    EXPECT_NEAR(static_cast<double>(summary.audioSamples) / summary.sampleRate, 1.0, 0.05);
}

TEST_F(CliConvert, SplitsRunningAtOnceIntoOneFolderEachKeepTheirOwnSegment)
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 4.0;
    const std::string source = testing::CachedMedia("four seconds.mp4", spec);
    struct Case {
        const char* marks;
        int first, last;  // pictures of the source
    };
    // Re-encoded at 25 fps from the marks; copied from the key frame (every
    // 12 pictures) at or before the start to the last picture before the end.
    const Case cases[] = {{"--start 0 --end 0.36", 0, 9},         {"--start 1 --end 2.96", 25, 74},
                          {"--start 0.4 --end 0.56", 10, 14},     {"--start 0 --end 3.96", 0, 99},
                          {"--copy --keyframe --start 1 --end 1.6", 24, 39},
                          {"--copy --keyframe --start 2 --end 2.6", 48, 64},
                          {"--copy --keyframe --start 0.6 --end 1", 12, 24}};
    const std::string out = folder.file("out");
    std::filesystem::create_directory(out);
    std::vector<pid_t> children;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::vector<std::string> arguments = {CLIPMORA_CLI_PATH, "split", source, out};
        if (std::string(cases[i].marks).rfind("--copy", 0) != 0) {
            arguments.push_back("--format");
            arguments.push_back("AVI - DivX Video (*.avi)");
        }
        std::istringstream marks(cases[i].marks);
        for (std::string word; marks >> word;)
            arguments.push_back(word);
        children.push_back(spawnCli(arguments, folder.file("log" + std::to_string(i))));
        ASSERT_GT(children.back(), 0);
    }
    std::set<std::string> outputs;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].marks);
        int status = 0;
        ASSERT_EQ(waitpid(children[i], &status, 0), children[i]);
        const std::string log = readText(folder.file("log" + std::to_string(i)));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
        const auto done = log.find("done: ");
        ASSERT_NE(done, std::string::npos) << log;
        const std::string output = log.substr(done + 6, log.find('\n', done) - done - 6);
        EXPECT_TRUE(outputs.insert(output).second) << output << " was written twice";
        const testing::DecodedSummary summary = testing::DecodeMedia(output);
        EXPECT_EQ(summary.firstFramePattern, cases[i].first);
        EXPECT_EQ(summary.lastFramePattern, cases[i].last);
        EXPECT_EQ(summary.videoFrames, cases[i].last - cases[i].first + 1);
    }
    const auto files = std::distance(std::filesystem::directory_iterator(out), {});
    EXPECT_EQ(files, static_cast<long>(std::size(cases))) << "nothing more, nothing lost";
}

// What a run leaves in its folder: every file (hidden ones too, those in
// subfolders as "folder/name") and what it holds.
struct LeftFile {
    enum class Kind { Text, Media, Fifo };
    std::string name;
    Kind kind = Kind::Text;
    std::string text;      // Text: the whole content
    int pictures = 0;      // Media: decoded pictures
    int firstPattern = 0;  // Media: the pattern of the first one
};

LeftFile textFile(std::string name, std::string text)
{
    return {std::move(name), LeftFile::Kind::Text, std::move(text)};
}

LeftFile mediaFile(std::string name, int pictures, int firstPattern = 0)
{
    return {std::move(name), LeftFile::Kind::Media, {}, pictures, firstPattern};
}

void expectFilesLeft(const std::filesystem::path& folder, const std::vector<LeftFile>& expected)
{
    namespace fs = std::filesystem;
    std::set<std::string> found, wanted;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        if (!entry.is_directory())
            found.insert(fs::relative(entry.path(), folder).string());
    for (const LeftFile& file : expected) {
        wanted.insert(file.name);
        const std::string path = (folder / file.name).string();
        SCOPED_TRACE(file.name);
        switch (file.kind) {
        case LeftFile::Kind::Text: {
            const std::string text = readText(path);
            EXPECT_TRUE(text == file.text) << text.size() << " bytes: " << text.substr(0, 40);
            break;
        }
        case LeftFile::Kind::Fifo:
            EXPECT_TRUE(fs::is_fifo(path));
            break;
        case LeftFile::Kind::Media: {
            const testing::DecodedSummary summary = testing::DecodeMedia(path);
            EXPECT_EQ(summary.videoFrames, file.pictures);
            EXPECT_EQ(summary.firstFramePattern, file.firstPattern);
            break;
        }
        }
    }
    EXPECT_EQ(found, wanted);
}

// A run that fails replaces nothing and leaves no file of its own; no
// output takes the name of an input; names are files, never addresses.
TEST_F(CliConvert, EveryRunLeavesWholeFilesOrNothing)
{
    namespace fs = std::filesystem;
    const std::string mkv = testing::CachedMedia("clip.mkv", testing::MatroskaClip());
    const std::string mp4Format = " --format 'MP4 - MPEG4 Video (*.mp4)' ";
    const auto write = [](const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    };
    struct Case {
        std::string what;
        std::function<void(const fs::path&)> setUp;  // in the run's folder
        std::string command;                         // run in that folder
        int exitCode;
        std::vector<LeftFile> left;
    };
    const auto precious = [&](const char* name) {
        return [&, name](const fs::path& at) {
            fs::copy_file(clip, at / "s.mp4");
            write(at / name, "precious\n");
        };
    };
    const Case cases[] = {
        {"a failed convert -y", precious("k.mp4"), "convert -y -i s.mp4 -acodec pcm_s16le k.mp4",
         1, {mediaFile("s.mp4", 50), textFile("k.mp4", "precious\n")}},
        {"convert -y starting past the end", precious("k.mp4"),
         "convert -y -ss 5 -i s.mp4 k.mp4", 1,
         {mediaFile("s.mp4", 50), textFile("k.mp4", "precious\n")}},
        {"convert -y into a full file system", precious("k.avi"),
         sizeLimit(8) + CLIPMORA_CLI_PATH + " convert -y -i s.mp4 -vcodec mpeg4 k.avi", 1,
         {mediaFile("s.mp4", 50), textFile("k.avi", "precious\n")}},
        {"a file: output without -y", precious("dst/out.mkv"),
         "convert -i s.mp4 -t 1 file:dst/out.mkv", 1,
         {mediaFile("s.mp4", 50), textFile("dst/out.mkv", "precious\n")}},
        {"split --overwrite of an input that does not open",
         [&](const fs::path& at) {
             write(at / "bad.mkv", "not a video\n");
             write(at / "bad.mp4", "precious\n");
         },
         "split bad.mkv ." + mp4Format + "--overwrite", 1,
         {textFile("bad.mkv", "not a video\n"), textFile("bad.mp4", "precious\n")}},
        {"several inputs, one named as another's output",
         [&](const fs::path& at) {
             fs::copy_file(mkv, at / "a.mkv");
             fs::copy_file(clip, at / "a.mp4");
         },
         "split a.mkv a.mp4 ." + mp4Format + "--overwrite --start 1 --end 2", 0,
         {mediaFile("a.mkv", 50), mediaFile("a.mp4", 50), mediaFile("a-1.mp4", 25, 25),
          mediaFile("a-2.mp4", 25, 25)}},
        {"names after -- that begin with -",
         [&](const fs::path& at) {
             fs::copy_file(clip, at / "-x.mp4");
             fs::create_directory(at / "-out");
         },
         "split --copy --keyframe -- -x.mp4 -out", 0,
         {mediaFile("-x.mp4", 50), mediaFile("-out/-x.mp4", 50)}},
        {"a FIFO where the output would go",
         [&](const fs::path& at) {
             fs::copy_file(mkv, at / "f.mkv");
             ASSERT_EQ(mkfifo((at / "f.mp4").c_str(), 0600), 0);
         },
         "split f.mkv ." + mp4Format + "--overwrite", 0,
         {mediaFile("f.mkv", 50), {"f.mp4", LeftFile::Kind::Fifo, {}, 0, 0}, mediaFile("f-1.mp4", 50)}},
    };
    // Names the libraries would read as another protocol's address are
    // files: each is the four-second clip, beside a two-second decoy of the
    // name the address would lead to.
    testing::MediaSpec fourSeconds = testing::Mp4H264Aac();
    fourSeconds.seconds = 4.0;
    const std::string longer = testing::CachedMedia("four seconds.mp4", fourSeconds);
    struct Address {
        const char* name;
        const char* decoy;
    };
    const Address addresses[] = {{"file:other.mp4", "other.mp4"}, {"cache:x.mp4", "x.mp4"},
                                 {"async:x.mp4", "x.mp4"},        {"concat:a.mp4|a.mp4", "a.mp4"},
                                 {"a:b=c.mp4", "c.mp4"},          {"12:30.mp4", "30.mp4"},
                                 {"http:x.mp4", "x.mp4"}};
    std::vector<Case> named;
    for (const Address& a : addresses) {
        const auto setUp = [&, a](const fs::path& at) {
            fs::copy_file(longer, at / a.name);
            fs::copy_file(clip, at / a.decoy);
            fs::create_directory(at / "o");
        };
        const std::vector<LeftFile> sources = {mediaFile(a.name, 100), mediaFile(a.decoy, 50)};
        std::vector<LeftFile> copied = sources;
        copied.push_back(mediaFile(std::string("o/") + a.name, 50, 25));
        named.push_back({a.name, setUp, "split " + quoted(a.name) + " o --copy --start 1 --end 3",
                         0, copied});
        const std::string reencoded = std::string("o/") + fs::path(a.name).stem().string() + ".mp4";
        std::vector<LeftFile> marked = sources;
        marked.push_back(mediaFile(reencoded, 26, 25));
        named.push_back({a.name, setUp,
                         "split " + quoted(a.name) + " o" + mp4Format + "--start 1 --end 2", 0,
                         marked});
    }
    named.push_back({"an output folder named as an address",
                     [&](const fs::path& at) {
                         fs::copy_file(clip, at / "s.mp4");
                         fs::create_directory(at / "file:out");
                         fs::create_directory(at / "out");
                     },
                     "split s.mp4 file:out --copy", 0,
                     {mediaFile("s.mp4", 50), mediaFile("file:out/s.mp4", 50)}});
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.insert(all.end(), named.begin(), named.end());
    for (const Case& c : all) {
        SCOPED_TRACE(c.what + (" / " + c.command));
        const fs::path at = folder.path() / "run";
        fs::create_directory(at);
        c.setUp(at);
        const bool shell = c.command.rfind("ulimit", 0) == 0;
        const std::string enter = "cd " + quoted(at.string()) + " && ";
        Outcome outcome;
        if (shell) {
            // The limit applies to the program only.
            const std::string command = enter + "(" + c.command + ") 2>&1";
            FILE* pipe = popen(command.c_str(), "r");
            ASSERT_NE(pipe, nullptr);
            char buffer[512];
            while (std::fgets(buffer, sizeof buffer, pipe))
                outcome.output += buffer;
            const int status = pclose(pipe);
            outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else {
            outcome = runCli(c.command, enter);
        }
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.output;
        if (c.exitCode != 0) {
            EXPECT_EQ(outcome.output.find("done"), std::string::npos) << outcome.output;
        }
        expectFilesLeft(at, c.left);
        fs::remove_all(at);
    }
    // The probe reads the file named too.
    const fs::path at = folder.path() / "probed";
    fs::create_directory(at);
    for (const Address& a : addresses) {
        SCOPED_TRACE(a.name);
        fs::copy_file(longer, at / a.name, fs::copy_options::overwrite_existing);
        fs::copy_file(clip, at / a.decoy, fs::copy_options::overwrite_existing);
        const Outcome probed = runCli("probe " + quoted(a.name), "cd " + quoted(at.string()) + " && ");
        EXPECT_EQ(probed.exitCode, 0) << probed.output;
        EXPECT_NE(probed.output.find("video: h264 160x120"), std::string::npos) << probed.output;
        EXPECT_NE(probed.output.find("duration: 4.0"), std::string::npos) << probed.output;
    }
}

// "done" is said only for a file that is there: an output folder removed or
// renamed while the run writes fails the run, naming the file.
TEST_F(CliConvert, AnOutputFolderGoneDuringTheRunFailsIt)
{
    namespace fs = std::filesystem;
    for (const bool remove : {false, true}) {
        SCOPED_TRACE(remove ? "removed" : "renamed");
        const fs::path out = folder.path() / "out";
        const fs::path moved = folder.path() / "moved";
        fs::create_directory(out);
        const std::string output = (out / "x.mkv").string();
        const std::string log = folder.file("stderr.txt");
        // "-re" reads the input at its own pace: the run lasts two seconds.
        const pid_t child =
            spawnCli({CLIPMORA_CLI_PATH, "convert", "-re", "-i", clip, output}, log);
        ASSERT_GT(child, 0);
        // The run writes once it reports progress.
        while (readText(log).find("progress: ") == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (remove)
            fs::remove_all(out);
        else
            fs::rename(out, moved);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const std::string text = readText(log);
        ASSERT_TRUE(WIFEXITED(status)) << text;
        EXPECT_EQ(WEXITSTATUS(status), 1) << text;
        EXPECT_EQ(text.find("done"), std::string::npos) << text;
        EXPECT_NE(text.find("\"" + output + "\" was not written"), std::string::npos) << text;
        EXPECT_FALSE(fs::exists(output));
        EXPECT_TRUE(remove || fs::is_empty(moved));
        fs::remove_all(moved);
        fs::remove(log);
    }
}

// Splits that replace one name at once each write a file of their own; the
// name ends up with one of them whole.
TEST_F(CliConvert, SplitsOverwritingOneNameAtOnceLeaveOneWholeFile)
{
    const std::string out = folder.file("out");
    std::filesystem::create_directory(out);
    std::vector<pid_t> children;
    for (int i = 0; i < 3; ++i) {
        children.push_back(spawnCli({CLIPMORA_CLI_PATH, "split", clip, out, "--format",
                                     "AVI - DivX Video (*.avi)", "--overwrite"},
                                    folder.file("log" + std::to_string(i))));
        ASSERT_GT(children.back(), 0);
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        int status = 0;
        ASSERT_EQ(waitpid(children[i], &status, 0), children[i]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << readText(folder.file("log" + std::to_string(i)));
    }
    expectFilesLeft(out, {mediaFile("clip.avi", 50)});
    // Its sound is whole: as long as that of a split on its own.
    const std::string alone = folder.file("alone");
    std::filesystem::create_directory(alone);
    ASSERT_EQ(runCli("split " + quoted(clip) + " " + quoted(alone) +
                     " --format 'AVI - DivX Video (*.avi)'")
                  .exitCode,
              0);
    EXPECT_EQ(testing::DecodeMedia(out + "/clip.avi").audioSamples,
              testing::DecodeMedia(alone + "/clip.avi").audioSamples);
}

}  // namespace
}  // namespace clipmora
