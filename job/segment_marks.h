// Segment marks: turning timeline positions into the frame numbers the trim
// script uses, and the texts the window shows for a source's rate and length.
// Plain C++, shared by the window and the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace clipmora {

// The frame number of a mark at timeline position `positionMs` of the file
// `fileName` whose frame rate reads `sourceFrameRate` (SourceFrameRate's
// text): the native frame Round(r * p / 1000) for ".avi" files (any letter
// case), otherwise that frame's number at 25 frames per second,
// Round(25 / r * n). Round is half-to-even. A file without video (rate 0)
// counts frames at 25 per second: Round(25 * p / 1000).
double MarkFrameNumber(int64_t positionMs, const std::string& sourceFrameRate,
                       const std::string& fileName);

// The time in seconds on the source's timeline of the mark whose frame number
// MarkFrameNumber gave, for the same rate text and file name: the native
// frame's start for ".avi" files, otherwise the frame's at 25 per second.
double MarkSeconds(double frameNumber, const std::string& sourceFrameRate,
                   const std::string& fileName);

// A frame rate as the window keeps it: numerator / denominator rounded to two
// decimals in the shortest form ("29.97", "25", "23.98"); "0" for no video.
std::string SourceFrameRateText(int numerator, int denominator, bool hasVideo);

// "hh:mm:ss" with `separator` between the parts (at least two digits each);
// "Unknown" when the seconds cannot be formatted.
std::string FormatDuration(double seconds, const std::string& separator);

// A mark as users type it, in seconds: plain seconds ("83.5", any decimal
// number form), "m:ss.mmm" ("1:23.5") or "h:mm:ss.mmm" ("0:01:23.500").
// Blanks around the text are ignored; the first part of a colon form may be
// any size, the later ones are two digits under 60, and only the last may
// have a fraction. Nothing for any other text, a negative or an endless
// number.
std::optional<double> ParseMarkTime(const std::string& text);

// A whole number written in the shortest general form ("250", "0").
std::string ShortestNumber(double value);

}  // namespace clipmora
