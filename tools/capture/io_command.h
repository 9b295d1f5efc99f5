// `quillon-capture io`: the driver's digital I/O service against one camera.
#ifndef QUILLON_TOOLS_CAPTURE_IO_COMMAND_H
#define QUILLON_TOOLS_CAPTURE_IO_COMMAND_H

#include "capture/options.h"

namespace quillon_capture {

// Sets the outputs asked for and prints input changes until the end; returns the exit status.
int RunIo(const IoOptions& options);

}  // namespace quillon_capture

#endif
