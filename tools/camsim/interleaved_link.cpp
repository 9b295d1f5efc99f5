#include "camsim/interleaved_link.h"

namespace camsim {
namespace {

constexpr char kFrameMagic = '$';
constexpr std::size_t kFrameHeader = 4;  // '$', channel, 16-bit length
constexpr std::size_t kMaxFrame = 0xFFFF;

}  // namespace

InterleavedLink::InterleavedLink(Connection& connection, Faults& faults)
    : m_connection(connection), m_faults(faults), m_peer(connection.Peer()) {}

bool InterleavedLink::QueueFrame(std::uint8_t channel, const std::uint8_t* header, std::size_t headerSize,
                                 const std::uint8_t* payload, std::size_t payloadSize) {
    const std::size_t size = headerSize + payloadSize;
    if (size > kMaxFrame) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_open || m_pending.size() - m_sent + kFrameHeader + size > kMaxQueuedMedia) return false;
    const std::uint8_t prefix[kFrameHeader] = {static_cast<std::uint8_t>(kFrameMagic), channel,
                                               static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
    m_pending.append(reinterpret_cast<const char*>(prefix), kFrameHeader);
    m_pending.append(reinterpret_cast<const char*>(header), headerSize);
    if (payloadSize > 0) m_pending.append(reinterpret_cast<const char*>(payload), payloadSize);
    return true;
}

bool InterleavedLink::QueueBytes(const std::string& bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_open) return false;
    if (m_pending.size() - m_sent + bytes.size() > kMaxQueuedBytes) {
        m_open = false;  // the client neither reads nor stops asking
        return false;
    }
    m_pending += bytes;
    return true;
}

bool InterleavedLink::Flush() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_open) return false;
    if (m_sent == m_pending.size() || m_faults.IsOn(Switch::kStallRtsp)) return true;
    long sent = m_connection.SendSome(m_pending.data() + m_sent, m_pending.size() - m_sent);
    if (sent < 0) {
        m_open = false;
        return false;
    }
    m_sent += static_cast<std::size_t>(sent);
    if (m_sent == m_pending.size()) {
        m_pending.clear();
        m_sent = 0;
    } else if (m_sent > kMaxQueuedMedia / 2) {
        m_pending.erase(0, m_sent);
        m_sent = 0;
    }
    return true;
}

bool InterleavedLink::HasPending() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open && m_sent < m_pending.size();
}

void InterleavedLink::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_open = false;
    m_pending.clear();
    m_pending.shrink_to_fit();
    m_sent = 0;
}

void InterleavedLink::Claim(std::uint8_t rtpChannel, std::uint8_t rtcpChannel) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_channels.set(rtpChannel);
    m_channels.set(rtcpChannel);
}

bool InterleavedLink::Carries() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_channels.any();
}

int InterleavedLink::FirstChannel() {
    std::lock_guard<std::mutex> guard(m_lock);
    for (std::size_t channel = 0; channel < m_channels.size(); ++channel)
        if (m_channels.test(channel)) return static_cast<int>(channel);
    return -1;
}

int InterleavedLink::UnusedChannel() {
    std::lock_guard<std::mutex> guard(m_lock);
    for (std::size_t channel = m_channels.size(); channel-- > 0;)
        if (!m_channels.test(channel)) return static_cast<int>(channel);
    return -1;
}

FrameResult TakeInterleavedFrame(std::string& buffer, std::uint8_t& channel, std::string& payload) {
    if (buffer.empty() || buffer[0] != kFrameMagic) return FrameResult::kNotAFrame;
    if (buffer.size() < kFrameHeader) return FrameResult::kIncomplete;
    const std::size_t size = std::size_t(std::uint8_t(buffer[2])) << 8 | std::uint8_t(buffer[3]);
    if (buffer.size() < kFrameHeader + size) return FrameResult::kIncomplete;
    channel = static_cast<std::uint8_t>(buffer[1]);
    payload.assign(buffer, kFrameHeader, size);
    buffer.erase(0, kFrameHeader + size);
    return FrameResult::kFrame;
}

}  // namespace camsim
