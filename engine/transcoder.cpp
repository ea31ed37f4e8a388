// The engine component's binding and settings.
#include "engine/transcoder.h"

#include "engine/library_binding.h"

namespace clipmora {

bool TTranscoder::LoadCodecLibraries(const std::string& folder, bool versionedNames)
{
    std::string error;
    if (!BindCodecLibraries(folder, versionedNames, error)) {
        lastError_ = error;
        return false;
    }
    SetLibraryLogLevel(static_cast<int>(logLevel_) - 1);
    return true;
}

void TTranscoder::SetLogLevel(TLogLevel level)
{
    logLevel_ = level;
    if (CodecLibrariesBound())
        SetLibraryLogLevel(static_cast<int>(level) - 1);
}

void TTranscoder::SetProgressInterval(int milliseconds)
{
    progressInterval_ = milliseconds <= 100 ? 100 : milliseconds;
}

}  // namespace clipmora
