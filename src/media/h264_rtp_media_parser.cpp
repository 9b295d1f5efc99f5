#include "media/h264_rtp_media_parser.h"

#include <algorithm>
#include <array>
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

std::uint8_t NalType(std::uint8_t header) { return header & 0x1F; }
bool IsSlice(std::uint8_t type) { return type >= 1 && type <= kNalTypeIdr; }
bool IsKeyNal(std::uint8_t type) { return type == kNalTypeIdr || type == kNalTypeSps || type == kNalTypePps; }

// Reads an RBSP most significant bit first; reading past the end sets `overrun`.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t length) : m_data(data), m_bits(length * 8) {}

    std::uint32_t Bit() {
        if (m_position >= m_bits) {
            m_overrun = true;
            return 1;
        }
        const std::uint32_t bit = (m_data[m_position / 8] >> (7 - m_position % 8)) & 1;
        ++m_position;
        return bit;
    }
    std::uint32_t Bits(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | Bit();
        return value;
    }
    // ue(v); codes longer than 32 bits cannot stand in a valid SPS and count as overrun.
    std::uint32_t Unsigned() {
        int zeros = 0;
        while (Bit() == 0) {
            if (++zeros > 31 || m_overrun) {
                m_overrun = true;
                return 0;
            }
        }
        return static_cast<std::uint32_t>((std::uint64_t(1) << zeros) - 1 + Bits(zeros));
    }
    std::int32_t Signed() {
        const std::uint32_t code = Unsigned();
        const std::int64_t magnitude = (std::int64_t(code) + 1) / 2;
        return static_cast<std::int32_t>(code & 1 ? magnitude : -magnitude);
    }
    bool Overrun() const { return m_overrun; }

private:
    const std::uint8_t* m_data;
    std::size_t m_bits;
    std::size_t m_position = 0;
    bool m_overrun = false;
};

// Writes bits most significant first, with emulation prevention bytes, behind a NAL header.
class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : m_out(out) {}
    void Bit(std::uint32_t bit) {
        m_byte = static_cast<std::uint8_t>((m_byte << 1) | (bit & 1));
        if (++m_count == 8) Flush();
    }
    void Bits(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) Bit(value >> i);
    }
    void Unsigned(std::uint32_t value) {
        const std::uint64_t code = std::uint64_t(value) + 1;
        int length = 0;
        while ((code >> length) > 1) ++length;
        Bits(0, length);
        for (int i = length; i >= 0; --i) Bit(static_cast<std::uint32_t>(code >> i));
    }
    void TrailingBits() {
        Bit(1);
        while (m_count != 0) Bit(0);
    }

private:
    void Flush() {
        if (m_zeros == 2 && m_byte <= 3) {
            m_out.push_back(0x03);
            m_zeros = 0;
        }
        m_out.push_back(m_byte);
        m_zeros = m_byte == 0 ? m_zeros + 1 : 0;
        m_byte = 0;
        m_count = 0;
    }
    std::vector<std::uint8_t>& m_out;
    std::uint8_t m_byte = 0;
    int m_count = 0;
    int m_zeros = 0;
};

void SkipScalingList(BitReader& reader, int size) {
    std::int32_t last = 8;
    std::int32_t next = 8;
    for (int i = 0; i < size && next != 0 && !reader.Overrun(); ++i) {
        next = (last + reader.Signed() + 256) % 256;
        if (next != 0) last = next;
    }
}

// The RBSP of the NAL unit that starts at `data` (behind its header), without the emulation
// prevention bytes, up to the next start code; at most `rbsp.size()` bytes.
std::size_t UnescapeRbsp(const std::uint8_t* data, std::size_t length, std::array<std::uint8_t, 1024>& rbsp) {
    std::size_t written = 0;
    int zeros = 0;
    for (std::size_t i = 0; i < length && written < rbsp.size(); ++i) {
        const std::uint8_t byte = data[i];
        if (zeros >= 2 && byte <= 0x01) break;  // the next start code
        if (zeros >= 2 && byte == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        rbsp[written++] = byte;
    }
    return written;
}

bool ReadSequenceParameterSet(BitReader& reader, std::uint32_t& width, std::uint32_t& height) {
    const std::uint32_t profile = reader.Bits(8);
    reader.Bits(8);  // constraint flags and reserved bits
    reader.Bits(8);  // level_idc
    reader.Unsigned();  // seq_parameter_set_id
    if (profile >= 100) {
        if (reader.Unsigned() == 3) reader.Bit();  // chroma_format_idc, separate_colour_plane_flag
        reader.Unsigned();  // bit_depth_luma_minus8
        reader.Unsigned();  // bit_depth_chroma_minus8
        reader.Bit();       // qpprime_y_zero_transform_bypass_flag
        if (reader.Bit()) {  // seq_scaling_matrix_present_flag
            for (int i = 0; i < 8; ++i)
                if (reader.Bit()) SkipScalingList(reader, i < 6 ? 16 : 64);
        }
    }
    reader.Unsigned();  // log2_max_frame_num_minus4
    const std::uint32_t pocType = reader.Unsigned();
    if (pocType == 0) {
        reader.Unsigned();
    } else if (pocType == 1) {
        reader.Bit();
        reader.Signed();
        reader.Signed();
        const std::uint32_t cycle = reader.Unsigned();
        for (std::uint32_t i = 0; i < cycle && !reader.Overrun(); ++i) reader.Signed();
    }
    reader.Unsigned();  // max_num_ref_frames
    reader.Bit();       // gaps_in_frame_num_value_allowed_flag
    const std::uint64_t widthMbs = std::uint64_t(reader.Unsigned()) + 1;
    const std::uint64_t heightUnits = std::uint64_t(reader.Unsigned()) + 1;
    const std::uint32_t frameMbsOnly = reader.Bit();
    std::int64_t w = static_cast<std::int64_t>(widthMbs * 16);
    std::int64_t h = static_cast<std::int64_t>(heightUnits * 16 * (2 - frameMbsOnly));
    if (!frameMbsOnly) reader.Bit();  // mb_adaptive_frame_field_flag
    reader.Bit();                     // direct_8x8_inference_flag
    if (reader.Bit()) {               // frame_cropping_flag
        const std::int64_t left = reader.Unsigned(), right = reader.Unsigned();
        const std::int64_t top = reader.Unsigned(), bottom = reader.Unsigned();
        w -= (left + right) * 2;
        h -= (top + bottom) * 2;
    }
    if (reader.Overrun() || w <= 0 || h <= 0 || w > 0xFFFF || h > 0xFFFF) return false;
    width = static_cast<std::uint32_t>(w);
    height = static_cast<std::uint32_t>(h);
    return true;
}

}  // namespace

bool ReadH264PictureSize(const std::uint8_t* data, std::size_t length, std::uint32_t& width,
                         std::uint32_t& height) {
    for (std::size_t i = 0; i + 3 < length; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1 || NalType(data[i + 3]) != kNalTypeSps) continue;
        std::array<std::uint8_t, 1024> rbsp;
        const std::size_t rbspLength = UnescapeRbsp(data + i + 4, length - i - 4, rbsp);
        BitReader reader(rbsp.data(), rbspLength);
        return ReadSequenceParameterSet(reader, width, height);
    }
    return false;
}

std::vector<std::uint8_t> BuildH264SequenceParameterSet(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> sps;
    if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) return sps;
    const std::uint32_t widthMbs = (width + 15) / 16;
    const std::uint32_t heightMbs = (height + 15) / 16;
    const bool cropping = widthMbs * 16 != width || heightMbs * 16 != height;
    sps.push_back(0x67);
    BitWriter writer(sps);
    writer.Bits(66, 8);  // profile_idc: baseline
    writer.Bits(0x80, 8);  // constraint_set0_flag, reserved zero bits
    writer.Bits(40, 8);  // level_idc
    writer.Unsigned(0);  // seq_parameter_set_id
    writer.Unsigned(0);  // log2_max_frame_num_minus4
    writer.Unsigned(2);  // pic_order_cnt_type
    writer.Unsigned(1);  // max_num_ref_frames
    writer.Bit(0);       // gaps_in_frame_num_value_allowed_flag
    writer.Unsigned(widthMbs - 1);
    writer.Unsigned(heightMbs - 1);
    writer.Bit(1);  // frame_mbs_only_flag
    writer.Bit(0);  // direct_8x8_inference_flag
    writer.Bit(cropping ? 1 : 0);
    if (cropping) {
        writer.Unsigned(0);
        writer.Unsigned((widthMbs * 16 - width) / 2);
        writer.Unsigned(0);
        writer.Unsigned((heightMbs * 16 - height) / 2);
    }
    writer.Bit(0);  // vui_parameters_present_flag
    writer.TrailingBits();
    return sps;
}

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
        const std::uint8_t type = NalType(nalHeader);
        if (type == kNalTypeIdr && !InsertParameterSetsIfMissing()) return false;
        if (IsKeyNal(type)) m_keyFlag = true;
        m_frame.insert(m_frame.end(), std::begin(kStartCode), std::end(kStartCode));
        m_frame.push_back(nalHeader);
    }
    m_frame.insert(m_frame.end(), payload + 2, payload + length);
    m_fragmentFlag = true;
    m_endsAccessUnit = false;
    return true;
}

bool CH264RTPMediaParser::AppendNalUnit(const std::uint8_t* unit, std::size_t length) {
    const std::uint8_t type = NalType(unit[0]);
    if (type == kNalTypeSps) {
        m_streamSps.assign(unit, unit + length);
        m_accessUnitHasSps = true;
    } else if (type == kNalTypePps) {
        m_streamPps.assign(unit, unit + length);
    } else if (type == kNalTypeIdr && !InsertParameterSetsIfMissing()) {
        return false;
    }
    if (IsKeyNal(type)) m_keyFlag = true;
    AppendWithStartCode(unit, length);
    return true;
}

bool CH264RTPMediaParser::InsertParameterSetsIfMissing() {
    if (m_accessUnitHasSps) return true;
    const std::vector<std::uint8_t>* sps = &m_streamSps;
    const std::vector<std::uint8_t>* pps = &m_streamPps;
    if (sps->empty() || pps->empty()) {
        if (m_ownSps.empty() || m_ownPps.empty()) {
            if (m_client == nullptr) return false;
            const auto size = m_client->GetPictureSize();
            m_ownSps = BuildH264SequenceParameterSet(size.first, size.second);
            m_ownPps.assign(std::begin(kFixedPps), std::end(kFixedPps));
            if (m_ownSps.empty()) return false;
        }
        sps = &m_ownSps;
        pps = &m_ownPps;
    }
    AppendWithStartCode(sps->data(), sps->size());
    AppendWithStartCode(pps->data(), pps->size());
    m_accessUnitHasSps = true;
    return true;
}

void CH264RTPMediaParser::AppendWithStartCode(const std::uint8_t* data, std::size_t length) {
    m_frame.insert(m_frame.end(), std::begin(kStartCode), std::end(kStartCode));
    m_frame.insert(m_frame.end(), data, data + length);
}

void CH264RTPMediaParser::DeliverFrame() {
    ipcapture::IFramePool* pool = GetFramePool();
    if (pool == nullptr || m_client == nullptr || m_frame.empty()) return;
    std::uint32_t fourCC = ipcapture::kFourCCH264;
    if (m_keyFlag) {
        if (!ReadH264PictureSize(m_frame.data(), m_frame.size(), m_width, m_height)) {
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
    if (!m_client->OnFrame(frame)) Reset();
    pool->ReleaseFrame(frame);
}

}  // namespace kestrel
