// The option vocabulary: the input is a "convert" argument list, one argument
// per line. What the command line's parser takes goes on to the engine, whose
// option table reads every value (sizes, rates, times, matrices, rate-control
// overrides, codec tags) while the task and its output are set up on a small
// clip. Nothing runs; the output file is removed with the task.
#include "fuzz/fuzz_support.h"

#include "cli/cli_support.h"
#include "cli/convert_arguments.h"
#include "engine/transcoder.h"
#include "tests/support/media_generator.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

using namespace clipmora;

namespace {

std::string clip;
TTranscoder* transcoder = nullptr;

// The output's name in the scratch folder, with the extension the arguments
// gave when it is a plain one (it chooses the container).
std::string outputName(const std::string& requested)
{
    std::string extension = std::filesystem::path(requested).extension().string();
    const bool plain = extension.size() <= 8 &&
                       std::all_of(extension.begin() + (extension.empty() ? 0 : 1), extension.end(),
                                   [](unsigned char c) { return std::isalnum(c) != 0; });
    return fuzz::ScratchFolder() + "/out" + (plain ? extension : std::string(".mkv"));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::PrepareLibraries();
    clip = fuzz::ScratchFolder() + "/clip.mp4";
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.seconds = 0.4;
    testing::GenerateMedia(clip, spec);
    transcoder = new TTranscoder;
    transcoder->LoadCodecLibraries(CLIPMORA_COMMON_DIR, true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    std::vector<std::string> args = fuzz::Lines(data, size);
    args.insert(args.begin(), "convert");
    cli::ConvertRequest request;
    try {
        cli::ParseConvertArguments(args, request);
    } catch (const cli::UsageError&) {
        return 0;
    } catch (const ConversionError&) {
        return 0;
    }
    const int index = transcoder->AppendTask(clip, &request.inputOptions);
    if (index >= 0) {
        const std::string output = outputName(request.output);
        transcoder->AttachOutput(index, output, &request.outputOptions);
        transcoder->ClearTaskList();
        std::error_code ignored;
        std::filesystem::remove(output, ignored);
    }
    return 0;
}
