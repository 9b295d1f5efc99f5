#include "capture/simulated_camera.h"

namespace quillon_capture {

std::unique_ptr<ISimulatedCamera> StartSimulatedCamera(const SimulatedCameraRequest&,
                                                       std::string* error) {
    *error = "--simulate runs the camera simulator in-process, which only the Linux build has; "
             "start quillon-camsim on Linux and give its address and web port with "
             "--address and --port";
    return nullptr;
}

}  // namespace quillon_capture
