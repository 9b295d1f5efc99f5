// `quillon-capture query`: the driver's capability query against one camera.
#ifndef QUILLON_TOOLS_CAPTURE_QUERY_COMMAND_H
#define QUILLON_TOOLS_CAPTURE_QUERY_COMMAND_H

#include "capture/options.h"

namespace quillon_capture {

// Prints what the camera can do, or why the query failed; returns the exit status.
int RunQuery(const QueryOptions& options);

}  // namespace quillon_capture

#endif
