// Sends the RTP streams of every playing session from a few pacing threads. Each stream belongs
// to one pacer; a pacer wakes when the next frame of any of its streams is due, builds the RTP
// headers of every due frame (payloads are shared with the clip) and hands the whole batch to
// one batched send. A stream set up inside its RTSP connection queues its packets on that
// connection's link instead, flushed once per wake. RTCP sender reports go out every few seconds
// per stream, and a receive thread notes the receiver reports and BYEs that come back on the RTCP
// port (the RTSP server passes on those that come inside a connection).
//
// Threading: every public function is thread-safe. Each pacer's streams are guarded by that
// pacer's mutex; the report list by its own.
#ifndef QUILLON_TOOLS_CAMSIM_RTP_STREAMER_H
#define QUILLON_TOOLS_CAMSIM_RTP_STREAMER_H

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "camsim/faults.h"
#include "camsim/interleaved_link.h"
#include "camsim/media_library.h"
#include "camsim/net.h"

namespace camsim {

using StreamId = std::uint64_t;

struct StreamStart {
    const MediaClip* clip = nullptr;  // owned by the media library, which outlives the streamer
    unsigned frameRate = 25;
    Endpoint rtp;   // the client's ports
    Endpoint rtcp;
    // Set: RTP and RTCP go inside the RTSP connection on these channels instead.
    std::shared_ptr<InterleavedLink> link;
    std::uint8_t rtpChannel = 0;
    std::uint8_t rtcpChannel = 1;
    std::uint32_t ssrc = 0;
    std::uint16_t firstSequence = 0;
    std::uint32_t firstTimestamp = 0;
    std::chrono::milliseconds duration{0};  // 0 until removed; else the stream ends by itself
};

struct ReceiverReport {
    Endpoint from;
    std::uint32_t reporterSsrc = 0;
    std::uint32_t sourceSsrc = 0;
    unsigned fractionLost = 0;  // out of 256
    std::int32_t cumulativeLost = 0;
    std::uint32_t highestSequence = 0;
    std::uint32_t jitter = 0;
    bool bye = false;  // a BYE, without report fields
};

struct StreamCounters {
    StreamId id = 0;
    std::uint32_t ssrc = 0;
    std::uint64_t packets = 0;
    std::uint64_t octets = 0;  // payload bytes
    std::uint64_t frames = 0;
    std::uint64_t receiverReports = 0;
    std::uint16_t clientPort = 0;  // where the stream's RTP goes over UDP
    bool interleaved = false;      // inside the RTSP connection, on channels rtpChannel and the next
    std::uint8_t rtpChannel = 0;
    std::uint64_t queueDrops = 0;  // packets dropped because the client did not read them
};

class RtpStreamer {
public:
    using Clock = std::chrono::steady_clock;

    // `faults` outlives the streamer. `rtpPort` 0 takes a free even/odd pair's first port.
    RtpStreamer(Faults& faults, unsigned pacers, std::chrono::milliseconds senderReportPeriod);
    ~RtpStreamer();

    bool Start(std::uint16_t rtpPort);
    void Stop();
    std::uint16_t RtpPort() const { return m_rtp.Port(); }
    std::uint16_t RtcpPort() const { return m_rtcp.Port(); }

    StreamId Add(const StreamStart& start);  // paused until Play
    void Play(StreamId id, bool playing);
    void Remove(StreamId id);  // sends an RTCP BYE
    std::size_t StreamCount();

    // The fault cases: datagrams of random bytes to every stream's client, and a stream that
    // looks like an earlier session's (another SSRC) sent to a port for a while.
    void SendGarbage(unsigned datagramsPerStream);
    StreamId SendOldStream(const MediaClip* clip, std::uint16_t port, std::chrono::milliseconds duration);

    // RTCP that arrived inside an RTSP connection; counts for the streams on that link.
    void NoteInterleavedReports(const InterleavedLink& link, const std::uint8_t* data, std::size_t size);

    std::vector<ReceiverReport> Reports();
    std::vector<StreamCounters> Counters();
    // When the stream's client last sent a receiver report (the epoch when never).
    Clock::time_point LastReportFrom(StreamId id);

private:
    struct Stream;
    struct Pacer;

    void PacerLoop(Pacer& pacer);
    void AppendDueFrames(Stream& stream, Clock::time_point now, std::deque<std::array<std::uint8_t, 12>>& headers,
                         std::vector<Datagram>& batch);
    void SendReport(Stream& stream, bool bye);
    void ReceiveLoop();
    // `link` null: from `from` over UDP; else from inside that RTSP connection.
    void NoteReports(const std::uint8_t* data, std::size_t size, const Endpoint& from, const InterleavedLink* link);
    std::shared_ptr<Stream> FindStream(StreamId id, Pacer** pacer);

    Faults& m_faults;
    std::chrono::milliseconds m_reportPeriod;
    UdpSocket m_rtp;
    UdpSocket m_rtcp;
    std::vector<std::unique_ptr<Pacer>> m_pacers;
    std::thread m_receiver;
    std::atomic<bool> m_stopping{false};
    std::atomic<StreamId> m_nextId{1};
    std::mutex m_reportsLock;
    std::deque<ReceiverReport> m_reports;  // the latest kMaxReports
};

}  // namespace camsim

#endif
