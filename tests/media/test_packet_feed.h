// Feeds rtppack packets to an RTP media parser as the receive thread would, numbering them.
#ifndef QUILLON_TESTS_MEDIA_TEST_PACKET_FEED_H
#define QUILLON_TESTS_MEDIA_TEST_PACKET_FEED_H

#include <cstdint>
#include <vector>

#include "media/media_test_host.h"
#include "media/rtp_media_parser.h"
#include "media/rtp_packet.h"

namespace kestrel::testing_support {

class PacketFeed {
public:
    explicit PacketFeed(std::uint16_t firstSequence) : m_sequence(firstSequence) {}

    void Send(CRTPMediaParser& parser, const std::vector<rtppack::Packet>& packets) {
        for (const rtppack::Packet& packet : packets) Send(parser, packet);
    }
    void Send(CRTPMediaParser& parser, const rtppack::Packet& packet) {
        RTPPacket rtp;
        rtp.marker = packet.marker;
        rtp.sequenceNumber = m_sequence++;
        rtp.timestamp = packet.timestamp;
        rtp.payload = packet.payload.data();
        rtp.payloadLength = static_cast<std::uint32_t>(packet.payload.size());
        parser.ProcessPacket(rtp);
    }
    // Numbers lost on the way.
    void Skip(std::uint16_t count) { m_sequence = static_cast<std::uint16_t>(m_sequence + count); }

private:
    std::uint16_t m_sequence;
};

}  // namespace kestrel::testing_support

#endif
