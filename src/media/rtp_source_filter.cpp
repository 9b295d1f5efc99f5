#include "media/rtp_source_filter.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

std::uint32_t HostSsrc(const RTPPacket& packet) {
    // The record keeps the SSRC's bytes as they stand in the datagram.
    std::uint8_t bytes[4];
    std::memcpy(bytes, &packet.ssrc, sizeof bytes);
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
}

}  // namespace

void CRTPSourceFilter::Reset(std::uint32_t cameraAddress) {
    m_phase.store(Phase::kWaiting, std::memory_order_release);
    m_cameraAddress = cameraAddress;
    m_expected = RTPSourceExpectation();
    m_candidate = Source();
    m_latched = false;
    m_staleCount = 0;
}

void CRTPSourceFilter::BeginProbe() {
    m_candidate = Source();
    m_staleCount = 0;
    m_phase.store(Phase::kProbing, std::memory_order_release);
}

void CRTPSourceFilter::EndProbe() { m_phase.store(Phase::kWaiting, std::memory_order_release); }

void CRTPSourceFilter::Open(const RTPSourceExpectation& expected) {
    // Only while waiting: the receive thread reads m_expected once the phase is open.
    if (m_phase.load(std::memory_order_acquire) != Phase::kWaiting) return;
    m_expected = expected;
    m_phase.store(Phase::kOpen, std::memory_order_release);
}

RTPSourceVerdict CRTPSourceFilter::Judge(const platform::Ipv4Endpoint& from, const RTPPacket& packet) {
    const Phase phase = m_phase.load(std::memory_order_acquire);
    if (from.address != m_cameraAddress) return RTPSourceVerdict::kForeign;
    if (phase == Phase::kOpen) return JudgeOpen(from, packet);
    // Before the session named its stream, nothing is the stream yet.
    if (phase == Phase::kWaiting) return RTPSourceVerdict::kForeign;
    NoteStale(HostSsrc(packet));
    // One datagram does not make a port busy, or anyone could make every port look taken.
    return Follow(m_candidate, from, packet) >= kMinSequential ? RTPSourceVerdict::kProbeStream
                                                               : RTPSourceVerdict::kProbe;
}

RTPSourceVerdict CRTPSourceFilter::JudgeOpen(const platform::Ipv4Endpoint& from, const RTPPacket& packet) {
    const std::uint32_t ssrc = HostSsrc(packet);
    if (m_latched) {
        const bool same = from.port == m_candidate.port && ssrc == m_candidate.ssrc;
        return same ? RTPSourceVerdict::kAccept : RTPSourceVerdict::kForeign;
    }
    if (m_expected.rtpPort != 0 && from.port != m_expected.rtpPort) return RTPSourceVerdict::kForeign;
    if (m_expected.ssrcNamed) {
        if (ssrc != m_expected.ssrc) return RTPSourceVerdict::kForeign;
    } else if (IsStale(ssrc)) {
        return RTPSourceVerdict::kForeign;
    }
    // A source the session named is taken at once; one it left open only after probation.
    const unsigned run = Follow(m_candidate, from, packet);
    if (!m_expected.ssrcNamed && run < kMinSequential) return RTPSourceVerdict::kProbation;
    m_latched = true;
    return RTPSourceVerdict::kAccept;
}

unsigned CRTPSourceFilter::Follow(Source& source, const platform::Ipv4Endpoint& from, const RTPPacket& packet) {
    const std::uint32_t ssrc = HostSsrc(packet);
    const bool continues = source.run != 0 && source.port == from.port && source.ssrc == ssrc &&
                           packet.sequenceNumber == std::uint16_t(source.lastSequence + 1);
    if (continues) {
        ++source.run;
    } else {
        source.port = from.port;
        source.ssrc = ssrc;
        source.run = 1;
    }
    source.lastSequence = packet.sequenceNumber;
    return source.run;
}

bool CRTPSourceFilter::IsStale(std::uint32_t ssrc) const {
    return std::find(m_stale.begin(), m_stale.begin() + m_staleCount, ssrc) != m_stale.begin() + m_staleCount;
}

void CRTPSourceFilter::NoteStale(std::uint32_t ssrc) {
    // Bounded: a flood of made-up SSRCs keeps only the first few.
    if (m_staleCount < m_stale.size() && !IsStale(ssrc)) m_stale[m_staleCount++] = ssrc;
}

}  // namespace kestrel
