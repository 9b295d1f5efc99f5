// RTP header parse and the RTCP answer on arbitrary datagrams: no read outside the datagram,
// and a parsed packet's parts lie inside it in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "media/rtcp_responder.h"
#include "media/rtp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrel::RTPPacket packet;
    if (kestrel::ParseRTPPacket(data, size, packet)) {
        const std::uint8_t* end = data + size;
        if (packet.payload < data + 12 || packet.payload > end) std::abort();
        if (static_cast<std::size_t>(end - packet.payload) != packet.payloadLength + packet.paddingLength) std::abort();
        if (packet.csrcCount != 0 && packet.csrcList + 4 * packet.csrcCount > packet.payload) std::abort();
        if (packet.extensionData != nullptr &&
            packet.extensionData + 4 * std::size_t(packet.extensionLength) != packet.payload)
            std::abort();
        // Touch every byte the record claims.
        volatile std::uint8_t sink = 0;
        for (std::uint32_t i = 0; i < packet.payloadLength; ++i) sink = sink ^ packet.payload[i];
        (void)sink;
    }
    const auto answer = kestrel::BuildRTCPAnswer(0x01020304, "fuzz", data, size);
    if (answer[0] != 0x81 || answer.back() != 0) std::abort();
    return 0;
}
