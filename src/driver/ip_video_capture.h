// The capture object: one slot per video channel of the camera, started, reconfigured,
// stopped and polled by the host.
#ifndef QUILLON_DRIVER_IP_VIDEO_CAPTURE_H
#define QUILLON_DRIVER_IP_VIDEO_CAPTURE_H

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "driver/custom_creator.h"
#include "runtime/spin_mutex.h"

namespace kestrel {

// Host threads call every operation. `m_lock` guards only the slots of `m_channels`: it is never
// held while a channel starts, stops or restarts, so a slow camera blocks only its own index.
// The creator (the driver) must outlive this object.
class CIPVideoCapture final : public ipcapture::IIPVideoCapture {
public:
    CIPVideoCapture(ICustomCreator* creator, std::uint32_t channelCount);
    ~CIPVideoCapture();
    CIPVideoCapture(const CIPVideoCapture&) = delete;
    CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

    void* Destroy(unsigned int flags) override;
    std::uint32_t GetChannelCount() override;
    bool StartChannel(std::uint32_t channel, ipcapture::IChannelSink* sink,
                      ipcapture::IChannelSettings* settings) override;
    bool StopChannel(std::uint32_t channel) override;
    bool ReconfigureChannel(std::uint32_t channel, ipcapture::IVideoSize* size,
                            std::uint32_t frameInterval) override;
    void* QueryCaptureExtension() override;
    bool GetChannelState(std::uint32_t channel, std::uint32_t* state, std::uint32_t* reserved,
                         char* text, std::uint32_t textSize) override;
    bool Reserved1(std::uint32_t a, std::uint32_t b, std::uint32_t c) override;
    bool Reserved2(std::uint32_t a, std::uint32_t b, std::uint32_t c) override;

private:
    // The channel in the slot, left there; null for an empty slot or an index out of range.
    ICameraChannel* FindChannel(std::uint32_t channel);
    // The channel in the slot, which is left empty; the caller owns it.
    std::unique_ptr<ICameraChannel> TakeChannel(std::uint32_t channel);

    ICustomCreator* m_creator;
    CSpinMutex m_lock;
    std::vector<std::unique_ptr<ICameraChannel>> m_channels;  // guarded by m_lock
};

// The start parameters the host's channel settings describe, each value cut to 16 bits;
// nothing when the host's settings objects are missing.
std::optional<ipcapture::CHANNEL_PARAMS> ReadChannelParams(ipcapture::IChannelSettings* settings);

}  // namespace kestrel

#endif
