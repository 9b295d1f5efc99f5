// The driver as a channel's frame producers see it: everything passes through to the real
// driver, except that frame requests the host's pool cannot serve are counted for the channel.
#ifndef QUILLON_CHANNELS_METERED_DRIVER_H
#define QUILLON_CHANNELS_METERED_DRIVER_H

#include <cstdint>
#include <string>
#include <utility>

#include "channels/channel_status.h"
#include "runtime/driver_interface.h"

namespace kestrel {

// Lives inside its channel; both the real driver and the host's pool outlive it.
class CMeteredDriver final : public IDriver, ipcapture::IFramePool {
public:
    CMeteredDriver(IDriver* driver, CChannelStatus* status) : m_driver(driver), m_status(status) {}
    CMeteredDriver(const CMeteredDriver&) = delete;
    CMeteredDriver& operator=(const CMeteredDriver&) = delete;

    // IDriver
    void DebugMessage(std::uint8_t level, const char* format, ...) override;
    DEVICE_INFO GetDeviceInfo() override { return m_driver->GetDeviceInfo(); }
    std::pair<std::uint32_t, std::uint32_t> GetIOPortCounts() override { return m_driver->GetIOPortCounts(); }
    ipcapture::IFramePool* GetFramePool() override;
    std::uint32_t GetReservedValue() override { return m_driver->GetReservedValue(); }
    std::uint32_t GetCodec() override { return m_driver->GetCodec(); }
    std::uint32_t GetChannelCount() override { return m_driver->GetChannelCount(); }
    std::string GetParameter(std::uint32_t key) override { return m_driver->GetParameter(key); }
    std::int32_t GetParameterInt(std::uint32_t key) override { return m_driver->GetParameterInt(key); }

private:
    // IFramePool, in front of the host's.
    void* Destroy(unsigned int) override { return this; }  // owned by the channel
    std::uint32_t GetFrameCount() override;
    ipcapture::IVideoFrame* AllocateFrame(std::uint32_t fourCC, std::uint32_t capacity,
                                          const char* source) override;
    std::uint32_t GetFreeFrameCount() override;
    std::uint32_t GetMaxCapacity() override;
    void Trim() override;
    void ReleaseFrame(ipcapture::IVideoFrame* frame) override;

    IDriver* m_driver;
    CChannelStatus* m_status;
};

}  // namespace kestrel

#endif
