// The process-wide input opener and the container library's own opening.
#include "engine/input_opener.h"

#include "engine/library_binding.h"

#include <atomic>

namespace clipmora {
namespace {

class LibraryOpener final : public InputOpener {
public:
    int Open(AVFormatContext** context, const std::string& fileName, const AVInputFormat* format,
             AVDictionary** options, OpenedInput& opened) const override
    {
        opened.ClearOutputs();
        return lib.avformat_open_input(context, fileName.c_str(), format, options);
    }
    std::string SourceOf(const std::string&) const override { return {}; }
};

const LibraryOpener kLibraryOpener;
std::atomic<const InputOpener*> gOpener{nullptr};

const InputOpener& installed()
{
    const InputOpener* opener = gOpener.load(std::memory_order_acquire);
    return opener ? *opener : kLibraryOpener;
}

}  // namespace

void InstallInputOpener(const InputOpener* opener)
{
    gOpener.store(opener, std::memory_order_release);
}

int OpenInputFile(AVFormatContext** context, const std::string& fileName,
                  const AVInputFormat* format, AVDictionary** options, OpenedInput& opened)
{
    return installed().Open(context, fileName, format, options, opened);
}

std::string InputSourceOf(const std::string& fileName) { return installed().SourceOf(fileName); }

}  // namespace clipmora
