// The component's option records (TInputOptions, TOutputOptions) applied to a
// task: each field drives one option of the task's option table, in a fixed
// order, and only when its condition holds.
#pragma once

#include "engine/engine_types.h"

#include <string>

namespace clipmora {

class TCustomFFmpeg;

// Applies an input record before the task's input is opened: its extra
// "name=value" lines, the forced format, the start time and the program.
// Throws what the task's option parser throws.
void ApplyInputRecord(TCustomFFmpeg& task, const TInputOptions& options);

// Applies an output record before the task's output is created: its extra
// lines, then each field, then the target. The hooks are the component's.
// Throws what the task's option parser throws.
void ApplyOutputRecord(TCustomFFmpeg& task, const TOutputOptions& options);

// Stores an output option given as text in the record field that drives it,
// for the fields the record applies whatever its extra options say ("alang",
// "async", "padcolor", "vsync", "slang"). Returns false for every other name.
// Throws ConversionError for a number that does not read.
bool StoreInOutputRecord(TOutputOptions& record, const std::string& name,
                         const std::string& value);

// Whether option `name` reads a value: false for the option table's flags,
// true for its other rows and for any name it does not know (those become
// named parameters, which always take one). For command-line front ends.
bool OptionTakesValue(const std::string& name);

}  // namespace clipmora
