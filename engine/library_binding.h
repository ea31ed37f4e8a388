// Run-time binding to the codec libraries.
//
// The engine never links the FFmpeg libraries at build time. BindCodecLibraries
// loads them from a folder the caller names and resolves every entry point of
// library_entries.h into one process-wide table, `lib`. Everything else in the
// engine calls the libraries only through that table, so a missing library or
// entry point is a clean start-up error instead of a loader failure.
//
// Threads: binding and unbinding run on the main thread before any task exists;
// afterwards the table is only read, from any thread.
#pragma once

#include "engine/engine_types.h"
#include "engine/library_entries.h"

#include <cstdarg>
#include <string>

namespace clipmora {

// The libraries in binding order.
enum class CodecLibrary { Codec, Format, Utility, Scaling, Resample, Filter, Device };
inline constexpr int kCodecLibraryCount = 7;

struct LibraryApi {
#define CLIPMORA_DECLARE_ENTRY(name) decltype(&::name) name = nullptr;
    CLIPMORA_AVCODEC_ENTRIES(CLIPMORA_DECLARE_ENTRY)
    CLIPMORA_AVFORMAT_ENTRIES(CLIPMORA_DECLARE_ENTRY)
    CLIPMORA_AVUTIL_ENTRIES(CLIPMORA_DECLARE_ENTRY)
    CLIPMORA_SWSCALE_ENTRIES(CLIPMORA_DECLARE_ENTRY)
    CLIPMORA_SWRESAMPLE_ENTRIES(CLIPMORA_DECLARE_ENTRY)
    CLIPMORA_AVFILTER_ENTRIES(CLIPMORA_DECLARE_ENTRY)
    CLIPMORA_AVDEVICE_ENTRIES(CLIPMORA_DECLARE_ENTRY)
#undef CLIPMORA_DECLARE_ENTRY
};

// The process-wide entry table. Entries are null while their library is unbound.
extern const LibraryApi& lib;

// Loads and binds all libraries from `folder` (empty: the system's search
// path). With `versionedNames` the files are the sonames built from the
// headers' major versions (libavcodec.so.59 ...), otherwise the plain names
// (libavcodec.so ...). Returns true when every library is bound; a second call
// after success is a no-op returning true. On failure everything is unbound
// again and `error` holds the failing library's message:
//   "Load libraray <file> error: <loader text>" or
//   "Load function <entry>@<file> error: <loader text>".
bool BindCodecLibraries(const std::string& folder, bool versionedNames, std::string& error);

// Whether the file of every library is present and readable in `folder` (the
// paths BindCodecLibraries loads), found without loading anything. True for an
// empty folder, where the system's search path decides. A library that is
// present may still fail to bind.
bool CodecLibraryFilesPresent(const std::string& folder, bool versionedNames);

// Frees every library (in binding order) and clears handles, entries and flags.
void UnbindCodecLibraries();

bool CodecLibrariesBound();
bool CodecLibraryBound(CodecLibrary library);

// The file name a library is loaded by, versioned or plain.
std::string CodecLibraryFileName(CodecLibrary library, bool versionedNames);

// The last binding error of one library (empty when none).
std::string CodecLibraryError(CodecLibrary library);

// Throws FFMpegException naming the first library that is not bound:
// "LibAVCodec not loaded.", "LibAVFormat not loaded.", "LibAVUtil not loaded.",
// "LibSwScale not loaded." (then the resampling, filter and device libraries).
void CheckCodecLibrariesBound();

// Adds `folder` to the "PATH" environment variable unless it already occurs
// in it, compared without regard to letter case.
void AddFolderToSearchPath(const std::string& folder);

// These convert engine log levels (EngineLogLevel) to and from the libraries' own scale.
int ToLibraryLogLevel(int engineLevel);
int FromLibraryLogLevel(int libraryLevel);

// The highest engine log level that is routed to the component's log
// (process-wide; read by the log router on any thread).
int LogThreshold();
// Sets the libraries' log level to `engineLevel` and reads it back into the
// threshold. Needs bound libraries.
void SetLibraryLogLevel(int engineLevel);

// Logs through the libraries' logger at an engine log level, so the line takes
// the same route as the libraries' own messages.
void EngineLog(void* context, int engineLevel, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace clipmora
