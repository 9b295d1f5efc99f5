// A simulated camera for tests of the driver's web API users. Natively the simulator runs in the
// test's own process; a Windows test binary under Wine starts the native simulator program
// (build/native/bin/quillon-camsim) and drives it through its control port. Problem() tells why
// there is no camera (for GTEST_SKIP).
#ifndef QUILLON_TESTS_SUPPORT_CAMERA_PEER_H
#define QUILLON_TESTS_SUPPORT_CAMERA_PEER_H

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel::testing {

struct CameraPeerOptions {
    std::string model = "CIVS-IPC-4500";
    std::string videoStandard = "2";  // of the one stream: "2" 576 lines, "1" 480 lines
    unsigned inputs = 2;
    unsigned outputs = 2;
};

class CameraPeer {
public:
    explicit CameraPeer(const CameraPeerOptions& options = CameraPeerOptions());
    ~CameraPeer();
    CameraPeer(const CameraPeer&) = delete;
    CameraPeer& operator=(const CameraPeer&) = delete;

    // Empty when the camera runs.
    const std::string& Problem() const;
    std::uint16_t WebPort() const;
    // One control command (see tools/camsim/README.md); its answer line, "OK ..." or "ERR ...".
    std::string Execute(const std::string& command);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace kestrel::testing

#endif
