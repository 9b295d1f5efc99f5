// `quillon-capture query`: the driver's capability query against one camera.
#ifndef QUILLON_TOOLS_CAPTURE_QUERY_COMMAND_H
#define QUILLON_TOOLS_CAPTURE_QUERY_COMMAND_H

#include "capture/driver_library.h"
#include "capture/options.h"
#include "host/capability_host.h"

namespace quillon_capture {

// Prints what the camera can do, or why the query failed; returns the exit status.
int RunQuery(const QueryOptions& options);

// Runs the driver's capability query through the library's exports. False with the cause in
// `failure`: the program's own look at the camera names it when the query cannot.
bool QueryCamera(const CDriverLibrary& library, const quillon_host::HostCameraConfig& camera, bool ntsc,
                 quillon_host::CapabilitySnapshot* results, std::string* failure);

// The input and output counts in the query's results (0 when not reported).
std::pair<std::uint32_t, std::uint32_t> PortCounts(const quillon_host::CapabilitySnapshot& results);

}  // namespace quillon_capture

#endif
