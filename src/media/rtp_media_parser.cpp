#include "media/rtp_media_parser.h"

#include <utility>

namespace kestrel {

CRTPMediaParser::CRTPMediaParser(IDriver* driver, std::string name) : m_driver(driver), m_name(std::move(name)) {}

bool CRTPMediaParser::CheckSequence(const RTPPacket& packet) {
    const bool follows = m_firstPacket || packet.sequenceNumber == static_cast<std::uint16_t>(m_lastSequence + 1);
    m_firstPacket = false;
    m_lastSequence = packet.sequenceNumber;
    return follows;
}

ipcapture::IFramePool* CRTPMediaParser::GetFramePool() const {
    return m_driver != nullptr ? m_driver->GetFramePool() : nullptr;
}

ipcapture::IVideoFrame* CRTPMediaParser::AllocateFrame(ipcapture::IFramePool* pool, std::uint32_t fourCC,
                                                       std::uint32_t capacity) const {
    return pool != nullptr ? pool->AllocateFrame(fourCC, capacity, m_name.c_str()) : nullptr;
}

}  // namespace kestrel
