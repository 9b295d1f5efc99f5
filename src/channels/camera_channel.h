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

// Start is called once, by the capture object, before anything else. Stop and RequestStop are
// final: the channel never runs again. Stop returns once the channel's threads have ended (or
// its stop bound has passed); RequestStop and Restart never wait, so they may be called from the
// channel's own threads (a host reacting inside a callback) or any other driver thread.
class ICameraChannel {
public:
    virtual ~ICameraChannel() = default;
    virtual bool Start(const ipcapture::CHANNEL_PARAMS* params) = 0;
    virtual void Stop() = 0;
    // Stops the channel without waiting: no new call reaches the sink, the threads end by
    // themselves, and a later Stop (or the destructor) joins them.
    virtual void RequestStop() = 0;
    // True once the threads of a stopped channel have all ended: a Stop would not wait.
    virtual bool HasEnded() = 0;
    // Asks the worker to reconnect with the new size and rate; false when the channel is not
    // running (never started, or stopped).
    virtual bool Restart(const ipcapture::CHANNEL_PARAMS* params) = 0;
    virtual std::uint32_t GetState() = 0;
    virtual void SetState(std::uint32_t state) = 0;
    // One line for the operator: the channel's condition, then " | " and its counters
    // ("streaming H.264 704x576 25.0 fps 3.9 Mbit/s | packets 1200, gaps 0, ...").
    virtual std::string GetStatusText() = 0;
};

}  // namespace kestrel

#endif
