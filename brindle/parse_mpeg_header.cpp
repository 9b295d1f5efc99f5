// Video object layer header reader (ISO/IEC 14496-2 section 6.2.3): every field up to
// video_object_layer_width and _height is stepped over by its syntax, and every read is checked
// against the end of the caller's buffer.
#include "brindle.h"

#include <cstddef>

namespace {

constexpr std::uint8_t kVolStartCodeFirst = 0x20;  // video_object_layer_start_code 0x20 .. 0x2F
constexpr std::uint8_t kVolStartCodeLast = 0x2F;
constexpr std::uint32_t kAspectRatioExtendedPar = 0xF;
constexpr std::uint32_t kShapeRectangular = 0;
constexpr std::uint32_t kShapeGrayscale = 3;

// Most significant bit first. A read past the end yields zeros and marks the reader failed.
class CBitReader {
public:
    CBitReader(const std::uint8_t* data, std::size_t length) : m_data(data), m_bits(length * 8) {}

    std::uint32_t Read(unsigned count) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) value = value << 1 | ReadBit();
        return value;
    }
    bool Flag() { return ReadBit() != 0; }
    void Skip(unsigned count) { Read(count); }
    // marker_bit: always 1 in a well-formed header; a 0 means the fields are misaligned.
    void Marker() {
        if (!Flag()) m_failed = true;
    }
    bool Failed() const { return m_failed; }

private:
    std::uint32_t ReadBit() {
        if (m_position >= m_bits) {
            m_failed = true;
            return 0;
        }
        const std::size_t bit = m_position++;
        return m_data[bit / 8] >> (7 - bit % 8) & 1;
    }

    const std::uint8_t* m_data;
    std::size_t m_bits;
    std::size_t m_position = 0;
    bool m_failed = false;
};

// Offset just past the first video object layer start code (00 00 01 20..2F), or `length`.
std::size_t FindVolHeader(const std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i + 4 <= length; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 &&
            data[i + 3] >= kVolStartCodeFirst && data[i + 3] <= kVolStartCodeLast) {
            return i + 4;
        }
    }
    return length;
}

// Bits needed for values 0 .. resolution - 1, at least 1.
unsigned TimeIncrementBits(std::uint32_t resolution) {
    unsigned bits = 1;
    while (bits < 16 && (std::uint32_t(1) << bits) < resolution) ++bits;
    return bits;
}

void SkipVbvParameters(CBitReader& bits) {
    bits.Skip(15);  // first_half_bit_rate
    bits.Marker();
    bits.Skip(15);  // latter_half_bit_rate
    bits.Marker();
    bits.Skip(15);  // first_half_vbv_buffer_size
    bits.Marker();
    bits.Skip(3);   // latter_half_vbv_buffer_size
    bits.Skip(11);  // first_half_vbv_occupancy
    bits.Marker();
    bits.Skip(15);  // latter_half_vbv_occupancy
    bits.Marker();
}

// Reads the layer after its start code; false unless the shape is rectangular and the header
// reaches the height's marker bit.
bool ReadVolSize(CBitReader& bits, std::uint32_t& width, std::uint32_t& height) {
    bits.Skip(1);  // random_accessible_vol
    bits.Skip(8);  // video_object_type_indication
    std::uint32_t verid = 1;
    if (bits.Flag()) {  // is_object_layer_identifier
        verid = bits.Read(4);
        bits.Skip(3);  // video_object_layer_priority
    }
    if (bits.Read(4) == kAspectRatioExtendedPar) bits.Skip(16);  // par_width, par_height
    if (bits.Flag()) {  // vol_control_parameters
        bits.Skip(2);   // chroma_format
        bits.Skip(1);   // low_delay
        if (bits.Flag()) SkipVbvParameters(bits);
    }
    const std::uint32_t shape = bits.Read(2);
    if (shape == kShapeGrayscale && verid != 1) bits.Skip(4);  // video_object_layer_shape_extension
    bits.Marker();
    const std::uint32_t resolution = bits.Read(16);  // vop_time_increment_resolution
    bits.Marker();
    if (resolution == 0) return false;  // forbidden value
    if (bits.Flag()) bits.Skip(TimeIncrementBits(resolution));  // fixed_vop_time_increment
    if (shape != kShapeRectangular) return false;  // such layers carry no picture size
    bits.Marker();
    width = bits.Read(13);
    bits.Marker();
    height = bits.Read(13);
    bits.Marker();
    return !bits.Failed();
}

}  // namespace

extern "C" std::int32_t BRINDLE_CALL ParseMpegHeader(const std::uint8_t* data, std::int32_t length,
                                                     std::int32_t* width, std::int32_t* height) {
    if (!data || length <= 0 || !width || !height) return 0;
    const std::size_t size = static_cast<std::size_t>(length);
    const std::size_t start = FindVolHeader(data, size);
    CBitReader bits(data + start, size - start);
    std::uint32_t w = 0;
    std::uint32_t h = 0;
    if (!ReadVolSize(bits, w, h) || w == 0 || h == 0) return 0;
    *width = static_cast<std::int32_t>(w);
    *height = static_cast<std::int32_t>(h);
    return 1;
}
