// Tells the session's own RTP stream from every other datagram that reaches the media port, as
// RFC 3550 describes for a receiver (section 8.2: a source is its SSRC together with the transport
// address it sends from; appendix A.1: a new source is taken only after a few packets in
// sequence). A connection goes through three phases:
//   probing  the candidate port is watched for a stream still running from an earlier session;
//            nothing is taken, and the SSRCs seen are remembered as stale for that port;
//   waiting  the port is taken, the session has not yet named its stream: nothing is taken;
//   open     packets are judged against what the session's SETUP answer named: the camera's RTP
//            source port and the stream's SSRC. What it leaves open is latched from the first
//            source that passes probation (kMinSequential packets in sequence); from then on
//            only that source, from that port, is the stream.
//
// Threading: the worker calls Reset and BeginProbe while no receive thread runs on the port
// (the port is closed, its thread joined), EndProbe and Open while one may run; Judge runs on
// the receive thread only. The phase is the only field both sides touch at the same time.
#ifndef QUILLON_MEDIA_RTP_SOURCE_FILTER_H
#define QUILLON_MEDIA_RTP_SOURCE_FILTER_H

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "media/rtp_packet.h"
#include "platform/sockets.h"

namespace kestrel {

// What the session's SETUP answer named of its stream.
struct RTPSourceExpectation {
    std::uint16_t rtpPort = 0;  // the camera's RTP source port; 0: not named
    bool ssrcNamed = false;
    std::uint32_t ssrc = 0;  // host byte order
};

enum class RTPSourceVerdict {
    kAccept,       // the session's stream
    kProbation,    // a new source not yet taken; neither delivered nor foreign
    kForeign,      // anything else: another address, port or SSRC, or a packet before the session
    kProbe,        // a packet on a port being probed
    kProbeStream,  // a packet on a port being probed that completes a running stream there
};

class CRTPSourceFilter {
public:
    // Packets in sequence that make a new source valid (RFC 3550 A.1 MIN_SEQUENTIAL).
    static constexpr unsigned kMinSequential = 2;
    static constexpr std::size_t kMaxStaleSources = 8;

    // A new connection to the camera at `cameraAddress` (host order); nothing is taken.
    void Reset(std::uint32_t cameraAddress);
    // A candidate port is about to be opened: probing, with no stale source yet.
    void BeginProbe();
    // The candidate port is taken: waiting for the session to name its stream.
    void EndProbe();
    // The session has named (or left open) its stream: packets are judged from now on.
    void Open(const RTPSourceExpectation& expected);
    bool IsOpen() const { return m_phase.load(std::memory_order_acquire) == Phase::kOpen; }

    RTPSourceVerdict Judge(const platform::Ipv4Endpoint& from, const RTPPacket& packet);

private:
    enum class Phase { kProbing, kWaiting, kOpen };

    // A source as RFC 3550 8.2 names it, with the sequence run seen of it.
    struct Source {
        std::uint16_t port = 0;
        std::uint32_t ssrc = 0;
        std::uint16_t lastSequence = 0;
        unsigned run = 0;  // packets in sequence so far; 0: no source
    };

    RTPSourceVerdict JudgeOpen(const platform::Ipv4Endpoint& from, const RTPPacket& packet);
    // Counts the packet into `source`'s run, or starts a new run with it; the run's length.
    static unsigned Follow(Source& source, const platform::Ipv4Endpoint& from, const RTPPacket& packet);
    bool IsStale(std::uint32_t ssrc) const;
    void NoteStale(std::uint32_t ssrc);

    std::atomic<Phase> m_phase{Phase::kWaiting};
    // Set by the worker before the phase that makes them read.
    std::uint32_t m_cameraAddress = 0;
    RTPSourceExpectation m_expected;
    // The receive thread's (and the worker's while none runs).
    Source m_candidate;
    bool m_latched = false;
    std::array<std::uint32_t, kMaxStaleSources> m_stale{};
    std::size_t m_staleCount = 0;
};

}  // namespace kestrel

#endif
