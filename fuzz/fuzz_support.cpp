#include "fuzz/fuzz_support.h"

#include "engine/codec_libraries.h"
#include "framesrv/frame_server.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace clipmora::fuzz {
namespace {

// The scratch folder; removed when the process ends normally (a crashing
// input leaves it for inspection).
struct Scratch {
    Scratch()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "clipmora-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a scratch folder");
        path = pattern;
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

}  // namespace

void PrepareLibraries()
{
    std::string error;
    if (!BindCodecLibraries(CLIPMORA_COMMON_DIR, true, error)) {
        std::fprintf(stderr, "cannot bind the codec libraries: %s\n", error.c_str());
        std::abort();
    }
    SetLibraryLogLevel(-1);
    framesrv::InstallFrameServer();
}

const std::string& ScratchFolder()
{
    static const Scratch scratch;
    return scratch.path;
}

std::string WriteScratch(const std::string& name, const uint8_t* data, std::size_t size)
{
    const std::string path = ScratchFolder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

std::vector<std::string> Lines(const uint8_t* data, std::size_t size)
{
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n' || data[i] == '\0')
            lines.emplace_back();
        else
            lines.back() += static_cast<char>(data[i]);
    }
    if (lines.back().empty())
        lines.pop_back();
    return lines;
}

uint32_t TakeNumber(const uint8_t*& data, std::size_t& size)
{
    uint32_t number = 0;
    for (int i = 0; i < 4 && size > 0; ++i, ++data, --size)
        number = (number << 8) | *data;
    return number;
}

}  // namespace clipmora::fuzz
