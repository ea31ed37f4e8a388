// The kept-streams cut and the exact cut's planning: any bytes as a media
// file, cut between two marks that the input's first bytes give, once exactly
// and once from a key frame. The source is never changed, and a cut that
// fails leaves no output behind.
#include "fuzz/fuzz_support.h"

#include "engine/stream_cut.h"

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace clipmora;
namespace fs = std::filesystem;

namespace {

const char* const kExtensions[] = {".mp4", ".mkv", ".avi", ".ts", ".mpg", ".mov"};

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void cut(const std::string& source, bool exact, double start, double end)
{
    TStreamCut cut;
    if (!cut.Open(source))
        return;
    cut.SetExact(exact);
    const std::string output = fuzz::ScratchFolder() + "/cut" + cut.Extension();
    const StreamCutResult result = cut.Write(output, start, end, {});
    std::error_code ignored;
    if (result.end == StreamCutResult::End::Failed && fs::exists(output, ignored))
        __builtin_trap();  // a failed cut leaves nothing behind
    fs::remove(output, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::PrepareLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const uint32_t choice = fuzz::TakeNumber(data, size);
    // Marks in tenths of a second up to 25.5 s; an end of 0 runs to the end.
    const double start = (choice & 0xff) / 10.0;
    const double end = ((choice >> 8) & 0xff) / 10.0;
    const char* extension = kExtensions[(choice >> 16) % std::size(kExtensions)];
    const std::string source = fuzz::WriteScratch(std::string("source") + extension, data, size);
    const std::string before(reinterpret_cast<const char*>(data), size);
    cut(source, true, start, end);
    cut(source, false, start, end);
    if (contents(source) != before)
        __builtin_trap();  // the source was changed
    return 0;
}
