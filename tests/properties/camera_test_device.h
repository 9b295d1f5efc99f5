// The connection record of a query against a test camera.
#ifndef QUILLON_TESTS_PROPERTIES_CAMERA_TEST_DEVICE_H
#define QUILLON_TESTS_PROPERTIES_CAMERA_TEST_DEVICE_H

#include "runtime/driver_interface.h"
#include "support/camera_peer.h"

namespace kestrel {

inline DEVICE_INFO QueryDevice(std::uint16_t port, const std::string& password = "admin") {
    DEVICE_INFO device;
    device.operationTimeout = device.frameTimeout = 3000;
    device.host = "127.0.0.1";
    device.port = port;
    device.user = "admin";
    device.password = password;
    return device;
}

}  // namespace kestrel

#endif
