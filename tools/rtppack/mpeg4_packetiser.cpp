#include "rtppack/rtppack.h"

#include <algorithm>

namespace rtppack {

std::vector<Packet> PacketiseMpeg4(const Bytes& frame, std::uint32_t timestamp, std::size_t mtu) {
    std::vector<Packet> packets;
    if (mtu == 0) return packets;
    for (std::size_t offset = 0; offset < frame.size(); offset += mtu) {
        Packet packet;
        packet.timestamp = timestamp;
        const std::size_t length = std::min(mtu, frame.size() - offset);
        packet.payload.assign(frame.begin() + offset, frame.begin() + offset + length);
        packet.marker = offset + length == frame.size();
        packets.push_back(std::move(packet));
    }
    return packets;
}

}  // namespace rtppack
