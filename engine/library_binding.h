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
//
// Engine-private: it carries the libraries' headers. Callers outside the
// engine bind through codec_libraries.h.
#pragma once

#include "engine/codec_libraries.h"
#include "engine/engine_types.h"
#include "engine/library_entries.h"

#include <cstdarg>
#include <string>

namespace clipmora {

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

static_assert(kNoPts == AV_NOPTS_VALUE);

// Logs through the libraries' logger at an engine log level, so the line takes
// the same route as the libraries' own messages.
void EngineLog(void* context, int engineLevel, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace clipmora
