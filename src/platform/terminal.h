// The program's terminal: whether standard output takes cursor controls (so that progress can be
// redrawn in place instead of appended line by line), how wide it is, and a password prompt.
#ifndef QUILLON_PLATFORM_TERMINAL_H
#define QUILLON_PLATFORM_TERMINAL_H

#include <string>

namespace kestrel::platform {

// True when standard output is a terminal that understands ANSI cursor and erase sequences.
// On Windows consoles this also switches their processing on; false where it cannot be had.
bool PrepareTerminalOutput();

// The width of the terminal on standard output in columns, now (it may change while the program
// runs); 0 when standard output is no terminal.
int TerminalColumns();

// Writes `prompt` to standard error and reads one line from standard input without echoing it.
// False when standard input is no terminal or gives no line.
bool ReadHiddenLine(const std::string& prompt, std::string* line);

}  // namespace kestrel::platform

#endif
