// TTranscoder: the engine component that the window owns. It binds the codec
// libraries, owns the media probe and holds the component's settings.
//
// Threads: every operation is called on the main thread.
#pragma once

#include "engine/av_probe.h"
#include "engine/engine_types.h"

#include <string>

namespace clipmora {

class TTranscoder {
public:
    TTranscoder() = default;
    TTranscoder(const TTranscoder&) = delete;
    TTranscoder& operator=(const TTranscoder&) = delete;

    // Binds the codec libraries from `folder` (see BindCodecLibraries) and sets
    // the libraries' log level from LogLevel(). Returns false with LastError()
    // holding the binding message when a library or entry point is missing.
    bool LoadCodecLibraries(const std::string& folder, bool versionedNames);

    const std::string& LastError() const { return lastError_; }

    TLogLevel LogLevel() const { return logLevel_; }
    // Stores the level; with bound libraries it also becomes the libraries'
    // log level (ordinal - 1) and the process-wide routing threshold.
    void SetLogLevel(TLogLevel level);

    int ProgressInterval() const { return progressInterval_; }
    // Milliseconds; 100 or less is stored as 100.
    void SetProgressInterval(int milliseconds);

    TConvertPriority ThreadPriority() const { return threadPriority_; }
    void SetThreadPriority(TConvertPriority priority) { threadPriority_ = priority; }

    static std::string Version() { return "2.0b"; }

    TAVProbe& Probe() { return probe_; }

private:
    std::string lastError_;
    TLogLevel logLevel_ = llInfo;
    int progressInterval_ = 500;
    TConvertPriority threadPriority_ = tpNormal;
    TAVProbe probe_;
};

}  // namespace clipmora
