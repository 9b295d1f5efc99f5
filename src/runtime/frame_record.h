// The frame record every producer (depacketisers, HTTP stream parsers) shares: frame capacities,
// size classes, the lent host buffer, and the callbacks through which a producer hands a
// finished frame to its channel.
#ifndef QUILLON_RUNTIME_FRAME_RECORD_H
#define QUILLON_RUNTIME_FRAME_RECORD_H

#include <cstdint>
#include <utility>

#include "quillon/quillon.h"

namespace kestrel {

// The producer name given to the host's pool with every frame.
constexpr const char kFrameSourceName[] = "Quillon";

// Size class of a w x h picture: 4 above 400 pixels wide, else 2; 3 for wide, flat pictures
// (half-height PAL/NTSC fields) below 1024 pixels wide.
std::uint32_t FrameSizeClass(std::uint32_t width, std::uint32_t height);

// Buffer size to ask the pool for when the payload has `bytes` bytes.
std::uint32_t FrameCapacity(std::uint32_t bytes);

// A frame lent by the host's pool, given back when this object ends (accepted or not).
// The pool must outlive the lease; neither is copied.
class CLentFrame {
public:
    CLentFrame(ipcapture::IFramePool* pool, std::uint32_t fourCC, std::uint32_t capacity);
    ~CLentFrame();
    CLentFrame(const CLentFrame&) = delete;
    CLentFrame& operator=(const CLentFrame&) = delete;

    explicit operator bool() const { return m_frame != nullptr; }
    ipcapture::IVideoFrame* get() const { return m_frame; }
    ipcapture::IVideoFrame* operator->() const { return m_frame; }

private:
    ipcapture::IFramePool* m_pool;
    ipcapture::IVideoFrame* m_frame;
};

// Sets the picture fields, the size and the code, then marks the frame complete; the order
// the host sees for MPEG-4, H.264 and the HTTP parsers.
void CompleteFrame(ipcapture::IVideoFrame* frame, std::uint32_t width, std::uint32_t height,
                   std::uint32_t dataSize, std::uint32_t fourCC);

// How an RTP depacketiser reaches its channel. Implemented by the RTP channels; called on
// the channel's receive thread.
class IMediaParserClient {
public:
    // True if the host accepted the frame; `width` and `height` are the picture's, as set in it.
    virtual bool OnFrame(ipcapture::IVideoFrame* frame, std::uint32_t width, std::uint32_t height) = 0;
    // Width and height of the channel's start parameters.
    virtual std::pair<std::uint32_t, std::uint32_t> GetPictureSize() = 0;

protected:
    ~IMediaParserClient() = default;
};

// How an HTTP stream parser reaches its channel; same contract as IMediaParserClient::OnFrame.
class IMediaReceiver {
public:
    virtual bool OnFrame(ipcapture::IVideoFrame* frame, std::uint32_t width, std::uint32_t height) = 0;

protected:
    ~IMediaReceiver() = default;
};

}  // namespace kestrel

#endif
