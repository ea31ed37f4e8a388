// clipmora-cli: the command-line front end of the engine.
//
//   clipmora-cli probe FILE [--json]
//                             prints what the media probe reads of FILE
//   clipmora-cli convert [input options] -i IN [output options] OUT
//                             converts IN into OUT through the engine component
//   clipmora-cli split IN... OUTDIR --format NAME [choices]
//                             splits each IN (or its marked segment) into OUTDIR
//                             as the window does
//   clipmora-cli formats      lists the output formats
//   clipmora-cli --help | --version
//
// The codec libraries are bound from the "Common" folder beside the program,
// as the window does.
#include "cli/cli_support.h"
#include "framesrv/frame_server.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

namespace {

struct Command {
    std::string_view name;
    int (*run)(const std::vector<std::string>& args);
};

constexpr Command kCommands[] = {
    {"probe", clipmora::cli::probe},
    {"convert", clipmora::cli::convert},
    {"split", clipmora::cli::split},
    {"formats", clipmora::cli::formats},
};

// What a command printed is written only once standard output takes it: a
// write that failed (a full disk) fails the command, which says so on
// standard error.
int withStandardOutputWritten(int exitCode)
{
    errno = 0;
    const bool flushFailed = std::fflush(stdout) != 0;
    const int error = errno;
    if (!flushFailed && !std::ferror(stdout))
        return exitCode;
    std::fprintf(stderr, "Cannot write to the standard output%s%s\n",
                 flushFailed && error ? ": " : "", flushFailed && error ? std::strerror(error) : "");
    return exitCode == clipmora::cli::kExitDone ? clipmora::cli::kExitFailed : exitCode;
}

int runCommand(const std::vector<std::string>& args)
{
    namespace cli = clipmora::cli;
    if (args.empty()) {
        cli::printUsage(stderr);
        return cli::kExitUsage;
    }
    if (args[0] == "--version")
        return args.size() == 1 ? cli::printVersion()
                                : cli::usageError("--version takes no arguments");
    const bool isCommand = std::any_of(std::begin(kCommands), std::end(kCommands),
                                       [&](const Command& c) { return args[0] == c.name; });
    // "--help" after a command comes before anything the command would check.
    if (args[0] == "--help" || args[0] == "-h" || (isCommand && cli::asksForHelp(args))) {
        cli::printUsage(stdout);
        return cli::kExitDone;
    }
    for (const Command& command : kCommands)
        if (args[0] == command.name)
            return command.run(args);
    return cli::usageError("unknown command '" + args[0] + "'");
}

}  // namespace

int main(int argc, char** argv)
{
    // A file size limit then fails the write that passes it, and the run
    // ends as on a full disk instead of being killed with its file half made.
    std::signal(SIGXFSZ, SIG_IGN);
    clipmora::framesrv::InstallFrameServer();
    return withStandardOutputWritten(runCommand(std::vector<std::string>(argv + 1, argv + argc)));
}
