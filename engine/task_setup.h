// The set-up of a task before its run: opening an input file, and building
// an output file with its streams. Each function takes what it reads and
// returns what it builds; TCustomFFmpeg calls them and keeps the results.
// All of them throw FFMpegException on failure.
#pragma once

#include "engine/ffmpeg.h"

#include <string>
#include <vector>

namespace clipmora {

// --- Inputs (input_open.cpp) ------------------------------------------------

// Opens `fileName` as an input with the options' format hints, forced codecs
// and start time, analyses its streams and makes a configured decoder for
// each; the streams the options leave out are discarded.
InputFile OpenInput(const std::string& fileName, const OptionState& options,
                    const ParameterDefaults& defaults);

// Takes the picture settings of the input's video streams (size, aspect,
// pixel format, rate) and the sound settings of its audio streams (channels,
// rate) into `options`, which the outputs then start from.
void AdoptStreamSettings(const InputFile& input, OptionState& options);

// --- Outputs (output_setup.cpp) ---------------------------------------------

// Finds a codec by name; an empty name gives AV_CODEC_ID_NONE. Throws
// "Unknown encoder 'x'" / "Invalid decoder type 'x'" and the like.
AVCodecID LookupCodec(const std::string& name, AVMediaType type, bool encoder);

// The part of `choices` that one stream of `kind` is built from (its stream
// choice and language); `choices` keeps the rest.
OutputChoices TakeStreamChoices(OutputChoices& choices, CodecKind kind);

// The output file `fileName` as `choices` and the options say: its muxer
// context and one configured stream per kind it carries, limited to the kinds
// the inputs have. `outputCount` is how many outputs the task has already.
// A stream builder's failure is reported as "new_video_stream fail: ..." and
// the like. The defaults of a stream's kind take the header flags the
// container asks for, so that later streams copy them too.
OutputFile BuildOutputFile(const std::string& fileName, const OutputChoices& choices,
                           const OptionState& options, ParameterDefaults& defaults,
                           const std::vector<InputFile>& inputs, std::size_t outputCount);

// Adds one stream of `kind` to `file` as `choices` say ("newvideo",
// "newaudio", "newsubtitle").
void AddOutputStream(OutputFile& file, CodecKind kind, const OutputChoices& choices,
                     const OptionState& options, ParameterDefaults& defaults);

// Opens the file `file` writes to and gives its muxer the options' timing and
// the named parameters. Returns the names of the private parameters the muxer
// took. When it throws, `file` may already be a file of the task's.
std::vector<std::string> OpenOutput(OutputFile& file, const OptionState& options,
                                    const ParameterDefaults& defaults);

}  // namespace clipmora
