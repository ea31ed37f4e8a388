// The engine's owner for a C stdio file (two-pass statistics logs, the video
// statistics file): closed once, on every path.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace clipmora {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens `name` with the stdio `mode`; null when it cannot be opened.
inline FilePtr OpenStdioFile(const std::string& name, const char* mode)
{
    return FilePtr(std::fopen(name.c_str(), mode));
}

}  // namespace clipmora
