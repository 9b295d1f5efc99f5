#include "platform/terminal.h"

#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace kestrel::platform {

bool PrepareTerminalOutput() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) == 1 && term && std::strcmp(term, "dumb") != 0;
}

}  // namespace kestrel::platform
