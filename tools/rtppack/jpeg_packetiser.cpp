#include "rtppack/rtppack.h"

#include <algorithm>
#include <array>

namespace rtppack {
namespace {

constexpr std::uint8_t kMarkerSoi = 0xD8;
constexpr std::uint8_t kMarkerEoi = 0xD9;
constexpr std::uint8_t kMarkerSof0 = 0xC0;
constexpr std::uint8_t kMarkerSof15 = 0xCF;
constexpr std::uint8_t kMarkerDht = 0xC4;
constexpr std::uint8_t kMarkerDac = 0xCC;
constexpr std::uint8_t kMarkerDqt = 0xDB;
constexpr std::uint8_t kMarkerDri = 0xDD;
constexpr std::uint8_t kMarkerSos = 0xDA;

constexpr std::uint8_t kTypeRestartOffset = 64;
constexpr std::size_t kMainHeader = 8;
constexpr std::size_t kRestartHeader = 4;
constexpr std::size_t kTableHeader = 4;
constexpr std::size_t kLargestOffset = 0xFFFFFF;

// ITU-T T.81 annex K.1 and K.2, natural order.
constexpr std::array<std::uint8_t, 64> kLumaTable = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<std::uint8_t, 64> kChromaTable = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Natural index of each zig-zag position.
constexpr std::array<std::uint8_t, 64> kZigZag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

struct Component {
    std::uint8_t sampling = 0;
    std::uint8_t table = 0;
};

std::uint16_t Read16(const Bytes& data, std::size_t at) {
    return static_cast<std::uint16_t>(data[at] << 8 | data[at + 1]);
}

void Append16(Bytes& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

class JfifReader {
public:
    explicit JfifReader(const Bytes& picture) : m_data(picture) {}

    bool Read(JpegPicture& parsed) {
        if (m_data.size() < 4 || m_data[0] != 0xFF || m_data[1] != kMarkerSoi) return false;
        std::size_t at = 2;
        while (true) {
            while (at < m_data.size() && m_data[at] == 0xFF && at + 1 < m_data.size() &&
                   m_data[at + 1] == 0xFF) {
                ++at;  // fill bytes
            }
            if (at + 4 > m_data.size() || m_data[at] != 0xFF) return false;
            const std::uint8_t marker = m_data[at + 1];
            const std::size_t length = Read16(m_data, at + 2);
            const std::size_t body = at + 4;
            if (length < 2 || at + 2 + length > m_data.size()) return false;
            const std::size_t end = at + 2 + length;
            if (!ReadSegment(marker, body, end, parsed)) return false;
            if (marker == kMarkerSos) return ReadScan(end, parsed);
            at = end;
        }
    }

private:
    bool ReadSegment(std::uint8_t marker, std::size_t body, std::size_t end, JpegPicture& parsed) {
        switch (marker) {
        case kMarkerDqt: return ReadTables(body, end);
        case kMarkerSof0: return ReadFrame(body, end, parsed);
        case kMarkerDri:
            if (end - body < 2) return false;
            parsed.restartInterval = Read16(m_data, body);
            return true;
        case kMarkerSos: return m_haveFrame;
        default:
            // Other frame types (progressive, lossless, arithmetic) cannot be carried.
            return !(marker > kMarkerSof0 && marker <= kMarkerSof15 && marker != kMarkerDht &&
                     marker != kMarkerDac);
        }
    }

    bool ReadTables(std::size_t at, std::size_t end) {
        while (at < end) {
            const std::uint8_t precision = m_data[at] >> 4;
            const std::uint8_t id = m_data[at] & 0x0F;
            const std::size_t size = precision ? 128 : 64;
            if (precision > 1 || id > 3 || at + 1 + size > end) return false;
            m_tables[id].assign(m_data.begin() + at + 1, m_data.begin() + at + 1 + size);
            at += 1 + size;
        }
        return true;
    }

    bool ReadFrame(std::size_t at, std::size_t end, JpegPicture& parsed) {
        if (end - at != 15 || m_data[at] != 8 || m_data[at + 5] != 3) return false;
        parsed.height = Read16(m_data, at + 1);
        parsed.width = Read16(m_data, at + 3);
        std::array<Component, 3> components;
        for (std::size_t i = 0; i < 3; ++i) {
            components[i] = {m_data[at + 7 + 3 * i], m_data[at + 8 + 3 * i]};
        }
        if (components[0].sampling == 0x21) {
            parsed.type = 0;
        } else if (components[0].sampling == 0x22) {
            parsed.type = 1;
        } else {
            return false;
        }
        if (components[1].sampling != 0x11 || components[2].sampling != 0x11 ||
            components[1].table != components[2].table || components[0].table > 3 ||
            components[1].table > 3) {
            return false;
        }
        m_lumaId = components[0].table;
        m_chromaId = components[1].table;
        m_haveFrame = true;
        return true;
    }

    bool ReadScan(std::size_t begin, JpegPicture& parsed) {
        std::size_t end = begin;
        while (end + 1 < m_data.size() && !(m_data[end] == 0xFF && m_data[end + 1] == kMarkerEoi)) ++end;
        if (end + 1 >= m_data.size()) return false;
        const Bytes& luma = m_tables[m_lumaId];
        const Bytes& chroma = m_tables[m_chromaId];
        if (luma.empty() || chroma.empty()) return false;
        parsed.lumaTable = luma;
        parsed.chromaTable = chroma;
        parsed.lumaWide = luma.size() == 128;
        parsed.chromaWide = chroma.size() == 128;
        parsed.scan.assign(m_data.begin() + begin, m_data.begin() + end);
        return true;
    }

    const Bytes& m_data;
    std::array<Bytes, 4> m_tables;
    std::uint8_t m_lumaId = 0;
    std::uint8_t m_chromaId = 0;
    bool m_haveFrame = false;
};

bool FitsRtpJpeg(const JpegPicture& picture, const JpegOptions& options) {
    const bool inBand = options.q >= 128 && options.q <= 255;
    const bool computed = options.q >= 1 && options.q <= 99;
    if (!inBand && !computed) return false;
    if (picture.width == 0 || picture.height == 0 || picture.width > 2040 || picture.height > 2040 ||
        picture.width % 8 || picture.height % 8 || picture.scan.size() > kLargestOffset) {
        return false;
    }
    if (computed) {
        Bytes expected = JpegTablesForQ(options.q);
        Bytes actual = picture.lumaTable;
        actual.insert(actual.end(), picture.chromaTable.begin(), picture.chromaTable.end());
        return actual == expected;
    }
    return true;
}

Bytes PacketHeader(const JpegPicture& picture, const JpegOptions& options, std::size_t offset) {
    const bool restart = picture.restartInterval != 0;
    Bytes header{0,
                 static_cast<std::uint8_t>(offset >> 16),
                 static_cast<std::uint8_t>(offset >> 8),
                 static_cast<std::uint8_t>(offset),
                 static_cast<std::uint8_t>(picture.type + (restart ? kTypeRestartOffset : 0)),
                 static_cast<std::uint8_t>(options.q),
                 static_cast<std::uint8_t>(picture.width / 8),
                 static_cast<std::uint8_t>(picture.height / 8)};
    if (restart) {
        // RFC 2435 section 3.1.7: F = L = 1 and count 0x3FFF when packets need not hold whole
        // restart intervals.
        Append16(header, picture.restartInterval);
        Append16(header, 0xFFFF);
    }
    if (offset == 0 && options.q >= 128) {
        // RFC 2435 section 3.1.8: MBZ, precision (bit 0 table 0, bit 1 table 1), length, tables.
        header.push_back(0);
        header.push_back(static_cast<std::uint8_t>((picture.lumaWide ? 1 : 0) | (picture.chromaWide ? 2 : 0)));
        if (options.sendTables) {
            Append16(header, picture.lumaTable.size() + picture.chromaTable.size());
            header.insert(header.end(), picture.lumaTable.begin(), picture.lumaTable.end());
            header.insert(header.end(), picture.chromaTable.begin(), picture.chromaTable.end());
        } else {
            Append16(header, 0);
        }
    }
    return header;
}

}  // namespace

Bytes JpegTablesForQ(int q) {
    q = std::clamp(q, 1, 99);
    const int factor = q < 50 ? 5000 / q : 200 - 2 * q;
    Bytes tables;
    for (const auto* table : {&kLumaTable, &kChromaTable}) {
        for (std::uint8_t natural : kZigZag) {
            tables.push_back(static_cast<std::uint8_t>(std::clamp(((*table)[natural] * factor + 50) / 100, 1, 255)));
        }
    }
    return tables;
}

bool ParseJpegPicture(const Bytes& picture, JpegPicture& parsed) {
    parsed = JpegPicture();
    return JfifReader(picture).Read(parsed);
}

bool PacketiseJpeg(const Bytes& picture, std::uint32_t timestamp, const JpegOptions& options,
                   std::vector<Packet>& packets) {
    packets.clear();
    JpegPicture parsed;
    if (!ParseJpegPicture(picture, parsed) || !FitsRtpJpeg(parsed, options)) return false;
    Bytes scan = std::move(parsed.scan);
    if (options.sendEoi) scan.insert(scan.end(), {0xFF, kMarkerEoi});
    std::size_t offset = 0;
    do {
        Packet packet;
        packet.timestamp = timestamp;
        packet.payload = PacketHeader(parsed, options, offset);
        if (packet.payload.size() >= options.mtu) return false;
        const std::size_t length = std::min(options.mtu - packet.payload.size(), scan.size() - offset);
        packet.payload.insert(packet.payload.end(), scan.begin() + offset, scan.begin() + offset + length);
        offset += length;
        packet.marker = offset == scan.size();
        packets.push_back(std::move(packet));
    } while (offset < scan.size());
    return true;
}

}  // namespace rtppack
