// The sending side of one RTSP connection. Answers and, for sessions that asked for RTP inside
// the connection (RFC 2326 section 10.12), "$"-framed RTP and RTCP packets go through one queue,
// so a packet is never cut by an answer, and nothing that sends ever waits for the client.
//
// A client that does not keep up: media frames that would take the queue past kMaxQueuedMedia
// are dropped whole (the caller counts them, as loss on a network); answers and injected bytes
// are queued up to kMaxQueuedBytes, past which the link fails and the server closes the
// connection. So a client that stops reading costs at most kMaxQueuedBytes.
//
// Threading: every function is thread-safe (one mutex, taken after a pacer's). Pacers queue
// media, the connection's thread queues answers; whoever queued flushes. The connection belongs
// to the server's connection thread, which calls Close() before the connection goes away; after
// Close() the link never touches it again.
#ifndef QUILLON_TOOLS_CAMSIM_INTERLEAVED_LINK_H
#define QUILLON_TOOLS_CAMSIM_INTERLEAVED_LINK_H

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "camsim/faults.h"
#include "camsim/net.h"

namespace camsim {

constexpr std::size_t kMaxQueuedMedia = 256 * 1024;
constexpr std::size_t kMaxQueuedBytes = kMaxQueuedMedia + 64 * 1024;

class InterleavedLink {
public:
    // Both outlive the link's open state (see above).
    InterleavedLink(Connection& connection, Faults& faults);

    Endpoint Peer() const { return m_peer; }

    // One "$" frame of a header and a payload; false when it was dropped or the link is closed.
    bool QueueFrame(std::uint8_t channel, const std::uint8_t* header, std::size_t headerSize,
                    const std::uint8_t* payload = nullptr, std::size_t payloadSize = 0);
    // Bytes as they are (an answer, an injected fault); false when the link failed.
    bool QueueBytes(const std::string& bytes);
    // Sends what the socket takes now (nothing while the RTSP stall fault is on); false once the
    // link failed.
    bool Flush();
    bool HasPending();
    void Close();

    // The channels the connection's sessions set up, for the faults that need an unused one.
    void Claim(std::uint8_t rtpChannel, std::uint8_t rtcpChannel);
    bool Carries();  // some session set up channels
    int FirstChannel();   // the lowest claimed channel; -1 when none
    int UnusedChannel();  // a channel no session set up

private:
    bool QueueLocked(const std::uint8_t* data, std::size_t size);

    Connection& m_connection;
    Faults& m_faults;
    const Endpoint m_peer;
    std::mutex m_lock;
    std::string m_pending;   // guarded by m_lock; bytes from m_sent on are unsent
    std::size_t m_sent = 0;  // guarded by m_lock
    bool m_open = true;      // guarded by m_lock
    std::bitset<256> m_channels;  // guarded by m_lock
};

// What a connection's reader finds at the front of its buffer.
enum class FrameResult { kNotAFrame, kIncomplete, kFrame };

// Takes one "$" frame off the front of `buffer`.
FrameResult TakeInterleavedFrame(std::string& buffer, std::uint8_t& channel, std::string& payload);

}  // namespace camsim

#endif
