// Inputs that broke the engine when fuzzed, cut down to a few bytes. Each
// is converted and cut as a user would: every attempt ends with a result
// (written, or refused with a reason), a failed cut leaves no output behind,
// and the source stays as it was.
#include "engine/stream_cut.h"
#include "tests/support/task_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace clipmora {
namespace {

namespace fs = std::filesystem;

struct DamagedInput {
    const char* name;
    const char* fileName;
    const char* hex;
};

const DamagedInput kDamagedInputs[] = {
    // An MPEG-4 picture header whose colour description holds a value no
    // standard lists: the exact cut's re-encoder took it as it stood.
    {"unknown_colour_description", "colour.mpg", "0000000100000100000001b5811ff3"},
    // MPEG audio whose channels change from one frame to the next: the sound
    // path read the later frames as if they had the first one's shape.
    {"sound_changes_shape", "sound.mpg",
     "a0fffd6404664491b4a36d2aaaaaaaa24988de75c30c72d35db3b6e1b8af80bc33db66b1b2d27563e42519fa"
     "69054bfb5a0093c1b05e06acb8c56166134a914068c9f81e5277282cdf5cb48c250d359993e9043025ae26d9"
     "69742cd446002eec2eb58a5d01cc719e97b5594a6b864b631e6e8d845cba9fba1c1e1599673e5728eeee31c7"
     "1b5aa6a8fe584533e0b9b0bb0000f3000e2de78cb748ab41c490dad03c0f63c87937713b82163ddeb66e2d71"
     "b42725a21f4d46398673438cc1dd4946ca6a6bc86fc526657d62fc8cee0225d2b6757c2d6144075a2235c829"
     "1078e540b37f06c186dac9400a161c7d91465b9a185d0bed4f154f9772db17e0d3d3993949b31c95eeece1a1"
     "00dd5990f423b0b50ce5c25f871e90fc8e8b8b73cc953a6140fffd6404664491b4a36d2aaaaaaaa24988ddb5"
     "c30c72d75d33b6ebc144ac000069668875da3a2dd0489096853a250a9f52ac8784a219ec767166d6bb99a522"
     "3450a0f9e07313c6d5c473674c308decdc527626a561101d9f0d030f644b2a4f592ee1c323875548b78d9585"
     "2092d0fffd64e2de7a6d728bff0a9f52ac8784a219ec767166d6bb99a5223450a0f9e07313c6d5c473674c30"
     "8decdc527626a561101d9f0d030f644b2a4f592ee1c323875548b78d95852092d0fffd64e2de7a6d728bff7b"
     "848d31772e7a009c2e8bd7174c6a8c69668875da3a2dd0489096853a250a9f52ac8784a219ec767166d6bb99"
     "a5223450a0f9e07313c6d5c473674c308decdc527626a561101d9f0d030f644b2a4f592ee1c323875548b78d"
     "95852092d0fffd64de7aff"},
};

std::string FromHex(const char* hex)
{
    std::string bytes;
    for (const char* digit = hex; digit[0] && digit[1]; digit += 2)
        bytes += static_cast<char>(std::stoi(std::string(digit, 2), nullptr, 16));
    return bytes;
}

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class DamagedInputTest : public testing::TaskTest,
                         public ::testing::WithParamInterface<DamagedInput> {};

TEST_P(DamagedInputTest, IsConvertedAndCutOrRefusedCleanly)
{
    const std::string source = folder.file(GetParam().fileName);
    const std::string bytes = FromHex(GetParam().hex);
    std::ofstream(source, std::ios::binary) << bytes;

    // Its first fifth of a second into small raw pictures and PCM.
    try {
        task.AddInputFile(source);
        parse({{"t", "0.2"}, {"s", "32x24"}, {"vcodec", "rawvideo"}, {"acodec", "pcm_s16le"}});
        task.CreateOutputFile(folder.file("start.nut"));
        task.StartTask(false, tpNormal);
        EXPECT_TRUE(task.Terminated());
        if (task.ExceptionRaised()) {
            EXPECT_FALSE(task.ExceptionMessage().empty());
        }
    } catch (const FFMpegException& refused) {
        EXPECT_STRNE(refused.what(), "");
    }

    for (const bool exact : {true, false}) {
        SCOPED_TRACE(exact ? "exact cut" : "cut from a key frame");
        TStreamCut cut;
        if (!cut.Open(source)) {
            EXPECT_FALSE(cut.Error().empty());
            continue;
        }
        cut.SetExact(exact);
        const std::string output = folder.file("cut" + cut.Extension());
        const StreamCutResult result = cut.Write(output, 0.0, 0.0, {});
        if (result.end == StreamCutResult::End::Failed) {
            EXPECT_FALSE(result.Error.empty());
            EXPECT_FALSE(fs::exists(output));
        }
        fs::remove(output);
    }
    EXPECT_EQ(Contents(source), bytes) << "the source is untouched";
}

INSTANTIATE_TEST_SUITE_P(FoundByFuzzing, DamagedInputTest, ::testing::ValuesIn(kDamagedInputs),
                         [](const ::testing::TestParamInfo<DamagedInput>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace clipmora
