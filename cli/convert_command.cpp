// "convert": one input into one output through the engine component, with the
// engine's own options written -name value.
#include "cli/convert_arguments.h"

#include "cli/cli_support.h"
#include "engine/output_claim.h"

#include <filesystem>

namespace clipmora::cli {
namespace {

// Reads the option args[i] ("-name", with its value when the engine's option
// table says it takes one) into the input's or the output's options. Throws
// UsageError for an option that cannot be read.
void readOption(const std::vector<std::string>& args, std::size_t& i, bool afterInput,
                ConvertRequest& request)
{
    const std::string name = args[i].substr(1);
    std::string value;
    if (name.find('=') != std::string::npos)
        throw UsageError("invalid option name '" + name + "'");
    if (OptionTakesValue(name)) {
        if (i + 1 >= args.size())
            throw UsageError("option -" + name + " needs a value");
        value = args[++i];
    }
    if (value.find_first_of("\r\n") != std::string::npos)
        throw UsageError("the value of -" + name + " must be one line");
    // Options the output record applies from a field whatever the extra
    // options say go into that field.
    if (!afterInput)
        request.inputOptions.ExtraOptions += name + "=" + value + "\n";
    else if (!StoreInOutputRecord(request.outputOptions, name, value))
        request.outputOptions.ExtraOptions += name + "=" + value + "\n";
}

}  // namespace

void ParseConvertArguments(const std::vector<std::string>& args, ConvertRequest& request)
{
    bool afterInput = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& argument = args[i];
        if (argument == "-i") {
            if (afterInput)
                throw UsageError("only one input (-i) is supported");
            if (i + 1 >= args.size())
                throw UsageError("-i needs a file name");
            request.input = args[++i];
            afterInput = true;
            continue;
        }
        if (argument == "-y") {
            request.overwrite = true;
            continue;
        }
        if (argument.size() > 1 && argument[0] == '-') {
            readOption(args, i, afterInput, request);
            continue;
        }
        if (!afterInput)
            throw UsageError("unexpected argument '" + argument + "' before -i");
        if (!request.output.empty())
            throw UsageError("more than one output file ('" + request.output + "', '" +
                             argument + "')");
        if (argument == "-")
            throw UsageError("writing to standard output is not supported; name an output "
                             "file (./- for a file named \"-\")");
        request.output = argument;
    }
    if (request.input.empty())
        throw UsageError("missing -i IN");
    if (request.output.empty())
        throw UsageError("missing the output file");
}

int convert(const std::vector<std::string>& args)
{
    StopSignals signals;
    ConvertRequest request;
    if (!parseArguments(ParseConvertArguments, args, request))
        return kExitUsage;
    TTranscoder transcoder;
    if (!loadLibraries(transcoder))
        return kExitFailed;
    Outcome outcome;
    attachEvents(transcoder, outcome);
    const int index = transcoder.AppendTask(request.input, &request.inputOptions);
    if (index < 0) {
        std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
        return kExitFailed;
    }
    // From here on a stop signal ends the run, not the program: the output's
    // file is about to be created.
    signals.HoldStops();
    // The output's name is taken by creating the file, so nothing else
    // writes into it meanwhile; a file that is there is replaced only with
    // -y. Devices and pipes are written as they are.
    bool created = false;
    if (!request.overwrite && NamesLocalFile(request.output)) {
        const OutputClaim claim = ClaimOutputFile(request.output);
        std::error_code ignored;
        if (claim != OutputClaim::Created &&
            std::filesystem::is_regular_file(request.output, ignored)) {
            std::fprintf(stderr, "The output file \"%s\" exists already; -y replaces it\n",
                         request.output.c_str());
            return kExitFailed;
        }
        created = claim == OutputClaim::Created;
    }
    if (!transcoder.AttachOutput(index, request.output, &request.outputOptions)) {
        std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
        if (created)
            ReleaseUnwrittenFile(request.output);
        return kExitFailed;
    }
    return runToEnd(transcoder, signals, outcome, request.output, [&] {
        transcoder.StartTasks(1);
        return true;
    });
}

}  // namespace clipmora::cli
