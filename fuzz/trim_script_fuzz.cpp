// The trim script reader: any bytes as a script's text, and as a script file
// that the frame server is asked for the source of.
#include "fuzz/fuzz_support.h"

#include "framesrv/trim_script.h"

using namespace clipmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    framesrv::TrimScript script;
    if (framesrv::ParseTrimScript(text, script) && script.source.empty())
        __builtin_trap();  // a script that reads nothing is no script
    const std::string path = fuzz::WriteScratch("segment.avs", data, size);
    const std::string source = framesrv::TrimScriptSource(path);
    if (source != (framesrv::ParseTrimScript(text, script) ? script.source : std::string()))
        __builtin_trap();  // the file and its text read differently
    framesrv::QuoteFilterValue(text);
    return 0;
}
