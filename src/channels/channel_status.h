// What a channel tells the operator about itself: counters kept on the packet path without locks,
// the last connection failure, and the one-line text the host reads through GetChannelState.
//
// Threading: the Count* operations and SetKernelDrops run on the receive thread and take no lock;
// the worker records failures; Describe runs on host threads. Every operation may run alongside
// every other.
#ifndef QUILLON_CHANNELS_CHANNEL_STATUS_H
#define QUILLON_CHANNELS_CHANNEL_STATUS_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace kestrel {

class CCiscoClient;

// What the condition line says besides the state code.
struct ChannelView {
    std::uint32_t state = 3;          // the channel's state code
    bool running = false;             // a worker is running (state 3 then means connecting)
    const char* codecName = "";       // "H.264", "MPEG-4", "JPEG"
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

class CChannelStatus {
public:
    // The packet path.
    void CountPacket(std::uint32_t payloadBytes);
    void CountGap();
    void CountFrame();
    void CountRefused();
    void CountNoBuffer();
    // A datagram at the media or RTCP port that is not the session's (another address, port
    // or SSRC); RTCP from the camera that is malformed.
    void CountForeign();
    void CountMalformedRtcp();
    // The kernel's count of datagrams dropped on the current socket; earlier sockets' counts
    // stay in the total.
    void SetKernelDrops(std::uint32_t dropsOnSocket);
    void CloseSocketCount();

    // The worker: the step that failed last ("web API login refused (HTTP 401)"), or none.
    void SetFailure(std::string failure);
    void ClearFailure();
    // Marks the start of a connection: clears the failure, and "no RTP arrives" is judged
    // against it.
    void MarkConnected();
    // The worker found no frame for `seconds` from the camera at `address`; said until the next
    // frame. `rtp`: the media come as RTP, else as an HTTP stream.
    void NoteStall(std::uint32_t seconds, const std::string& address, bool rtp);

    // One line: the condition, then " | " and the counters.
    std::string Describe(const ChannelView& view);

private:
    std::string Condition(const ChannelView& view, std::uint64_t nowMs);
    std::string Counters() const;

    std::atomic<std::uint64_t> m_packets{0};
    std::atomic<std::uint64_t> m_payloadBytes{0};
    std::atomic<std::uint64_t> m_gaps{0};
    std::atomic<std::uint64_t> m_frames{0};
    std::atomic<std::uint64_t> m_refused{0};
    std::atomic<std::uint64_t> m_noBuffer{0};
    std::atomic<std::uint64_t> m_foreign{0};
    std::atomic<std::uint64_t> m_malformedRtcp{0};
    std::atomic<std::uint64_t> m_kernelDropsClosed{0};  // sockets already closed
    std::atomic<std::uint32_t> m_kernelDropsOpen{0};    // the socket in use
    std::atomic<std::uint64_t> m_packetsAtConnect{0};
    std::atomic<std::uint64_t> m_framesAtConnect{0};

    std::mutex m_lock;  // guards the members below
    std::string m_failure;
    std::string m_stall;
    std::uint64_t m_framesAtStall = 0;
    // The rates of the condition line come from the counters' change between two descriptions
    // at least a second apart.
    std::uint64_t m_rateStartMs = 0;
    std::uint64_t m_rateStartFrames = 0;
    std::uint64_t m_rateStartBytes = 0;
    double m_framesPerSecond = 0;
    double m_bitsPerSecond = 0;
};

// Why the client's last web API request failed, as the operator reads it: its HTTP status, or
// what was wrong with the answer.
std::string DescribeWebFailure(const char* step, CCiscoClient& client);
// Why the client's login failed, naming a Digest algorithm the platform cannot answer.
std::string DescribeLoginFailure(CCiscoClient& client);

}  // namespace kestrel

#endif
