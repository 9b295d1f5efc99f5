#include "capture/query_command.h"

#include "capture/command_support.h"

namespace quillon_capture {

int RunQuery(const QueryOptions& options) {
    CConsole console(false);
    PreparedCamera prepared;
    std::string error;
    if (!PrepareCamera(options.target, SimulatedCameraRequest{}, console, &prepared, &error)) {
        console.Error("quillon-capture: " + error);
        return kExitFailure;
    }
    // A driver built before the capability query lacks its exports; a host finds that out at
    // run time the same way.
    if (!prepared.library->Symbol("InitCapabilityQuery")) {
        console.Error("quillon-capture: this driver has no capability query yet");
        return kExitFailure;
    }
    console.Error("quillon-capture: this program does not run the capability query yet");
    return kExitFailure;
}

}  // namespace quillon_capture
