#include <algorithm>

#include "camsim/camera_simulator.h"
#include "capture/simulated_camera.h"
#include "quillon/quillon.h"

namespace quillon_capture {

namespace {

class CCamsimCamera final : public ISimulatedCamera {
public:
    explicit CCamsimCamera(const camsim::CameraConfig& config) : m_simulator(config) {}
    bool Start(std::string* failure) { return m_simulator.Start(failure); }
    std::uint16_t WebPort() const override { return m_simulator.WebPort(); }
    std::string Addresses() const override { return m_simulator.Addresses(); }

private:
    camsim::CameraSimulator m_simulator;
};

}  // namespace

std::unique_ptr<ISimulatedCamera> StartSimulatedCamera(const SimulatedCameraRequest& request,
                                                       std::string* error) {
    camsim::CameraConfig config;
    config.mediaDir = QUILLON_TESTDATA_DIR;
    config.user = request.user;
    config.password = request.password;
    config.inputCount = request.inputs;
    config.outputCount = request.outputs;
    config.controlEnabled = false;
    // Like the cameras themselves: the first stream H.264 or MPEG-4, the second JPEG. The driver
    // picks its stream by codec and adapts it.
    const auto frameRate = std::clamp<std::uint32_t>(request.frameRate, 1, 60);
    const char* firstCodec = request.codec == kestrel::ipcapture::kCodecMpeg4 ? camsim::kCodecMpeg4 : camsim::kCodecH264;
    config.streams = {
        {"Channel1", "2", firstCodec, request.width, request.height, frameRate, request.quality, true},
        {"Channel2", "2", camsim::kCodecJpeg, request.width, request.height, frameRate, request.quality, true},
    };
    auto camera = std::make_unique<CCamsimCamera>(config);
    std::string failure;
    if (!camera->Start(&failure)) {
        *error = "the simulated camera " + failure;
        return nullptr;
    }
    return camera;
}

}  // namespace quillon_capture
