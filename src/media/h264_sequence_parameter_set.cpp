#include "media/h264_sequence_parameter_set.h"

#include <array>

namespace kestrel {
namespace {

constexpr std::uint8_t kNalTypeSps = 7;

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
    std::int64_t Signed() {
        const std::uint32_t code = Unsigned();
        const std::int64_t magnitude = (std::int64_t(code) + 1) / 2;
        return code & 1 ? magnitude : -magnitude;
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

// Section 7.3.2.1.1.1: each entry is a delta in -128..127 from the last; a next scale of 0
// ends the updates. False on a delta out of range.
bool SkipScalingList(BitReader& reader, int size) {
    std::int64_t last = 8;
    std::int64_t next = 8;
    for (int i = 0; i < size && next != 0 && !reader.Overrun(); ++i) {
        const std::int64_t delta = reader.Signed();
        if (delta < -128 || delta > 127) return false;
        next = (last + delta + 256) % 256;
        if (next != 0) last = next;
    }
    return true;
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

// Section 7.4.2.1.1: profiles whose SPS carries chroma format, bit depths and scaling lists.
bool HasChromaFields(std::uint32_t profile) {
    switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138:
    case 139: case 134: case 135:
        return true;
    default:
        return false;
    }
}

// Crop offsets count in units of the chroma sampling (table 6-1, equations 7-19 to 7-22):
// 2 columns and 2 rows for 4:2:0, 2 columns and 1 row for 4:2:2, 1 and 1 for 4:4:4 (planes
// coded together or apart) and monochrome; rows double for field-coded streams.
struct CropUnits {
    std::int64_t x = 2;
    std::int64_t y = 2;
};

// Chroma format, bit depths and scaling lists; false when they are out of range.
bool ReadChromaFields(BitReader& reader, CropUnits& units) {
    const std::uint32_t chromaFormat = reader.Unsigned();
    if (chromaFormat > 3) return false;
    if (chromaFormat == 3) reader.Bit();  // separate_colour_plane_flag: single pixels either way
    reader.Unsigned();  // bit_depth_luma_minus8
    reader.Unsigned();  // bit_depth_chroma_minus8
    reader.Bit();       // qpprime_y_zero_transform_bypass_flag
    if (reader.Bit()) {  // seq_scaling_matrix_present_flag
        const int lists = chromaFormat == 3 ? 12 : 8;
        for (int i = 0; i < lists; ++i)
            if (reader.Bit() && !SkipScalingList(reader, i < 6 ? 16 : 64)) return false;
    }
    if (chromaFormat == 2) {
        units = {2, 1};
    } else if (chromaFormat != 1) {
        units = {1, 1};
    }
    return true;
}

bool ReadSequenceParameterSet(BitReader& reader, std::uint32_t& width, std::uint32_t& height) {
    const std::uint32_t profile = reader.Bits(8);
    reader.Bits(8);  // constraint flags and reserved bits
    reader.Bits(8);  // level_idc
    reader.Unsigned();  // seq_parameter_set_id
    CropUnits units;
    if (HasChromaFields(profile) && !ReadChromaFields(reader, units)) return false;
    reader.Unsigned();  // log2_max_frame_num_minus4
    const std::uint32_t pocType = reader.Unsigned();
    if (pocType == 0) {
        reader.Unsigned();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        reader.Bit();     // delta_pic_order_always_zero_flag
        reader.Signed();  // offset_for_non_ref_pic
        reader.Signed();  // offset_for_top_to_bottom_field
        const std::uint32_t cycle = reader.Unsigned();
        if (cycle > 255) return false;
        for (std::uint32_t i = 0; i < cycle; ++i) reader.Signed();
    } else if (pocType > 2) {
        return false;
    }
    reader.Unsigned();  // max_num_ref_frames
    reader.Bit();       // gaps_in_frame_num_value_allowed_flag
    const std::int64_t widthMbs = std::int64_t(reader.Unsigned()) + 1;
    const std::int64_t heightMapUnits = std::int64_t(reader.Unsigned()) + 1;
    const std::int64_t frameMbsOnly = reader.Bit();
    // A map unit of a field-coded stream is a pair of macroblock rows, one of each field.
    std::int64_t w = widthMbs * 16;
    std::int64_t h = heightMapUnits * 16 * (2 - frameMbsOnly);
    if (!frameMbsOnly) reader.Bit();  // mb_adaptive_frame_field_flag
    reader.Bit();                     // direct_8x8_inference_flag
    if (reader.Bit()) {               // frame_cropping_flag
        const std::int64_t left = reader.Unsigned(), right = reader.Unsigned();
        const std::int64_t top = reader.Unsigned(), bottom = reader.Unsigned();
        w -= (left + right) * units.x;
        h -= (top + bottom) * units.y * (2 - frameMbsOnly);
    }
    if (reader.Overrun() || w <= 0 || h <= 0 || w > 0xFFFF || h > 0xFFFF) return false;
    width = static_cast<std::uint32_t>(w);
    height = static_cast<std::uint32_t>(h);
    return true;
}

}  // namespace

bool ReadH264SequenceParameterSet(const std::uint8_t* nal, std::size_t length, std::uint32_t& width,
                                  std::uint32_t& height) {
    if (length < 1 || (nal[0] & 0x1F) != kNalTypeSps) return false;
    std::array<std::uint8_t, 1024> rbsp;
    const std::size_t rbspLength = UnescapeRbsp(nal + 1, length - 1, rbsp);
    BitReader reader(rbsp.data(), rbspLength);
    return ReadSequenceParameterSet(reader, width, height);
}

bool ReadH264PictureSize(const std::uint8_t* data, std::size_t length, std::uint32_t& width,
                         std::uint32_t& height) {
    for (std::size_t i = 0; i + 3 < length; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1 || (data[i + 3] & 0x1F) != kNalTypeSps) continue;
        return ReadH264SequenceParameterSet(data + i + 3, length - i - 3, width, height);
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

}  // namespace kestrel
