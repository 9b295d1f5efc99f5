#include "platform/terminal.h"

#include <cstdio>
#include <iostream>

#include <windows.h>

namespace kestrel::platform {

bool PrepareTerminalOutput() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    // GetConsoleMode fails for pipes and files; consoles older than Windows 10 refuse the flag.
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return false;
    return SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

bool ReadHiddenLine(const std::string& prompt, std::string* line) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return false;
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    SetConsoleMode(input, mode & ~DWORD(ENABLE_ECHO_INPUT));
    const bool read = static_cast<bool>(std::getline(std::cin, *line));
    SetConsoleMode(input, mode);
    std::fputs("\n", stderr);
    return read;
}

}  // namespace kestrel::platform
