// One video channel of the camera: what the capture object starts, stops and polls.
#ifndef QUILLON_CHANNELS_CAMERA_CHANNEL_H
#define QUILLON_CHANNELS_CAMERA_CHANNEL_H

#include <cstdint>
#include <string>

#include "quillon/quillon.h"

namespace kestrel {

// Channel state codes, as GetState and the host's GetChannelState report them.
enum : std::uint32_t {
    kChannelStreaming = 0,  // the session to the camera is open
    kChannelNoFrames = 2,   // no frame for longer than the frame time-out
    kChannelStopped = 3,    // stopped or not connected
};

// Called from host threads only; Start, Stop and Restart return once the worker thread has
// ended or its stop bound has passed.
class ICameraChannel {
public:
    virtual ~ICameraChannel() = default;
    virtual bool Start(const ipcapture::CHANNEL_PARAMS* params) = 0;
    virtual void Stop() = 0;
    virtual bool Restart(const ipcapture::CHANNEL_PARAMS* params) = 0;
    virtual std::uint32_t GetState() = 0;
    virtual void SetState(std::uint32_t state) = 0;
    // One line for the operator: the channel's condition, then " | " and its counters
    // ("streaming H.264 704x576 25.0 fps 3.9 Mbit/s | packets 1200, gaps 0, ...").
    virtual std::string GetStatusText() = 0;
};

}  // namespace kestrel

#endif
