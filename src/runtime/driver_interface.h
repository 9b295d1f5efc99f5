// What every component holds of the driver object: its connection record, the host's
// configuration and the path for debug messages. Implemented by the driver module.
#ifndef QUILLON_RUNTIME_DRIVER_INTERFACE_H
#define QUILLON_RUNTIME_DRIVER_INTERFACE_H

#include <cstdint>
#include <string>
#include <utility>

#include "quillon/quillon.h"

// printf-style diagnostics to the host. Callable from any thread of the module.
class IDebugMessage {
public:
    virtual ~IDebugMessage() = default;
    // level 1: failures and lost signal; level 2: informational state changes.
    virtual void DebugMessage(std::uint8_t level, const char* format, ...) = 0;
};

namespace kestrel {

// The camera connection record, copied by value to every component.
struct DEVICE_INFO {
    virtual ~DEVICE_INFO() = default;
    std::uint32_t operationTimeout = 5000;  // ms
    std::uint32_t frameTimeout = 5000;      // ms
    std::string host;                       // host name or dotted IPv4 address
    std::uint16_t port = 80;                // camera web (HTTP) port
    std::string user;
    std::string password;
};

// Read-only after the driver's Init; safe to call from any thread.
class IDriver : public IDebugMessage {
public:
    virtual DEVICE_INFO GetDeviceInfo() = 0;
    // First the digital input count, then the digital output count.
    virtual std::pair<std::uint32_t, std::uint32_t> GetIOPortCounts() = 0;
    // The host's pool; null before Init. Owned by the host, lives until Uninit.
    virtual ipcapture::IFramePool* GetFramePool() = 0;
    virtual std::uint32_t GetReservedValue() = 0;  // always 0
    virtual std::uint32_t GetCodec() = 0;          // ipcapture::kCodec*, 0 before Init
    virtual std::uint32_t GetChannelCount() = 0;
    // The host parameter under the 1-based key; "" when absent or "(none)".
    virtual std::string GetParameter(std::uint32_t key) = 0;
    // The parameter as a decimal integer; kNoInteger when absent or not an integer.
    virtual std::int32_t GetParameterInt(std::uint32_t key) = 0;

    static constexpr std::int32_t kNoInteger = INT32_MIN;
};

}  // namespace kestrel

#endif
