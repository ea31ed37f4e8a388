// The table of library result codes and their message templates.
#include "engine/error_text.h"

#include "engine/ffmpeg_exception.h"
#include "engine/library_binding.h"

#include <cstdarg>
#include <cstdio>

#include <cerrno>

namespace clipmora {
namespace {

struct CodeText {
    int code;
    const char* suffix;  // appended to the subject
};

const CodeText kCodeTexts[] = {
    {AVERROR(ENOENT), ": no such file or directory"},
    {AVERROR(EIO),
     ": I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted."},
    {AVERROR(ENOMEM), ": memory allocation error occurred"},
    {AVERROR(EINVAL), ": Error while parsing header"},
    {AVERROR(EDOM),
     ": Incorrect image filename syntax.\r\nUse '%d' to specify the image number:\r\n"
     "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
     "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'."},
    {AVERROR_INVALIDDATA, ": Unknown format"},
    {AVERROR_DEMUXER_NOT_FOUND, ": Unknown format"},
};

}  // namespace

std::string FormatText(const char* format, va_list args)
{
    va_list measuring;
    va_copy(measuring, args);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.pop_back();
    return text;
}

FFMpegException FormattedException(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);
    return FFMpegException(text);
}

std::string ErrorTextForCode(const std::string& subject, int code)
{
    for (const CodeText& entry : kCodeTexts)
        if (entry.code == code)
            return subject + entry.suffix;
    return subject + ": Error while opening file";
}

}  // namespace clipmora

namespace clipmora {

std::string LibraryErrorText(const std::string& subject, int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (lib.av_strerror(code, text, sizeof text) < 0)
        std::snprintf(text, sizeof text, "error %d", code);
    return subject + ": " + text;
}

std::string SourceEndedEarlyText(const std::string& source, double endedSeconds,
                                 double endSeconds, bool endMarked)
{
    char text[128];
    std::snprintf(text, sizeof text, "\" ended at %.1f s, before %s at %.1f s", endedSeconds,
                  endMarked ? "the end mark" : "the end it gives", endSeconds);
    return "\"" + source + text;
}

}  // namespace clipmora
