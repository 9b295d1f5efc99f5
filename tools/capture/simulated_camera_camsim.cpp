#include <algorithm>

#include "camsim/camera_simulator.h"
#include "capture/simulated_camera.h"

namespace quillon_capture {

namespace {

const char* CameraCodec(std::uint32_t hostCodec) {
    switch (hostCodec) {
        case 1: return camsim::kCodecJpeg;
        case 2: return camsim::kCodecMpeg4;
        default: return camsim::kCodecH264;
    }
}

class CCamsimCamera final : public ISimulatedCamera {
public:
    explicit CCamsimCamera(const camsim::CameraConfig& config) : m_simulator(config) {}
    bool Start() { return m_simulator.Start(); }
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
    config.streams.clear();
    for (std::uint32_t channel = 1; channel <= request.channels; ++channel) {
        config.streams.push_back({"Channel" + std::to_string(channel), "2", CameraCodec(request.codec),
                                  request.width, request.height,
                                  std::clamp<std::uint32_t>(request.frameRate, 1, 60), request.quality, true});
    }
    auto camera = std::make_unique<CCamsimCamera>(config);
    if (!camera->Start()) {
        *error = "the simulated camera cannot listen on 127.0.0.1";
        return nullptr;
    }
    return camera;
}

}  // namespace quillon_capture
