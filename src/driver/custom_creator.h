// The driver's channel factory, as the capture object sees it.
#ifndef QUILLON_DRIVER_CUSTOM_CREATOR_H
#define QUILLON_DRIVER_CUSTOM_CREATOR_H

#include <cstdint>
#include <memory>

#include "channels/camera_channel.h"

namespace kestrel {

class ICustomCreator {
public:
    virtual ~ICustomCreator() = default;
    // A new channel for the index, sending to `sink` (borrowed: it must outlive the channel),
    // or null when the configuration has no channel class.
    virtual std::unique_ptr<ICameraChannel> CreateChannel(std::uint32_t channel,
                                                          ipcapture::IChannelSink* sink) = 0;
};

}  // namespace kestrel

#endif
