#include "rtppack/rtppack.h"

namespace rtppack {

RtpStream::RtpStream(std::uint8_t payloadType, std::uint32_t ssrc, std::uint16_t firstSequence)
    : m_payloadType(payloadType), m_ssrc(ssrc), m_sequence(firstSequence) {}

Bytes RtpStream::Datagram(const Packet& packet) {
    const std::uint16_t sequence = m_sequence++;
    Bytes datagram;
    datagram.reserve(12 + packet.payload.size());
    datagram.insert(datagram.end(), {0x80,  // version 2, no padding, extension or CSRC
                                     static_cast<std::uint8_t>((packet.marker ? 0x80 : 0) | (m_payloadType & 0x7F)),
                                     static_cast<std::uint8_t>(sequence >> 8),
                                     static_cast<std::uint8_t>(sequence),
                                     static_cast<std::uint8_t>(packet.timestamp >> 24),
                                     static_cast<std::uint8_t>(packet.timestamp >> 16),
                                     static_cast<std::uint8_t>(packet.timestamp >> 8),
                                     static_cast<std::uint8_t>(packet.timestamp),
                                     static_cast<std::uint8_t>(m_ssrc >> 24),
                                     static_cast<std::uint8_t>(m_ssrc >> 16),
                                     static_cast<std::uint8_t>(m_ssrc >> 8),
                                     static_cast<std::uint8_t>(m_ssrc)});
    datagram.insert(datagram.end(), packet.payload.begin(), packet.payload.end());
    return datagram;
}

}  // namespace rtppack
