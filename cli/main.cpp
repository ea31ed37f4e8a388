// clipmora-cli: the command-line front end of the engine.
//
//   clipmora-cli probe FILE   prints what the media probe reads of FILE
//   clipmora-cli convert [input options] -i IN [output options] OUT
//                             converts IN into OUT through the engine component
//   clipmora-cli split IN OUTDIR --format NAME [choices]
//                             splits IN (or its marked segment) into OUTDIR as
//                             the window does
//   clipmora-cli formats      lists the output formats
//
// The codec libraries are bound from the "Common" folder beside the program,
// as the window does.
#include "cli/cli_support.h"
#include "framesrv/frame_server.h"

#include <csignal>
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

}  // namespace

int main(int argc, char** argv)
{
    // A file size limit then fails the write that passes it, and the run
    // ends as on a full disk instead of being killed with its file half made.
    std::signal(SIGXFSZ, SIG_IGN);
    clipmora::framesrv::InstallFrameServer();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty())
        for (const Command& command : kCommands)
            if (args[0] == command.name)
                return command.run(args);
    clipmora::cli::usage();
    return clipmora::cli::kExitUsage;
}
