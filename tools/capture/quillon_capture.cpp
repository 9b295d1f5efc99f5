// quillon-capture: drives the Quillon driver the way a recording server does, through the
// library's exports and the reference host's objects. `quillon-capture --help` lists commands.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "capture/capture_command.h"
#include "capture/command_support.h"
#include "capture/io_command.h"
#include "capture/options.h"
#include "capture/query_command.h"

using namespace quillon_capture;

namespace {

int RunCommand(const ParsedCommand& parsed) {
    switch (parsed.command) {
        case Command::kHelp:
        case Command::kVersion:
            std::fputs(parsed.helpText.c_str(), stdout);
            return kExitSuccess;
        case Command::kCapture:
            return RunCapture(parsed.capture);
        case Command::kQuery:
            return RunQuery(parsed.query);
        case Command::kIo:
            return RunIo(parsed.io);
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    ParsedCommand parsed;
    std::string error;
    if (!ParseCommandLine(arguments, std::getenv(kPasswordVariable), &parsed, &error)) {
        const std::string command = arguments.empty() ? "" : arguments[0] + " ";
        std::fprintf(stderr, "quillon-capture: %s\nrun 'quillon-capture %s--help' for the options\n",
                     error.c_str(), command == "capture " || command == "query " || command == "io " ? command.c_str() : "");
        return kExitUsage;
    }
    try {
        return RunCommand(parsed);
    } catch (const std::system_error& error) {
        // The program's own threads (the simulator's, the stopping helpers) come from the
        // standard library, which throws when the process is out of threads or address space.
        std::fprintf(stderr, "quillon-capture: a thread could not be created (%s): the process is out of threads "
                             "or address space\n", error.what());
        return kExitFailure;
    }
}
