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
    const int index = transcoder.AppendTask(request.input, &request.inputOptions);
    if (index < 0) {
        std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
        return kExitFailed;
    }
    // A "file:" address names the local file after it; other addresses
    // (pipe:1) and files that are not regular (a device, a FIFO) are written
    // as they are. Everything else is written under a temporary name and
    // moved onto its name when the run succeeded, replacing a file that is
    // there only with -y.
    const bool fileAddress = request.output.rfind("file:", 0) == 0;
    const std::string local = fileAddress ? request.output.substr(5) : request.output;
    std::error_code missing;
    namespace fs = std::filesystem;
    const fs::file_status status = fs::status(local, missing);
    const bool direct = (!fileAddress && !NamesLocalFile(request.output)) ||
                        (fs::exists(status) && !fs::is_regular_file(status));
    StagedOutput output;
    if (direct) {
        output = StagedOutput::Direct(request.output);
    } else {
        if (SameFile(local, request.input)) {
            std::fprintf(stderr,
                         "The output file '%s' is an input of this task; choose another name\n",
                         request.output.c_str());
            return kExitFailed;
        }
        // From here on a stop signal ends the run, not the program: files
        // are made. Opening a device or FIFO may wait for good, so for those
        // the signals are held only once it is open.
        signals.HoldStops();
        try {
            output = StagedOutput(local, request.overwrite ? StagedOutput::Claim::Replace
                                                           : StagedOutput::Claim::Fresh);
        } catch (const StagedOutput::NameTaken&) {
            std::fprintf(stderr, "The output file \"%s\" exists already; -y replaces it\n",
                         request.output.c_str());
            return kExitFailed;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "Could not open '%s': %s\n", request.output.c_str(), e.what());
            return kExitFailed;
        }
    }
    Outcome outcome;
    attachEvents(transcoder, outcome, output);
    if (!transcoder.AttachOutput(index, output.WriteAddress(), &request.outputOptions)) {
        std::fprintf(stderr, "%s\n", output.NamedAsFinal(transcoder.LastError()).c_str());
        return kExitFailed;
    }
    signals.HoldStops();
    return runToEnd(transcoder, signals, outcome, output, [&] {
        transcoder.StartTasks(1);
        return true;
    });
}

}  // namespace clipmora::cli
