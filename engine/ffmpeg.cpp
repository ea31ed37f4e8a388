// Life cycle of a conversion job: reset, parameter defaults, logging.
#include "engine/ffmpeg.h"

#include "engine/error_text.h"
#include "engine/ffmpeg_exception.h"
#include "engine/ffmpeg_thread.h"
#include "engine/run_stages.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>

namespace clipmora {

TCustomFFmpeg::TCustomFFmpeg() = default;

TCustomFFmpeg::~TCustomFFmpeg()
{
    // A running task is asked to stop and its thread joined before anything
    // it uses goes away. A task must not be destroyed on its own thread.
    RequestStop();
    thread_.reset();
    FreeRunState();
}

std::recursive_mutex& TCustomFFmpeg::CodecLock()
{
    static std::recursive_mutex lock;
    return lock;
}

void TCustomFFmpeg::FreeRunState()
{
    frameHooks_.Release();
    // Codec contexts are freed under the codec lock, like they were opened.
    std::lock_guard guard(CodecLock());
    for (OutputFile& file : outputs_) {
        const bool writesFile = !(file.context->oformat->flags & AVFMT_NOFILE);
        file.streams.clear();
        file.context.reset();  // closes the file
        // A file of ours that never got a byte (the task failed or never ran)
        // or that the run could not complete is not left behind; only
        // ordinary files are removed, never a device the output was written
        // to, nor a file that was there before and was not written into.
        std::error_code ignored;
        if (writesFile && file.ours && std::filesystem::is_regular_file(file.fileName, ignored) &&
            (file.broken || std::filesystem::file_size(file.fileName, ignored) == 0))
            std::filesystem::remove(file.fileName, ignored);
    }
    outputs_.clear();
    inputs_.clear();
}

void TCustomFFmpeg::resetOptions() { options_ = OptionState{}; }

void TCustomFFmpeg::createParameterDefaults()
{
    static constexpr AVMediaType kKindTypes[kCodecKindCount] = {
        AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_SUBTITLE,
        AVMEDIA_TYPE_ATTACHMENT};
    ParameterDefaults fresh;
    for (int kind = 0; kind < kCodecKindCount; ++kind) {
        fresh.codec[kind].reset(lib.avcodec_alloc_context3(nullptr));
        if (!fresh.codec[kind])
            throw FFMpegException("av_mallocz fail");
        fresh.codec[kind]->codec_type = kKindTypes[kind];
    }
    fresh.format.reset(lib.avformat_alloc_context());
    fresh.scaler.reset(lib.sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                          options_.scalerFlags, nullptr, nullptr, nullptr));
    if (!fresh.format || !fresh.scaler)
        throw FFMpegException("av_mallocz fail");
    defaults_ = std::move(fresh);
}

void TCustomFFmpeg::PrepareTask()
{
    RequestStop();
    thread_.reset();
    FreeRunState();
    running_ = false;
    stopRequested_ = false;
    finished_ = false;
    terminated_ = false;
    exceptionRaised_ = false;
    exceptionMessage_.clear();
    resetOptions();
    totalOutputDurationMs_ = -1;
    createParameterDefaults();
}

void TCustomFFmpeg::SetVerbosity(int level)
{
    options_.verbosity = level;
    SetLibraryLogLevel(level);
}

void TCustomFFmpeg::LogMessage(int level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    runLog().Write(level, format, args);
    va_end(args);
}

}  // namespace clipmora
