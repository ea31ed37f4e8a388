// The command-line front end, run as a separate program.
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

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
}

}  // namespace
}  // namespace clipmora
