// A driver that only lends a frame pool: what the media parsers need of the driver in tests,
// fuzz targets and benchmarks, each with its own pool policy.
#ifndef QUILLON_TESTS_SUPPORT_POOL_DRIVER_H
#define QUILLON_TESTS_SUPPORT_POOL_DRIVER_H

#include <cstdint>
#include <string>
#include <utility>

#include "runtime/driver_interface.h"

namespace kestrel::testing_support {

template <typename Pool>
class TPoolDriver final : public IDriver {
public:
    void DebugMessage(std::uint8_t, const char*, ...) override {}
    DEVICE_INFO GetDeviceInfo() override { return {}; }
    std::pair<std::uint32_t, std::uint32_t> GetIOPortCounts() override { return {0, 0}; }
    ipcapture::IFramePool* GetFramePool() override { return &pool; }
    std::uint32_t GetReservedValue() override { return 0; }
    std::uint32_t GetCodec() override { return 0; }
    std::uint32_t GetChannelCount() override { return 1; }
    std::string GetParameter(std::uint32_t) override { return {}; }
    std::int32_t GetParameterInt(std::uint32_t) override { return kNoInteger; }

    Pool pool;
};

}  // namespace kestrel::testing_support

#endif
