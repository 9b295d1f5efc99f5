#include "media/h264_rtp_media_parser.h"

#include "media/h264_sequence_parameter_set.h"

#include <algorithm>
#include <new>
#include <utility>

namespace kestrel {
namespace {

constexpr std::uint8_t kStartCode[] = {0x00, 0x00, 0x01};
constexpr std::uint8_t kAccessUnitDelimiter[] = {0x00, 0x00, 0x01, 0x09, 0x30};
constexpr std::uint8_t kFixedPps[] = {0x68, 0xCE, 0x3C, 0x80};
constexpr std::uint32_t kFrameHeadroom = 40960;

constexpr std::uint8_t kNalTypeIdr = 5;
constexpr std::uint8_t kNalTypeSps = 7;
constexpr std::uint8_t kNalTypePps = 8;
constexpr std::uint8_t kNalTypeStapA = 24;
constexpr std::uint8_t kNalTypeFuA = 28;
constexpr std::uint8_t kFuStart = 0x80;
constexpr std::uint8_t kFuEnd = 0x40;

std::uint8_t NalType(std::uint8_t header) { return header & 0x1F; }
bool IsSlice(std::uint8_t type) { return type >= 1 && type <= kNalTypeIdr; }
bool IsKeyNal(std::uint8_t type) { return type == kNalTypeIdr || type == kNalTypeSps || type == kNalTypePps; }

}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver, std::string name)
    : CRTPMediaParser(driver, std::move(name)) {
    Reset();
}

void CH264RTPMediaParser::Reset() {
    m_discarding = true;
    m_width = 0;
    m_height = 0;
    m_fragmentFlag = false;
    StartNextAccessUnit();
}

void CH264RTPMediaParser::StartNextAccessUnit() {
    m_keyFlag = false;
    m_endsAccessUnit = false;
    m_accessUnitHasSps = false;
    m_accessUnitPpsAt = kNowhere;
    m_unitType = 0;
    m_frame.clear();
}

void CH264RTPMediaParser::ProcessPacket(const RTPPacket& packet) {
    try {
        if (!CheckSequence(packet)) Reset();
        if (!HandlePayload(packet.payload, packet.payloadLength)) return;
        // RFC 6184: the marker ends an access unit. On a parameter set or SEI sent alone some
        // cameras set it early, so there it counts only behind an aggregate or a fragment.
        if (packet.marker && (m_fragmentFlag || m_endsAccessUnit)) {
            DeliverFrame();
            StartNextAccessUnit();
        }
    } catch (const std::bad_alloc&) {
        Reset();
    }
}

bool CH264RTPMediaParser::HandlePayload(const std::uint8_t* payload, std::size_t length) {
    const std::uint8_t type = length > 0 ? NalType(payload[0]) : 0;
    bool handled = false;
    if (type >= 1 && type <= 23) {
        handled = HandleSingleNalUnit(payload, length);
    } else if (type == kNalTypeStapA) {
        handled = HandleStapA(payload, length);
    } else if (type == kNalTypeFuA) {
        handled = HandleFuA(payload, length);
    }
    if (!handled || m_frame.size() > kMaxFrameBytes) {
        m_discarding = true;
    } else if (m_discarding) {
        m_discarding = !m_keyFlag;
    }
    if (m_discarding) StartNextAccessUnit();
    return !m_discarding;
}

bool CH264RTPMediaParser::HandleSingleNalUnit(const std::uint8_t* payload, std::size_t length) {
    m_fragmentFlag = false;
    if (!AppendNalUnit(payload, length)) return false;
    m_endsAccessUnit = IsSlice(NalType(payload[0]));
    return true;
}

bool CH264RTPMediaParser::HandleStapA(const std::uint8_t* payload, std::size_t length) {
    if (length < 4) return false;
    std::size_t position = 1;
    while (position < length) {
        if (length - position < 2) return false;
        const std::size_t size = (std::size_t(payload[position]) << 8) | payload[position + 1];
        position += 2;
        if (size == 0 || size > length - position) return false;
        if (!AppendNalUnit(payload + position, size)) return false;
        position += size;
    }
    m_fragmentFlag = true;
    m_endsAccessUnit = false;
    return true;
}

bool CH264RTPMediaParser::HandleFuA(const std::uint8_t* payload, std::size_t length) {
    if (length < 3) return false;
    const std::uint8_t fuHeader = payload[1];
    const std::uint8_t nalHeader = static_cast<std::uint8_t>((payload[0] & 0xE0) | NalType(fuHeader));
    if (fuHeader & kFuStart) {
        if (!BeginNalUnit(NalType(nalHeader))) return false;
        m_frame.push_back(nalHeader);
    }
    m_frame.insert(m_frame.end(), payload + 2, payload + length);
    if (fuHeader & kFuEnd) EndNalUnit();
    m_fragmentFlag = true;
    m_endsAccessUnit = false;
    return true;
}

bool CH264RTPMediaParser::AppendNalUnit(const std::uint8_t* unit, std::size_t length) {
    if (!BeginNalUnit(NalType(unit[0]))) return false;
    m_frame.insert(m_frame.end(), unit, unit + length);
    EndNalUnit();
    return true;
}

bool CH264RTPMediaParser::BeginNalUnit(std::uint8_t type) {
    EndNalUnit();  // a fragmented unit whose end fragment never came ends here
    if (type == kNalTypeIdr && !InsertParameterSetsIfMissing()) return false;
    if (type == kNalTypeSps) m_accessUnitHasSps = true;
    if (type == kNalTypePps && m_accessUnitPpsAt == kNowhere) m_accessUnitPpsAt = m_frame.size();
    if (IsKeyNal(type)) m_keyFlag = true;
    m_frame.insert(m_frame.end(), std::begin(kStartCode), std::end(kStartCode));
    m_unitType = type;
    m_unitStart = m_frame.size();
    return true;
}

void CH264RTPMediaParser::EndNalUnit() {
    const auto unit = m_frame.begin() + static_cast<std::ptrdiff_t>(m_unitStart);
    if (m_unitType == kNalTypeSps) m_streamSps.assign(unit, m_frame.end());
    if (m_unitType == kNalTypePps) m_streamPps.assign(unit, m_frame.end());
    m_unitType = 0;
}

// Before an IDR slice: the SPS goes in front of the unit's PPS when it has one, so that a
// decoder starting at this frame meets them in order; what the stream has never sent is ours.
bool CH264RTPMediaParser::InsertParameterSetsIfMissing() {
    if (!m_accessUnitHasSps) {
        if (m_streamSps.empty() && m_ownSps.empty()) {
            if (m_client == nullptr) return false;
            const auto size = m_client->GetPictureSize();
            m_ownSps = BuildH264SequenceParameterSet(size.first, size.second);
            if (m_ownSps.empty()) return false;
        }
        const std::vector<std::uint8_t>& sps = m_streamSps.empty() ? m_ownSps : m_streamSps;
        const std::size_t at = m_accessUnitPpsAt == kNowhere ? m_frame.size() : m_accessUnitPpsAt;
        InsertWithStartCode(at, sps.data(), sps.size());
        if (m_accessUnitPpsAt != kNowhere) m_accessUnitPpsAt += sizeof kStartCode + sps.size();
        m_accessUnitHasSps = true;
    }
    if (m_accessUnitPpsAt == kNowhere) {
        m_accessUnitPpsAt = m_frame.size();
        if (m_streamPps.empty()) {
            InsertWithStartCode(m_frame.size(), kFixedPps, sizeof kFixedPps);
        } else {
            InsertWithStartCode(m_frame.size(), m_streamPps.data(), m_streamPps.size());
        }
    }
    return true;
}

void CH264RTPMediaParser::InsertWithStartCode(std::size_t at, const std::uint8_t* data, std::size_t length) {
    const auto position = m_frame.insert(m_frame.begin() + static_cast<std::ptrdiff_t>(at), data, data + length);
    m_frame.insert(position, std::begin(kStartCode), std::end(kStartCode));
}

// A key frame's size comes from its own SPS, else from the stream's last one; only a stream
// that has sent none takes the configured size.
bool CH264RTPMediaParser::ReadKeyFrameSize() {
    if (m_accessUnitHasSps) return ReadH264PictureSize(m_frame.data(), m_frame.size(), m_width, m_height);
    if (!m_streamSps.empty())
        return ReadH264SequenceParameterSet(m_streamSps.data(), m_streamSps.size(), m_width, m_height);
    const auto size = m_client->GetPictureSize();
    if (size.first == 0 || size.second == 0) return false;
    m_width = size.first;
    m_height = size.second;
    return true;
}

void CH264RTPMediaParser::DeliverFrame() {
    EndNalUnit();
    ipcapture::IFramePool* pool = GetFramePool();
    if (pool == nullptr || m_client == nullptr || m_frame.empty()) return;
    std::uint32_t fourCC = ipcapture::kFourCCH264;
    if (m_keyFlag) {
        if (!ReadKeyFrameSize()) {
            Reset();
            return;
        }
        fourCC = ipcapture::kFourCCH264Key;
    } else if (m_width == 0 || m_height == 0) {
        Reset();
        return;
    }
    const auto length = static_cast<std::uint32_t>(m_frame.size());
    ipcapture::IVideoFrame* frame = AllocateFrame(pool, fourCC, FrameCapacity(length) + kFrameHeadroom);
    if (frame == nullptr) return;
    std::uint8_t* data = frame->GetData();
    std::copy(m_frame.begin(), m_frame.end(), data);
    std::copy(std::begin(kAccessUnitDelimiter), std::end(kAccessUnitDelimiter), data + length);
    CompleteFrame(frame, m_width, m_height, length + sizeof kAccessUnitDelimiter, fourCC);
    if (!m_client->OnFrame(frame, m_width, m_height)) Reset();
    pool->ReleaseFrame(frame);
}

}  // namespace kestrel
