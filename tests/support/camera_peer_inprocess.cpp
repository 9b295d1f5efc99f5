#include "camsim/camera_simulator.h"
#include "support/camera_peer.h"

namespace kestrel::testing {

struct CameraPeer::Impl {
    std::unique_ptr<camsim::CameraSimulator> camera;
    std::string problem;
};

CameraPeer::CameraPeer(const CameraPeerOptions& options) : m_impl(std::make_unique<Impl>()) {
    camsim::CameraConfig config;
    config.model = options.model;
    config.streams = {{"Channel1", options.videoStandard, camsim::kCodecH264, 704, 576, 25, 50, true}};
    config.inputCount = options.inputs;
    config.outputCount = options.outputs;
    config.mediaDir = QUILLON_TESTDATA_DIR;
    m_impl->camera = std::make_unique<camsim::CameraSimulator>(config);
    if (!m_impl->camera->Start()) m_impl->problem = "the camera simulator did not start";
}

CameraPeer::~CameraPeer() = default;

const std::string& CameraPeer::Problem() const {
    return m_impl->problem;
}

std::uint16_t CameraPeer::WebPort() const {
    return m_impl->camera->WebPort();
}

std::string CameraPeer::Execute(const std::string& command) {
    return m_impl->camera->Execute(command);
}

}  // namespace kestrel::testing
