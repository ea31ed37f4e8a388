// "convert"'s arguments: the input, the output and the engine options of each.
#pragma once

#include "engine/option_records.h"

#include <string>
#include <vector>

namespace clipmora::cli {

struct ConvertRequest {
    std::string input;
    std::string output;
    bool overwrite = false;  // -y: an existing output file is replaced
    TInputOptions inputOptions;
    TOutputOptions outputOptions;
};

// Splits "convert"'s arguments (the command's name first) into the input, the
// output and their options. Whether "-name" reads the next argument as its
// value is the engine's option table's answer, so negative numbers are
// values, not options. Throws UsageError when the arguments are wrong, and
// ConversionError for a field value that does not read.
void ParseConvertArguments(const std::vector<std::string>& args, ConvertRequest& request);

}  // namespace clipmora::cli
