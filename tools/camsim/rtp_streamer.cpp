#include "camsim/rtp_streamer.h"

#include <algorithm>
#include <random>

namespace camsim {
namespace {

constexpr std::size_t kMaxReports = 4096;
constexpr auto kIdleWake = std::chrono::milliseconds(100);
// A pacer that fell this far behind (a stalled machine) starts afresh instead of bursting.
constexpr auto kMaxLag = std::chrono::seconds(1);
constexpr std::uint8_t kRtcpSenderReport = 200;
constexpr std::uint8_t kRtcpReceiverReport = 201;
constexpr std::uint8_t kRtcpSourceDescription = 202;
constexpr std::uint8_t kRtcpBye = 203;
constexpr std::uint8_t kSdesCname = 1;
constexpr std::uint32_t kRtpClockRate = 90000;
// Seconds from 1900 (NTP) to 1970 (the system clock's epoch).
constexpr std::uint64_t kNtpEpochOffset = 2208988800u;

void Put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
    Put16(at, value >> 16);
    Put16(at + 2, value & 0xFFFF);
}

std::uint32_t Get32(const std::uint8_t* at) {
    return (std::uint32_t(at[0]) << 24) | (std::uint32_t(at[1]) << 16) | (std::uint32_t(at[2]) << 8) | at[3];
}

}  // namespace

struct RtpStreamer::Stream {
    StreamId id = 0;
    StreamStart start;
    bool playing = false;
    Clock::time_point nextFrame;
    Clock::time_point nextReport;
    Clock::time_point endAt = Clock::time_point::max();
    Clock::time_point lastReceiverReport{};
    std::size_t frameIndex = 0;
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
    std::chrono::microseconds frameInterval{40000};
    StreamCounters counters;
    bool holding = false;  // a packet held back for reordering
    std::array<std::uint8_t, 12> heldHeader{};
    const rtppack::Packet* heldPacket = nullptr;
};

struct RtpStreamer::Pacer {
    std::mutex lock;
    std::condition_variable wake;
    std::vector<std::shared_ptr<Stream>> streams;
    std::thread thread;
};

RtpStreamer::RtpStreamer(Faults& faults, unsigned pacers, std::chrono::milliseconds senderReportPeriod)
    : m_faults(faults), m_reportPeriod(senderReportPeriod) {
    for (unsigned i = 0; i < std::max(1u, pacers); ++i) m_pacers.push_back(std::make_unique<Pacer>());
}

RtpStreamer::~RtpStreamer() { Stop(); }

bool RtpStreamer::Start(std::uint16_t rtpPort) {
    // RTCP takes the port after RTP's (RFC 3550 section 11); with a free port, try until a pair fits.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (!m_rtp.Bind(rtpPort)) return false;
        if (m_rtcp.Bind(static_cast<std::uint16_t>(m_rtp.Port() + 1))) break;
        m_rtp.Close();
        if (rtpPort != 0) return false;
    }
    if (m_rtcp.Port() == 0) return false;
    m_stopping = false;
    for (auto& pacer : m_pacers) pacer->thread = std::thread(&RtpStreamer::PacerLoop, this, std::ref(*pacer));
    m_receiver = std::thread(&RtpStreamer::ReceiveLoop, this);
    return true;
}

void RtpStreamer::Stop() {
    m_stopping = true;
    for (auto& pacer : m_pacers) {
        pacer->wake.notify_all();
        if (pacer->thread.joinable()) pacer->thread.join();
    }
    if (m_receiver.joinable()) m_receiver.join();
}

StreamId RtpStreamer::Add(const StreamStart& start) {
    auto stream = std::make_shared<Stream>();
    stream->id = m_nextId++;
    stream->start = start;
    stream->sequence = start.firstSequence;
    stream->timestamp = start.firstTimestamp;
    unsigned rate = std::clamp(start.frameRate, 1u, 60u);
    stream->frameInterval = std::chrono::microseconds(1000000 / rate);
    stream->counters.id = stream->id;
    stream->counters.ssrc = start.ssrc;
    if (start.duration.count() > 0) stream->endAt = Clock::now() + start.duration;
    Pacer& pacer = *m_pacers[stream->id % m_pacers.size()];
    std::lock_guard<std::mutex> guard(pacer.lock);
    pacer.streams.push_back(stream);
    return stream->id;
}

std::shared_ptr<RtpStreamer::Stream> RtpStreamer::FindStream(StreamId id, Pacer** owner) {
    Pacer& pacer = *m_pacers[id % m_pacers.size()];
    *owner = &pacer;
    for (auto& stream : pacer.streams)
        if (stream->id == id) return stream;
    return nullptr;
}

void RtpStreamer::Play(StreamId id, bool playing) {
    Pacer* pacer = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_pacers[id % m_pacers.size()]->lock);
        std::shared_ptr<Stream> stream = FindStream(id, &pacer);
        if (!stream || stream->playing == playing) return;
        stream->playing = playing;
        stream->nextFrame = Clock::now();
        stream->nextReport = Clock::now() + std::chrono::milliseconds(500);
    }
    pacer->wake.notify_all();
}

void RtpStreamer::Remove(StreamId id) {
    Pacer& pacer = *m_pacers[id % m_pacers.size()];
    std::lock_guard<std::mutex> guard(pacer.lock);
    auto found = std::find_if(pacer.streams.begin(), pacer.streams.end(),
                              [id](const std::shared_ptr<Stream>& stream) { return stream->id == id; });
    if (found == pacer.streams.end()) return;
    if ((*found)->counters.packets > 0) SendReport(**found, true);
    pacer.streams.erase(found);
}

std::size_t RtpStreamer::StreamCount() {
    std::size_t count = 0;
    for (auto& pacer : m_pacers) {
        std::lock_guard<std::mutex> guard(pacer->lock);
        count += pacer->streams.size();
    }
    return count;
}

void RtpStreamer::PacerLoop(Pacer& pacer) {
    std::deque<std::array<std::uint8_t, 12>> headers;  // a deque keeps its elements in place
    std::vector<Datagram> batch;
    std::vector<std::shared_ptr<InterleavedLink>> links;  // to flush
    std::unique_lock<std::mutex> lock(pacer.lock);
    while (!m_stopping) {
        headers.clear();
        batch.clear();
        links.clear();
        Clock::time_point now = Clock::now();
        Clock::time_point wake = now + kIdleWake;
        for (auto it = pacer.streams.begin(); it != pacer.streams.end();) {
            Stream& stream = **it;
            if (now >= stream.endAt) {
                it = pacer.streams.erase(it);
                continue;
            }
            if (stream.playing) {
                AppendDueFrames(stream, now, headers, batch);
                if (now >= stream.nextReport && stream.counters.packets > 0) {
                    SendReport(stream, false);
                    stream.nextReport = now + m_reportPeriod;
                }
                wake = std::min(wake, stream.nextFrame);
                if (stream.start.link) links.push_back(stream.start.link);
            }
            ++it;
        }
        lock.unlock();
        // Payloads belong to clips that outlive the streamer, headers to this loop: safe unlocked.
        if (!batch.empty()) m_rtp.SendBatch(batch);
        for (auto& link : links) link->Flush();
        lock.lock();
        if (!m_stopping) pacer.wake.wait_until(lock, wake);
    }
}

void RtpStreamer::AppendDueFrames(Stream& stream, Clock::time_point now,
                                  std::deque<std::array<std::uint8_t, 12>>& headers, std::vector<Datagram>& batch) {
    if (stream.start.clip == nullptr || stream.start.clip->frames.empty()) return;
    if (now - stream.nextFrame > kMaxLag) stream.nextFrame = now;
    const bool paused = m_faults.StreamsPaused();
    InterleavedLink* link = stream.start.link.get();
    const bool udpDark = link == nullptr && m_faults.IsOn(Switch::kBlackholeUdp);
    const std::uint32_t step = kRtpClockRate * static_cast<std::uint32_t>(stream.frameInterval.count()) / 1000000;
    auto append = [&](const std::array<std::uint8_t, 12>& header, const rtppack::Packet& packet) {
        if (link != nullptr) {
            if (!link->QueueFrame(stream.start.rtpChannel, header.data(), header.size(), packet.payload.data(),
                                  packet.payload.size()))
                ++stream.counters.queueDrops;
            return;
        }
        if (udpDark) return;
        headers.push_back(header);
        batch.push_back({headers.back().data(), 12, packet.payload.data(), packet.payload.size(), stream.start.rtp});
    };
    while (stream.nextFrame <= now) {
        const MediaClip& clip = *stream.start.clip;
        const ClipFrame& frame = clip.frames[stream.frameIndex];
        stream.frameIndex = (stream.frameIndex + 1) % clip.frames.size();
        stream.nextFrame += stream.frameInterval;
        stream.timestamp += step;
        if (paused) continue;
        for (const rtppack::Packet& packet : frame.packets) {
            std::array<std::uint8_t, 12> header{};
            header[0] = 0x80;  // version 2, no padding, no extension, no CSRC
            header[1] = static_cast<std::uint8_t>((packet.marker ? 0x80 : 0) | clip.payloadType);
            Put16(&header[2], stream.sequence++);
            Put32(&header[4], stream.timestamp);
            Put32(&header[8], stream.start.ssrc);
            ++stream.counters.packets;
            stream.counters.octets += packet.payload.size();
            PacketFate fate = m_faults.NextPacketFate();
            if (fate.drop) continue;
            if (fate.holdBack && !stream.holding) {
                stream.holding = true;
                stream.heldHeader = header;
                stream.heldPacket = &packet;
                continue;
            }
            append(header, packet);
            if (fate.duplicate) append(header, packet);
            if (stream.holding) {
                append(stream.heldHeader, *stream.heldPacket);
                stream.holding = false;
            }
        }
        ++stream.counters.frames;
    }
}

// A compound packet of a sender report (RFC 3550 section 6.4.1) and a CNAME, or a BYE.
void RtpStreamer::SendReport(Stream& stream, bool bye) {
    std::uint8_t packet[64] = {};
    std::size_t size = 0;
    if (bye) {
        // A compound packet starts with a report, an empty one when there is nothing to report
        // (RFC 3550 6.1).
        packet[0] = 0x80;
        packet[1] = kRtcpReceiverReport;
        Put16(&packet[2], 1);
        Put32(&packet[4], stream.start.ssrc);
        size = 8;
    } else {
        auto since = std::chrono::system_clock::now().time_since_epoch();
        std::uint64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(since).count();
        std::uint64_t seconds = micros / 1000000 + kNtpEpochOffset;
        std::uint64_t fraction = ((micros % 1000000) << 32) / 1000000;
        packet[0] = 0x80;
        packet[1] = kRtcpSenderReport;
        Put16(&packet[2], 6);
        Put32(&packet[4], stream.start.ssrc);
        Put32(&packet[8], static_cast<std::uint32_t>(seconds));
        Put32(&packet[12], static_cast<std::uint32_t>(fraction));
        Put32(&packet[16], stream.timestamp);
        Put32(&packet[20], static_cast<std::uint32_t>(stream.counters.packets));
        Put32(&packet[24], static_cast<std::uint32_t>(stream.counters.octets));
        size = 28;
    }
    std::uint8_t* sdes = packet + size;  // CNAME "camsim": 4 + 4 + 2 + 6 bytes, padded to 20
    sdes[0] = 0x81;
    sdes[1] = kRtcpSourceDescription;
    Put16(&sdes[2], 4);
    Put32(&sdes[4], stream.start.ssrc);
    sdes[8] = kSdesCname;
    sdes[9] = 6;
    std::copy_n("camsim", 6, reinterpret_cast<char*>(sdes + 10));
    size += 20;
    if (bye) {
        std::uint8_t* goodbye = packet + size;
        goodbye[0] = 0x81;
        goodbye[1] = kRtcpBye;
        Put16(&goodbye[2], 1);
        Put32(&goodbye[4], stream.start.ssrc);
        size += 8;
    }
    if (InterleavedLink* link = stream.start.link.get()) {
        if (link->QueueFrame(stream.start.rtcpChannel, packet, size)) link->Flush();
    } else if (!m_faults.IsOn(Switch::kBlackholeUdp)) {
        m_rtcp.SendTo(packet, size, stream.start.rtcp);
    }
}

void RtpStreamer::ReceiveLoop() {
    std::uint8_t buffer[2048];
    while (!m_stopping) {
        Endpoint from;
        int size = m_rtcp.Receive(buffer, sizeof buffer, from, 100);
        if (size > 0 && !m_faults.IsOn(Switch::kBlackholeUdp))
            NoteReports(buffer, static_cast<std::size_t>(size), from, nullptr);
    }
}

void RtpStreamer::NoteInterleavedReports(const InterleavedLink& link, const std::uint8_t* data, std::size_t size) {
    NoteReports(data, size, link.Peer(), &link);
}

// Walks a compound RTCP packet; anything malformed ends the walk, what came before stands.
void RtpStreamer::NoteReports(const std::uint8_t* data, std::size_t size, const Endpoint& from,
                              const InterleavedLink* link) {
    std::vector<ReceiverReport> found;
    std::size_t at = 0;
    while (at + 8 <= size) {
        const std::uint8_t* packet = data + at;
        if ((packet[0] >> 6) != 2) break;
        std::size_t length = (std::size_t(packet[2]) << 8 | packet[3]) * 4 + 4;
        if (at + length > size) break;
        unsigned count = packet[0] & 0x1F;
        if (packet[1] == kRtcpReceiverReport && length >= 8 + 24 * std::size_t(count)) {
            for (unsigned i = 0; i < count; ++i) {
                const std::uint8_t* block = packet + 8 + 24 * i;
                ReceiverReport report;
                report.from = from;
                report.reporterSsrc = Get32(packet + 4);
                report.sourceSsrc = Get32(block);
                report.fractionLost = block[4];
                std::uint32_t lost = Get32(block + 4) & 0xFFFFFF;
                report.cumulativeLost = static_cast<std::int32_t>(lost & 0x800000 ? lost | 0xFF000000 : lost);
                report.highestSequence = Get32(block + 8);
                report.jitter = Get32(block + 12);
                found.push_back(report);
            }
        } else if (packet[1] == kRtcpBye && length >= 8) {
            ReceiverReport report;
            report.from = from;
            report.reporterSsrc = Get32(packet + 4);
            report.bye = true;
            found.push_back(report);
        }
        at += length;
    }
    if (found.empty()) return;
    for (const ReceiverReport& report : found) {
        for (auto& pacer : m_pacers) {
            std::lock_guard<std::mutex> guard(pacer->lock);
            for (auto& stream : pacer->streams) {
                bool fromClient = link != nullptr ? stream->start.link.get() == link
                                                  : stream->start.rtcp == from || stream->start.rtp == from;
                if (fromClient && (report.bye || report.sourceSsrc == stream->start.ssrc)) {
                    stream->lastReceiverReport = Clock::now();
                    ++stream->counters.receiverReports;
                }
            }
        }
    }
    std::lock_guard<std::mutex> guard(m_reportsLock);
    for (const ReceiverReport& report : found) {
        if (m_reports.size() == kMaxReports) m_reports.pop_front();
        m_reports.push_back(report);
    }
}

void RtpStreamer::SendGarbage(unsigned datagramsPerStream) {
    std::mt19937 random(std::random_device{}());
    std::vector<StreamStart> targets;
    for (auto& pacer : m_pacers) {
        std::lock_guard<std::mutex> guard(pacer->lock);
        for (auto& stream : pacer->streams) targets.push_back(stream->start);
    }
    std::uint8_t bytes[1500];
    for (const StreamStart& target : targets) {
        for (unsigned i = 0; i < datagramsPerStream; ++i) {
            std::size_t size = 1 + random() % sizeof bytes;
            for (std::size_t b = 0; b < size; ++b) bytes[b] = static_cast<std::uint8_t>(random());
            if (target.link) target.link->QueueFrame(target.rtpChannel, bytes, size);
            else if (!m_faults.IsOn(Switch::kBlackholeUdp)) m_rtp.SendTo(bytes, size, target.rtp);
        }
        if (target.link) target.link->Flush();
    }
}

StreamId RtpStreamer::SendOldStream(const MediaClip* clip, std::uint16_t port, std::chrono::milliseconds duration) {
    std::mt19937 random(std::random_device{}());
    StreamStart start;
    start.clip = clip;
    start.rtp = {kLoopback, port};
    start.rtcp = {kLoopback, static_cast<std::uint16_t>(port + 1)};
    start.ssrc = random();
    start.firstSequence = static_cast<std::uint16_t>(random());
    start.firstTimestamp = random();
    start.duration = duration;
    StreamId id = Add(start);
    Play(id, true);
    return id;
}

std::vector<ReceiverReport> RtpStreamer::Reports() {
    std::lock_guard<std::mutex> guard(m_reportsLock);
    return std::vector<ReceiverReport>(m_reports.begin(), m_reports.end());
}

std::vector<StreamCounters> RtpStreamer::Counters() {
    std::vector<StreamCounters> counters;
    for (auto& pacer : m_pacers) {
        std::lock_guard<std::mutex> guard(pacer->lock);
        for (auto& stream : pacer->streams) {
            counters.push_back(stream->counters);
            counters.back().clientPort = stream->start.rtp.port;
            counters.back().interleaved = stream->start.link != nullptr;
            counters.back().rtpChannel = stream->start.rtpChannel;
        }
    }
    return counters;
}

RtpStreamer::Clock::time_point RtpStreamer::LastReportFrom(StreamId id) {
    Pacer* pacer = nullptr;
    std::lock_guard<std::mutex> guard(m_pacers[id % m_pacers.size()]->lock);
    std::shared_ptr<Stream> stream = FindStream(id, &pacer);
    return stream ? stream->lastReceiverReport : Clock::time_point{};
}

}  // namespace camsim
