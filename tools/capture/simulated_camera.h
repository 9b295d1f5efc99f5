// The camera simulator started inside the capture program for `--simulate`, on 127.0.0.1.
// Only the Linux build has it; elsewhere starting one fails with a message that says so.
#ifndef QUILLON_TOOLS_CAPTURE_SIMULATED_CAMERA_H
#define QUILLON_TOOLS_CAPTURE_SIMULATED_CAMERA_H

#include <cstdint>
#include <memory>
#include <string>

namespace quillon_capture {

// What the simulated camera streams at first (the driver adapts it to the channel's request).
// It has two streams, as the cameras do: H.264 or MPEG-4 (by `codec`) and JPEG.
struct SimulatedCameraRequest {
    std::uint32_t codec = 3;  // the host's codec number
    std::uint32_t width = 704;
    std::uint32_t height = 576;
    std::uint32_t frameRate = 25;
    std::uint32_t quality = 50;
    std::uint32_t inputs = 2;
    std::uint32_t outputs = 2;
    std::string user = "admin";
    std::string password = "admin";
};

// Runs until destroyed; owned by one thread.
class ISimulatedCamera {
public:
    virtual ~ISimulatedCamera() = default;
    virtual std::uint16_t WebPort() const = 0;
    // The addresses it listens on, one per line.
    virtual std::string Addresses() const = 0;
};

// Null, with the reason in `error`, when the simulator cannot start or is not in this build.
std::unique_ptr<ISimulatedCamera> StartSimulatedCamera(const SimulatedCameraRequest& request,
                                                       std::string* error);

}  // namespace quillon_capture

#endif
