// The base of the per-codec RTP depacketisers: the host's frame pool (through the driver), the
// channel that takes finished frames, the frame being assembled, the picture size and the RTP
// sequence check. A parser is used only on its channel's receive thread and takes no locks.
#ifndef QUILLON_MEDIA_RTP_MEDIA_PARSER_H
#define QUILLON_MEDIA_RTP_MEDIA_PARSER_H

#include <cstdint>
#include <string>
#include <vector>

#include "media/rtp_packet.h"
#include "runtime/driver_interface.h"
#include "runtime/frame_record.h"

namespace kestrel {

class CRTPMediaParser {
public:
    // `driver` gives the frame pool at each delivery and must outlive the parser; `name` is
    // the producer name handed to the pool with every frame request.
    CRTPMediaParser(IDriver* driver, std::string name);
    virtual ~CRTPMediaParser() = default;
    CRTPMediaParser(const CRTPMediaParser&) = delete;
    CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

    // One packet of the stream, in arrival order.
    virtual void ProcessPacket(const RTPPacket& packet) = 0;
    // Drops the frame being assembled and waits for a new start.
    virtual void Reset() = 0;

    // The channel passes itself right after construction; it must outlive the parser.
    void SetClient(IMediaParserClient* client) { m_client = client; }

protected:
    // Remembers the packet's sequence number. True for the first packet after construction,
    // else only when it directly follows the previous one (modulo 2^16): a gap, a repeat or a
    // late packet all break the frame in progress.
    bool CheckSequence(const RTPPacket& packet);

    // The host's pool, or null when the driver has none yet.
    ipcapture::IFramePool* GetFramePool() const;
    // A frame of `capacity` bytes from the pool under this parser's name; null when the pool
    // has none (or there is no pool). The caller gives it back with ReleaseFrame.
    ipcapture::IVideoFrame* AllocateFrame(ipcapture::IFramePool* pool, std::uint32_t fourCC,
                                          std::uint32_t capacity) const;

    IDriver* m_driver;
    std::string m_name;
    IMediaParserClient* m_client = nullptr;
    std::vector<std::uint8_t> m_frame;  // keeps its capacity from frame to frame
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    std::uint16_t m_lastSequence = 0;
    bool m_firstPacket = true;
};

}  // namespace kestrel

#endif
