// Turning a codec library result code into the engine's message for it.
#pragma once

#include <cstdarg>
#include <string>

namespace clipmora {

// The message for a failed library call: `subject` (a file name or the name
// of the call) formatted into the template for `code`, e.g.
// "clip.mp4: no such file or directory". Codes for unknown or unreadable
// formats give "<subject>: Unknown format"; any code without a template gives
// "<subject>: Error while opening file".
std::string ErrorTextForCode(const std::string& subject, int code);

// The library's own description of `code` after `subject`, e.g.
// "out.mp4: No space left on device"; for failures while writing, where the
// reason matters more than the template.
std::string LibraryErrorText(const std::string& subject, int code);

// The message for a source that ended at `endedSeconds` of its timeline,
// before the end it was to reach at `endSeconds`: the end mark when
// `endMarked`, else the end the file gives.
std::string SourceEndedEarlyText(const std::string& source, double endedSeconds,
                                 double endSeconds, bool endMarked);

// printf-style formatting into a text as long as it needs to be: messages
// carry file names, which have no useful length limit.
std::string FormatText(const char* format, va_list args);

}  // namespace clipmora
