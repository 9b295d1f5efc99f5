// Whether the program's standard output is a terminal that takes cursor controls, so that
// progress can be redrawn in place instead of appended line by line.
#ifndef QUILLON_PLATFORM_TERMINAL_H
#define QUILLON_PLATFORM_TERMINAL_H

namespace kestrel::platform {

// True when standard output is a terminal that understands ANSI cursor and erase sequences.
// On Windows consoles this also switches their processing on; false where it cannot be had.
bool PrepareTerminalOutput();

}  // namespace kestrel::platform

#endif
