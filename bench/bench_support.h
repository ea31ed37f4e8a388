// Shared by the benchmarks: where the program and its codec libraries are,
// and the generated clips they measure, made once and kept in the temporary
// folder between runs.
#pragma once

#include "engine/library_binding.h"
#include "tests/support/media_generator.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace clipmora::bench {

// The folder of the running benchmark, which holds "Common".
inline std::filesystem::path ProgramFolder()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

inline std::filesystem::path BenchFolder()
{
    return std::filesystem::temp_directory_path() / "clipmora-bench";
}

// The clip `name` in the bench folder, generated from `spec` on first use.
// It is written under a temporary name first, so an interrupted run never
// leaves half a clip to be measured next time.
inline std::string BenchClip(const std::string& name, const testing::MediaSpec& spec)
{
    const std::filesystem::path clip = BenchFolder() / name;
    if (std::filesystem::exists(clip))
        return clip.string();
    std::string error;
    if (!BindCodecLibraries((ProgramFolder() / "Common").string(), true, error))
        throw std::runtime_error(error);
    std::filesystem::create_directories(BenchFolder());
    std::fprintf(stderr, "generating %s (once)...\n", clip.c_str());
    const std::string partial = clip.string() + ".part";
    testing::GenerateMedia(partial, spec);
    std::filesystem::rename(partial, clip);
    return clip.string();
}

}  // namespace clipmora::bench
