// The command-line front end, run as a separate program.
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
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

Outcome runCli(const std::string& arguments)
{
    Outcome outcome;
    const std::string command = std::string(CLIPMORA_CLI_PATH) + " " + arguments + " 2>&1";
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
}

TEST_F(CliConvert, InterruptStopsTheRunAndTheFileStillEndsProperly)
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 8.0;
    const std::string longClip = testing::CachedMedia("clip 8s.mp4", spec);
    const std::string output = folder.file("interrupted.mkv");
    const std::string log = folder.file("stderr.txt");

    // "-re" reads the input at its own pace, so the run is still going when
    // the signal comes.
    const std::vector<std::string> arguments = {
        CLIPMORA_CLI_PATH, "convert", "-re", "-i", longClip, "-vcodec", "mpeg4", output};
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    std::stringstream text;
    text << std::ifstream(log).rdbuf();
    ASSERT_TRUE(WIFEXITED(status)) << text.str();
    EXPECT_EQ(WEXITSTATUS(status), 130) << text.str();
    EXPECT_NE(text.str().find("stopped: " + output), std::string::npos) << text.str();

    const testing::DecodedSummary summary = testing::DecodeMedia(output);
    EXPECT_GT(summary.videoFrames, 0);
    EXPECT_LT(summary.videoFrames, 150);
    EXPECT_EQ(runCli("probe " + quoted(output)).exitCode, 0);
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

}  // namespace
}  // namespace clipmora
