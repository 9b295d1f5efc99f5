#include "platform/terminal.h"

#include <windows.h>

namespace kestrel::platform {

bool PrepareTerminalOutput() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    // GetConsoleMode fails for pipes and files; consoles older than Windows 10 refuse the flag.
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return false;
    return SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace kestrel::platform
