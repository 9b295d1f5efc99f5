// H.264 access units from RTP (RFC 6184 non-interleaved mode: single NAL unit packets, STAP-A,
// FU-A), written as Annex B byte streams with three-byte start codes and handed to the host as
// "H264" (key frames: an IDR slice or a parameter set in the access unit) or "I264" frames.
#ifndef QUILLON_MEDIA_H264_RTP_MEDIA_PARSER_H
#define QUILLON_MEDIA_H264_RTP_MEDIA_PARSER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/rtp_media_parser.h"

namespace kestrel {

class CH264RTPMediaParser : public CRTPMediaParser {
public:
    CH264RTPMediaParser(IDriver* driver, std::string name);

    void ProcessPacket(const RTPPacket& packet) override;
    void Reset() override;

    static constexpr std::size_t kMaxFrameBytes = 2097152;

private:
    bool HandlePayload(const std::uint8_t* payload, std::size_t length);
    bool HandleSingleNalUnit(const std::uint8_t* payload, std::size_t length);
    bool HandleStapA(const std::uint8_t* payload, std::size_t length);
    bool HandleFuA(const std::uint8_t* payload, std::size_t length);
    // Appends one whole NAL unit behind a start code.
    bool AppendNalUnit(const std::uint8_t* unit, std::size_t length);
    // Appends the start code of a NAL unit of `type` and notes what the unit means for the
    // access unit; its bytes follow, in one piece or fragment by fragment.
    bool BeginNalUnit(std::uint8_t type);
    // Remembers the unit just completed when it is a parameter set, in whatever packet form
    // it came.
    void EndNalUnit();
    // Before an IDR slice of an access unit without an SPS or PPS: the stream's last ones,
    // or ours (from the configured size, and the fixed PPS) when the stream has sent none.
    bool InsertParameterSetsIfMissing();
    void InsertWithStartCode(std::size_t at, const std::uint8_t* data, std::size_t length);
    bool ReadKeyFrameSize();
    void DeliverFrame();
    void StartNextAccessUnit();

    static constexpr std::size_t kNowhere = static_cast<std::size_t>(-1);

    bool m_discarding = true;
    bool m_keyFlag = false;
    bool m_fragmentFlag = false;
    bool m_endsAccessUnit = false;  // the last payload was a slice in a single NAL unit packet
    bool m_accessUnitHasSps = false;
    std::size_t m_accessUnitPpsAt = kNowhere;  // frame offset of the unit's first PPS start code
    std::uint8_t m_unitType = 0;               // of the NAL unit being appended, 0 when none
    std::size_t m_unitStart = 0;               // frame offset of its NAL header
    std::vector<std::uint8_t> m_streamSps;  // the last parameter sets the stream sent, NAL header included
    std::vector<std::uint8_t> m_streamPps;
    std::vector<std::uint8_t> m_ownSps;  // built on first need from the configured size
};

}  // namespace kestrel

#endif
