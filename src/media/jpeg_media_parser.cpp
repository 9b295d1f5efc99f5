#include "media/jpeg_media_parser.h"

#include <algorithm>

namespace kestrel {

namespace {

constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStuffedZero = 0x00;  // FF 00: a 0xFF data byte in entropy-coded data
constexpr std::uint8_t kTem = 0x01;
constexpr std::uint8_t kSof0 = 0xC0;  // baseline DCT frame header
constexpr std::uint8_t kRst0 = 0xD0;
constexpr std::uint8_t kRst7 = 0xD7;
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
// FF C0, length, precision, then height and width: the bytes up to the end of the width.
constexpr std::size_t kSof0SizeEnd = 9;
constexpr std::uint16_t kSof0MinLength = 7;

// Markers that stand alone; every other marker opens a segment with a 16-bit length.
bool IsStandalone(std::uint8_t marker) {
    return marker == kTem || (marker >= kRst0 && marker <= kRst7) || marker == kSoi ||
           marker == kEoi;
}

std::uint16_t ReadBigEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

constexpr std::size_t kChunk = 256;

// Whether the `kChunk` bytes at `p` hold a 0xFF that the byte after it (up to p[kChunk])
// does not mark as a stuffed data byte. Written without branches so that compilers vectorise
// it: in entropy-coded data one byte in a few dozen is a stuffed 0xFF.
bool ChunkHoldsMarker(const std::uint8_t* p) {
    std::uint8_t found = 0;  // byte lanes: no widening in the vector code
    for (std::size_t i = 0; i < kChunk; ++i)
        found |= static_cast<std::uint8_t>((p[i] == kMarkerPrefix) & (p[i + 1] != kStuffedZero));
    return found != 0;
}

// The offset of the first 0xFF from `from` on that is not followed by a stuffed 0x00 (it may
// be the last byte, its marker byte still to come), or `end` when there is none.
std::size_t FindMarker(const std::uint8_t* data, std::size_t from, std::size_t end) {
    while (end - from > kChunk && !ChunkHoldsMarker(data + from)) from += kChunk;
    for (; from < end; ++from) {
        if (data[from] != kMarkerPrefix) continue;
        if (from + 1 == end || data[from + 1] != kStuffedZero) return from;
        ++from;
    }
    return end;
}

}  // namespace

void CJpegMediaParser::Parse(const std::uint8_t* data, std::size_t length) {
    m_buffer.insert(m_buffer.end(), data, data + length);
    Scan();
    Compact();
    if (m_buffer.size() > kMaxBufferedBytes) DropOversizedPicture();
}

void CJpegMediaParser::Scan() {
    while (m_scan < m_buffer.size()) {
        m_scan = FindMarker(m_buffer.data(), m_scan, m_buffer.size());
        if (m_scan == m_buffer.size() || !HandleMarker(m_scan)) return;
    }
}

bool CJpegMediaParser::HandleMarker(std::size_t at) {
    if (at + 1 >= m_buffer.size()) return false;  // the marker byte comes with the next block
    const std::uint8_t marker = m_buffer[at + 1];
    if (marker == kSoi) {
        // A start of image inside a picture means the earlier one was cut off: start over.
        m_inPicture = true;
        m_pictureStart = at;
        m_scan = at + 2;
        return true;
    }
    if (!m_inPicture || marker == kMarkerPrefix) {
        m_scan = at + 1;  // FF FF is fill: the second 0xFF may begin the marker
        return true;
    }
    if (marker == kEoi) {
        EndPicture(at + 2);
        return true;
    }
    if (marker == kStuffedZero || IsStandalone(marker)) {
        m_scan = at + 2;
        return true;
    }
    return HandleSegment(at, marker);
}

// Segments are stepped over by their length, so nothing inside them (an EXIF thumbnail in
// APP1 with its own SOI, SOF and EOI) is taken for a marker of the picture.
bool CJpegMediaParser::HandleSegment(std::size_t at, std::uint8_t marker) {
    const std::size_t needed = marker == kSof0 ? kSof0SizeEnd : 4;
    if (at + needed > m_buffer.size()) return false;
    const std::uint16_t length = ReadBigEndian16(&m_buffer[at + 2]);
    if (length < 2 || (marker == kSof0 && length < kSof0MinLength)) {
        m_inPicture = false;  // a broken segment: the rest of the picture cannot be trusted
        m_scan = at + 2;
        return true;
    }
    if (marker == kSof0) {
        m_height = ReadBigEndian16(&m_buffer[at + 5]);
        m_width = ReadBigEndian16(&m_buffer[at + 7]);
    }
    m_scan = at + 2 + length;
    return true;
}

void CJpegMediaParser::EndPicture(std::size_t end) {
    m_inPicture = false;
    m_scan = end;
    if (m_width == 0 || m_height == 0) return;  // no baseline frame header seen yet
    const std::size_t length = end - m_pictureStart;
    DeliverPicture(ipcapture::kFourCCJpeg, static_cast<std::uint32_t>(length),
                   &m_buffer[m_pictureStart], length);
}

void CJpegMediaParser::Compact() {
    const std::size_t keepFrom = m_inPicture ? m_pictureStart : std::min(m_scan, m_buffer.size());
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(keepFrom));
    m_scan -= keepFrom;
    m_pictureStart = 0;
}

void CJpegMediaParser::DropOversizedPicture() {
    // The last byte may be the 0xFF of the next start of image.
    m_buffer.erase(m_buffer.begin(), m_buffer.end() - 1);
    m_inPicture = false;
    m_scan = 0;
}

}  // namespace kestrel
