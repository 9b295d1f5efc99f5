// What a channel tells the operator about itself: counters kept on the packet path without locks,
// the activity of the last few seconds, the last connection failure, and the one-line text the
// host reads through GetChannelState.
//
// Threading: the Count* operations and SetKernelDrops run on the receive thread (and the RTCP
// responder's) and take no lock; the worker records failures and connections; Describe runs on
// host threads. Every operation may run alongside every other.
#ifndef QUILLON_CHANNELS_CHANNEL_STATUS_H
#define QUILLON_CHANNELS_CHANNEL_STATUS_H

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace kestrel {

class CCiscoClient;

// What the condition line says besides the counters, as the channel sees itself when asked.
struct ChannelView {
    std::uint32_t state = 3;          // the channel's state code
    bool running = false;             // a worker is running (state 3 then means connecting)
    bool startFailed = false;         // Start could not begin a worker (the failure says why)
    bool rtp = true;                  // the media come as RTP, else as an HTTP stream
    const char* codecName = "";       // "H.264", "MPEG-4", "JPEG"
    std::string address;              // the camera as the channel reaches it
    std::uint32_t sinceFrameMs = 0;   // since the last frame delivered, or the worker's start
    // Why the RTP comes inside the RTSP connection ("asked", "UDP refused", "no UDP arrived");
    // empty when it comes over UDP.
    std::string tcpReason;
};

class CChannelStatus {
public:
    // Monotonic milliseconds; replaced in tests.
    using Clock = std::uint64_t (*)();
    // How long without a frame makes a streaming channel say so.
    static constexpr std::uint32_t kQuietMs = 2000;
    // The rates and the activity the line reports cover the last this many whole seconds, and
    // the current one.
    static constexpr std::uint64_t kWindowSeconds = 3;

    explicit CChannelStatus(Clock clock = nullptr);

    // The packet path.
    void CountPacket(std::uint32_t payloadBytes);
    void CountGap();
    void CountFrame(std::uint32_t width, std::uint32_t height);
    void CountRefused();
    void CountNoBuffer();
    // A datagram at the media or RTCP port that is not the session's (another address, port
    // or SSRC); RTCP from the camera that is malformed.
    void CountForeign();
    void CountMalformedRtcp();
    // Bytes on the RTSP connection that were neither a packet nor a message were skipped.
    void CountResync();
    // The kernel's count of datagrams dropped on the current socket; earlier sockets' counts
    // stay in the total.
    void SetKernelDrops(std::uint32_t dropsOnSocket);
    void CloseSocketCount();

    // The worker: the step that failed last ("web API login refused (HTTP 401)"), or none.
    void SetFailure(std::string failure);
    void ClearFailure();
    // Marks the start of a connection: clears the failure; the first frame is awaited from now.
    void MarkConnected();

    // One line: the condition, then " | " and the counters.
    std::string Describe(const ChannelView& view);

private:
    // One second's activity; the slot is reused kBuckets seconds later.
    struct Bucket {
        std::atomic<std::uint64_t> second{~std::uint64_t(0)};
        std::atomic<std::uint64_t> packets{0};
        std::atomic<std::uint64_t> bytes{0};
        std::atomic<std::uint64_t> frames{0};
        std::atomic<std::uint64_t> foreign{0};
    };
    struct Activity {
        std::uint64_t packets = 0;
        std::uint64_t bytes = 0;
        std::uint64_t frames = 0;
        std::uint64_t foreign = 0;
    };
    static constexpr std::size_t kBuckets = kWindowSeconds + 1;

    Bucket& CurrentBucket();
    // The activity since `sinceMs`, at most over the window.
    Activity Recent(std::uint64_t nowMs, std::uint64_t sinceMs) const;
    std::string Condition(const ChannelView& view, std::uint64_t nowMs);
    std::string Streaming(const ChannelView& view, std::uint64_t nowMs) const;
    std::string NoFrames(const ChannelView& view, std::uint64_t nowMs, const std::string& failure) const;
    std::string Counters(const ChannelView& view) const;

    const Clock m_clock;
    std::atomic<std::uint64_t> m_packets{0};
    std::atomic<std::uint64_t> m_payloadBytes{0};
    std::atomic<std::uint64_t> m_gaps{0};
    std::atomic<std::uint64_t> m_frames{0};
    std::atomic<std::uint64_t> m_refused{0};
    std::atomic<std::uint64_t> m_noBuffer{0};
    std::atomic<std::uint64_t> m_foreign{0};
    std::atomic<std::uint64_t> m_malformedRtcp{0};
    std::atomic<std::uint64_t> m_resyncs{0};
    std::atomic<std::uint64_t> m_kernelDropsClosed{0};  // sockets already closed
    std::atomic<std::uint32_t> m_kernelDropsOpen{0};    // the socket in use
    std::atomic<std::uint64_t> m_pictureSize{0};        // the last delivered: width high, height low
    std::atomic<std::uint64_t> m_framesAtConnect{0};
    std::atomic<std::uint64_t> m_connectedMs{0};
    // Two threads starting the same second together may lose a count or two: the rates are
    // for reading, not for accounting.
    std::array<Bucket, kBuckets> m_buckets;

    std::mutex m_lock;  // guards m_failure
    std::string m_failure;
};

// Why the client's last web API request failed, as the operator reads it: its HTTP status, or
// what was wrong with the answer.
std::string DescribeWebFailure(const char* step, CCiscoClient& client);
// A thread the channel needs (named as "the receive thread") could not be created.
std::string DescribeThreadFailure(const char* thread);
// Why the client's login failed, naming a Digest algorithm the platform cannot answer.
std::string DescribeLoginFailure(CCiscoClient& client);

}  // namespace kestrel

#endif
