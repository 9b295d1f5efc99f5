#include "platform/terminal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kestrel::platform {

bool PrepareTerminalOutput() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) == 1 && term && std::strcmp(term, "dumb") != 0;
}

int TerminalColumns() {
    winsize size{};
    if (isatty(STDOUT_FILENO) != 1 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

bool ReadHiddenLine(const std::string& prompt, std::string* line) {
    termios saved{};
    if (isatty(STDIN_FILENO) != 1 || tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    const bool read = static_cast<bool>(std::getline(std::cin, *line));
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    return read;
}

}  // namespace kestrel::platform
