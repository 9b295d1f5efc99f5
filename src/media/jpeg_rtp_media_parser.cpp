#include "media/jpeg_rtp_media_parser.h"

#include <algorithm>
#include <new>
#include <utility>

namespace kestrel {
namespace {

constexpr std::size_t kMainHeaderBytes = 8;
constexpr std::size_t kRestartHeaderBytes = 4;
constexpr std::size_t kQuantisationHeaderBytes = 4;
constexpr std::uint8_t kFirstInBandQ = 128;
constexpr std::uint8_t kFirstRestartType = 64;
constexpr std::uint8_t kLastRestartType = 127;
constexpr std::uint32_t kHeaderHeadroom = 1024;

// ITU-T T.81 Annex K.1 and K.2, natural order.
constexpr std::uint8_t kLumaQuantiser[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::uint8_t kChromaQuantiser[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Natural index of each zig-zag position.
constexpr std::uint8_t kZigZag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// ITU-T T.81 Annex K.3: code-length counts, then values.
constexpr std::uint8_t kLumaDcCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kChromaDcCounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr std::uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::uint8_t kLumaAcCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr std::uint8_t kLumaAcValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr std::uint8_t kChromaAcCounts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr std::uint8_t kChromaAcValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// RFC 2435 3.1.7: types 64 to 127 carry a restart marker header in every packet.
bool IsRestartType(std::uint8_t type) { return type >= kFirstRestartType && type <= kLastRestartType; }

std::uint32_t ReadUint24(const std::uint8_t* p) { return (std::uint32_t(p[0]) << 16) | (p[1] << 8) | p[2]; }
std::uint16_t ReadUint16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

class HeaderWriter {
public:
    explicit HeaderWriter(std::uint8_t* out) : m_out(out) {}
    void Byte(std::uint32_t value) { m_out[m_length++] = static_cast<std::uint8_t>(value); }
    void Word(std::uint32_t value) {
        Byte(value >> 8);
        Byte(value);
    }
    void Bytes(const std::uint8_t* data, std::size_t length) {
        std::copy(data, data + length, m_out + m_length);
        m_length += length;
    }
    void QuantisationTable(std::uint8_t number, const std::vector<std::uint8_t>& table, bool wide) {
        Word(0xFFDB);
        Word(2 + 1 + table.size());
        Byte((wide ? 0x10 : 0x00) | number);
        Bytes(table.data(), table.size());
    }
    void HuffmanTable(std::uint8_t classAndNumber, const std::uint8_t (&counts)[16], const std::uint8_t* values,
                      std::size_t valueCount) {
        Word(0xFFC4);
        Word(3 + 16 + valueCount);
        Byte(classAndNumber);
        Bytes(counts, 16);
        Bytes(values, valueCount);
    }
    std::size_t Length() const { return m_length; }

private:
    std::uint8_t* m_out;
    std::size_t m_length = 0;
};

}  // namespace

CJpegRTPMediaParser::Tables CJpegRTPMediaParser::TablesForQ(std::uint8_t q) {
    const int quality = std::clamp<int>(q, 1, 99);
    const int factor = q < 50 ? 5000 / quality : 200 - 2 * quality;
    Tables tables;
    tables.luma.resize(64);
    tables.chroma.resize(64);
    for (int i = 0; i < 64; ++i) {
        auto scale = [factor](int entry) { return static_cast<std::uint8_t>(std::clamp((entry * factor + 50) / 100, 1, 255)); };
        tables.luma[i] = scale(kLumaQuantiser[kZigZag[i]]);
        tables.chroma[i] = scale(kChromaQuantiser[kZigZag[i]]);
    }
    return tables;
}

CJpegRTPMediaParser::CJpegRTPMediaParser(IDriver* driver, std::string name)
    : CRTPMediaParser(driver, std::move(name)) {}

void CJpegRTPMediaParser::Reset() {
    m_waiting = true;
    m_width = 0;
    m_height = 0;
    m_frame.clear();
}

void CJpegRTPMediaParser::ProcessPacket(const RTPPacket& packet) {
    try {
        if (!CheckSequence(packet)) Reset();
        if (!HandlePayload(packet.payload, packet.payloadLength)) return;
        if (packet.marker) {
            DeliverFrame();
            m_frame.clear();
            m_waiting = true;  // the next frame starts again at fragment offset 0
        }
    } catch (const std::bad_alloc&) {
        Reset();
    }
}

bool CJpegRTPMediaParser::HandlePayload(const std::uint8_t* payload, std::size_t length) {
    if (length < kMainHeaderBytes + 1) return false;
    std::size_t scanStart = kMainHeaderBytes;
    if (ReadUint24(payload + 1) == 0) {
        m_frame.clear();
        m_waiting = !ReadFirstFragment(payload, length, scanStart);
    } else if (IsRestartType(payload[4])) {
        scanStart += kRestartHeaderBytes;  // every packet of a restart type carries one
    }
    if (!m_waiting && scanStart < length) m_frame.insert(m_frame.end(), payload + scanStart, payload + length);
    if (m_frame.size() <= kMaxFrameBytes && !m_waiting) return true;
    Reset();
    return false;
}

bool CJpegRTPMediaParser::ReadFirstFragment(const std::uint8_t* payload, std::size_t length, std::size_t& scanStart) {
    FrameHeader header;
    header.type = payload[4];
    header.q = payload[5];
    header.width = payload[6] * 8u;
    header.height = payload[7] * 8u;
    if (header.width == 0 || header.height == 0) return false;
    std::size_t position = kMainHeaderBytes;
    if (IsRestartType(header.type)) {
        if (length < position + kRestartHeaderBytes) return false;
        header.restartInterval = ReadUint16(payload + position);
        position += kRestartHeaderBytes;
    }
    if (header.q < kFirstInBandQ) {
        m_tables = TablesForQ(header.q);
    } else {
        std::size_t used = 0;
        if (!ReadQuantisationTables(header.q, payload + position, length - position, used)) return false;
        position += used;
    }
    m_header = header;
    scanStart = position;
    return true;
}

bool CJpegRTPMediaParser::ReadQuantisationTables(std::uint8_t q, const std::uint8_t* data, std::size_t length,
                                                 std::size_t& used) {
    if (length < kQuantisationHeaderBytes) return false;
    const std::uint8_t precision = data[1];
    const std::size_t tableBytes = ReadUint16(data + 2);
    Tables& remembered = m_receivedTables[q - kFirstInBandQ];
    used = kQuantisationHeaderBytes + tableBytes;
    if (tableBytes == 0) {
        if (remembered.luma.empty()) return false;
        m_tables = remembered;
        return true;
    }
    const std::size_t lumaBytes = precision & 1 ? 128 : 64;
    const std::size_t chromaBytes = precision & 2 ? 128 : 64;
    if (tableBytes != lumaBytes + chromaBytes || length < used) return false;
    const std::uint8_t* tables = data + kQuantisationHeaderBytes;
    m_tables.luma.assign(tables, tables + lumaBytes);
    m_tables.chroma.assign(tables + lumaBytes, tables + lumaBytes + chromaBytes);
    m_tables.lumaWide = precision & 1;
    m_tables.chromaWide = precision & 2;
    remembered = m_tables;
    return true;
}

void CJpegRTPMediaParser::DeliverFrame() {
    ipcapture::IFramePool* pool = GetFramePool();
    if (pool == nullptr || m_client == nullptr || m_frame.empty()) return;
    const auto length = static_cast<std::uint32_t>(m_frame.size());
    ipcapture::IVideoFrame* frame = AllocateFrame(pool, ipcapture::kFourCCJpeg, length + kHeaderHeadroom);
    if (frame == nullptr) return;
    std::uint8_t* data = frame->GetData();
    std::size_t size = WriteHeaders(data);
    std::copy(m_frame.begin(), m_frame.end(), data + size);
    size += length;
    // The stream may leave out the end-of-image marker; a picture without one is cut short.
    if (length < 2 || m_frame[length - 2] != 0xFF || m_frame[length - 1] != 0xD9) {
        data[size++] = 0xFF;
        data[size++] = 0xD9;
    }
    m_width = m_header.width;
    m_height = m_header.height;
    frame->SetDataSize(static_cast<std::uint32_t>(size));
    frame->SetWidth(m_width);
    frame->SetHeight(m_height);
    frame->SetSizeClass(FrameSizeClass(m_width, m_height));
    frame->Complete();
    m_client->OnFrame(frame, m_width, m_height);
    pool->ReleaseFrame(frame);
}

std::size_t CJpegRTPMediaParser::WriteHeaders(std::uint8_t* out) const {
    HeaderWriter writer(out);
    writer.Word(0xFFD8);
    writer.QuantisationTable(0, m_tables.luma, m_tables.lumaWide);
    writer.QuantisationTable(1, m_tables.chroma, m_tables.chromaWide);
    const bool extended = m_tables.lumaWide || m_tables.chromaWide;  // 16-bit tables need SOF1
    writer.Word(extended ? 0xFFC1 : 0xFFC0);
    writer.Word(17);
    writer.Byte(8);
    writer.Word(m_header.height);
    writer.Word(m_header.width);
    writer.Byte(3);
    // RFC 2435 3.1.3: type 0 is 4:2:2 and 1 is 4:2:0; 64 to 127 are 0 to 63 with restart
    // markers. Every other type is taken for 4:2:0.
    const std::uint8_t baseType = IsRestartType(m_header.type) ? m_header.type - kFirstRestartType : m_header.type;
    const std::uint8_t lumaSampling = baseType == 0 ? 0x21 : 0x22;
    const std::uint8_t components[3][3] = {{0, lumaSampling, 0}, {1, 0x11, 1}, {2, 0x11, 1}};
    for (const auto& component : components) writer.Bytes(component, 3);
    writer.HuffmanTable(0x00, kLumaDcCounts, kDcValues, sizeof kDcValues);
    writer.HuffmanTable(0x10, kLumaAcCounts, kLumaAcValues, sizeof kLumaAcValues);
    writer.HuffmanTable(0x01, kChromaDcCounts, kDcValues, sizeof kDcValues);
    writer.HuffmanTable(0x11, kChromaAcCounts, kChromaAcValues, sizeof kChromaAcValues);
    if (m_header.restartInterval != 0) {
        writer.Word(0xFFDD);
        writer.Word(4);
        writer.Word(m_header.restartInterval);
    }
    static constexpr std::uint8_t kScanHeader[] = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x00, 0x00, 0x01,
                                                   0x11, 0x02, 0x11, 0x00, 0x3F, 0x00};
    writer.Bytes(kScanHeader, sizeof kScanHeader);
    return writer.Length();
}

}  // namespace kestrel
