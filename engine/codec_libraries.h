// Loading and unloading the codec libraries, as callers outside the engine see
// it: which folder they come from, whether they are bound, and the engine's
// log levels on the libraries' scale. The entry table itself (and with it the
// libraries' headers) is the engine's own, in library_binding.h.
//
// Threads: binding and unbinding run on the main thread before any task exists.
#pragma once

#include <string>

namespace clipmora {

// The libraries in binding order.
enum class CodecLibrary { Codec, Format, Utility, Scaling, Resample, Filter, Device };
inline constexpr int kCodecLibraryCount = 7;

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

// The bound library's own version, "major.minor.micro" as the library
// reports it at run time; empty while it is not bound.
std::string CodecLibraryVersion(CodecLibrary library);

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

}  // namespace clipmora
