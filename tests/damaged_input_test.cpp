// Inputs that broke the engine when fuzzed, cut down to a few bytes. Each
// is converted and cut as a user would: every attempt ends with a result
// (written, or refused with a reason), a conversion of its first fifth of a
// second holds no picture from later, a failed cut leaves no output behind,
// and the source stays as it was.
#include "engine/stream_cut.h"
#include "tests/support/task_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

namespace clipmora {
namespace {

namespace fs = std::filesystem;

// Each input is a file of fixtures/damaged, named for what it broke.
struct DamagedInput {
    const char* name;
    const char* extension;
};

const DamagedInput kDamagedInputs[] = {
    // An MPEG-4 picture header whose colour description holds a value no
    // standard lists: the exact cut's re-encoder took it as it stood.
    {"unknown_colour_description", ".mpg"},
    // MPEG audio whose channels change from one frame to the next: the sound
    // path read the later frames as if they had the first one's shape.
    {"sound_changes_shape", ".mpg"},
    // A transport stream whose time stamps jump far ahead: every frame up to
    // the jump was written as a copy of one picture, past the recording time.
    {"time_stamp_far_ahead", ".ts"},
};

void PrintTo(const DamagedInput& input, std::ostream* out) { *out << input.name; }

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class DamagedInputTest : public testing::TaskTest,
                         public ::testing::WithParamInterface<DamagedInput> {};

TEST_P(DamagedInputTest, IsConvertedAndCutOrRefusedCleanly)
{
    const std::string name = std::string(GetParam().name) + GetParam().extension;
    const std::string bytes = Contents(std::string(CLIPMORA_DAMAGED_INPUTS_DIR "/") + name);
    ASSERT_FALSE(bytes.empty()) << name;
    const std::string source = folder.file(name);
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
        } else {
            const testing::DecodedSummary start = testing::DecodeMedia(folder.file("start.nut"));
            EXPECT_LT(start.lastVideoPtsUs, 200000) << start.videoFrames << " pictures";
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
