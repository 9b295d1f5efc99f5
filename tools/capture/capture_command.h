// `quillon-capture capture`: live video from one or more cameras into files.
#ifndef QUILLON_TOOLS_CAPTURE_CAPTURE_COMMAND_H
#define QUILLON_TOOLS_CAPTURE_CAPTURE_COMMAND_H

#include "capture/options.h"

namespace quillon_capture {

// Runs the capture to its end (duration, Ctrl-C, or no video by the connect time-out) and
// returns the exit status.
int RunCapture(const CaptureOptions& options);

}  // namespace quillon_capture

#endif
