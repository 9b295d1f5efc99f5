#include "rtppack/rtppack.h"

#include <array>

namespace rtppack {

RtpStream::RtpStream(std::uint8_t payloadType, std::uint32_t ssrc, std::uint16_t firstSequence)
    : m_payloadType(payloadType), m_ssrc(ssrc), m_sequence(firstSequence) {}

Bytes RtpStream::Datagram(const Packet& packet) {
    const std::uint16_t sequence = m_sequence++;
    const std::array<std::uint8_t, 12> header = {
        0x80,  // version 2, no padding, extension or CSRC
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
        static_cast<std::uint8_t>(m_ssrc)};
    Bytes datagram(header.size() + packet.payload.size());
    std::copy(header.begin(), header.end(), datagram.begin());
    std::copy(packet.payload.begin(), packet.payload.end(), datagram.begin() + header.size());
    return datagram;
}

}  // namespace rtppack
