#include "rtsp/interleaved_reader.h"

#include <cstring>

#include "rtsp/rtsp_response_parser.h"

namespace kestrel {
namespace {

constexpr std::string_view kVersionPrefix = "RTSP/";
constexpr unsigned kRtpVersion = 2;

bool IsTokenChar(char c) { return (c >= 'A' && c <= 'Z') || c == '_' || c == '-'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The longest request word a server may send (GET_PARAMETER, SET_PARAMETER, REDIRECT, ...).
constexpr std::size_t kMaxMethodLength = 32;

// Whether `rest` begins with a status line "RTSP/1.0 200 OK" or a request line
// "GET_PARAMETER rtsp://cam/ RTSP/1.0": kItem with `lineEnd` when the whole line is there, kMore
// when what is there could still become one. Garbage is told from the first bytes that cannot
// belong to such a line, so skipping it costs little per byte.
CInterleavedReader::Start CheckStartLine(std::string_view rest, std::size_t& lineEnd) {
    using Start = CInterleavedReader::Start;
    std::size_t position = 0;
    const bool status = rest.substr(0, kVersionPrefix.size()) == kVersionPrefix.substr(0, rest.size());
    if (!status) {
        while (position < rest.size() && IsTokenChar(rest[position])) ++position;
        if (position == 0 || position > kMaxMethodLength) return Start::kGarbage;
        if (position == rest.size()) return Start::kMore;
        if (rest[position] != ' ') return Start::kGarbage;
    }
    for (;; ++position) {
        if (position >= CInterleavedReader::kMaxLineLength) return Start::kGarbage;
        if (position == rest.size()) return Start::kMore;
        const unsigned char c = static_cast<unsigned char>(rest[position]);
        if (c == '\r' || c == '\n') break;
        if (c < 0x20 || c == 0x7F) return Start::kGarbage;
    }
    lineEnd = position;
    const std::string_view line = rest.substr(0, lineEnd);
    if (status) {
        const std::size_t blank = line.find(' ');
        const bool code = blank != std::string_view::npos && line.size() >= blank + 4 && IsDigit(line[blank + 1]) &&
                          IsDigit(line[blank + 2]) && IsDigit(line[blank + 3]);
        return code ? Start::kItem : Start::kGarbage;
    }
    return line.find(" RTSP/") != std::string_view::npos ? Start::kItem : Start::kGarbage;
}

bool CouldStartItem(char c) { return c == CInterleavedReader::kFrameMark || (c >= 'A' && c <= 'Z'); }

}  // namespace

char* CInterleavedReader::Prepare(std::size_t size) {
    Compact();
    m_prepared = m_buffer.size();
    m_buffer.resize(m_prepared + size);
    return &m_buffer[m_prepared];
}

void CInterleavedReader::Commit(std::size_t size) { m_buffer.resize(m_prepared + size); }

void CInterleavedReader::Append(std::string_view bytes) {
    if (bytes.empty()) return;
    std::memcpy(Prepare(bytes.size()), bytes.data(), bytes.size());
    Commit(bytes.size());
}

void CInterleavedReader::Clear() {
    m_buffer.clear();
    m_begin = 0;
    m_inGarbage = false;
}

void CInterleavedReader::Compact() {
    if (m_begin == 0) return;
    m_buffer.erase(0, m_begin);
    m_begin = 0;
}

bool CInterleavedReader::Next(InterleavedItem& item) {
    for (;;) {
        // Line ends between items are no garbage: some servers end a frame run with CR LF.
        while (m_begin < m_buffer.size() && (m_buffer[m_begin] == '\r' || m_buffer[m_begin] == '\n')) ++m_begin;
        if (m_begin == m_buffer.size()) return false;
        const std::string_view rest = std::string_view(m_buffer).substr(m_begin);
        const Start start = rest[0] == kFrameMark ? TryFrame(rest, item) : TryMessage(rest, item);
        switch (start) {
        case Start::kItem:
            if (item.kind == InterleavedItem::Kind::kFrame) {
                if (!m_inGarbage) ExpectChannel(item.channel);
                m_begin += kFrameHeaderLength + item.data.size();
            } else {
                m_begin += item.data.size();
            }
            m_inGarbage = false;
            return true;
        case Start::kMore:
            return false;
        case Start::kGarbage:
            SkipGarbage();
            break;
        }
    }
}

CInterleavedReader::Start CInterleavedReader::TryFrame(std::string_view rest, InterleavedItem& item) const {
    if (rest.size() < kFrameHeaderLength + 1) return Start::kMore;
    const std::size_t length = std::size_t(static_cast<unsigned char>(rest[2])) << 8 |
                               static_cast<unsigned char>(rest[3]);
    if (length == 0) return Start::kGarbage;
    const std::uint8_t channel = static_cast<std::uint8_t>(rest[1]);
    if (m_inGarbage &&
        (!ChannelSeen(channel) || static_cast<unsigned char>(rest[kFrameHeaderLength]) >> 6 != kRtpVersion))
        return Start::kGarbage;
    if (rest.size() < kFrameHeaderLength + length) return Start::kMore;
    item.kind = InterleavedItem::Kind::kFrame;
    item.channel = channel;
    item.data = rest.substr(kFrameHeaderLength, length);
    return Start::kItem;
}

CInterleavedReader::Start CInterleavedReader::TryMessage(std::string_view rest, InterleavedItem& item) const {
    std::size_t lineEnd = 0;
    const Start line = CheckStartLine(rest, lineEnd);
    if (line != Start::kItem) return line;
    const RTSPFraming framing = CRTSPResponseParser::FrameResponse(rest);
    switch (framing.status) {
    case RTSPFraming::Status::kComplete:
        if (framing.length > kMaxMessageSize) return Start::kGarbage;
        item.kind = InterleavedItem::Kind::kMessage;
        item.channel = 0;
        item.data = rest.substr(0, framing.length);
        return Start::kItem;
    case RTSPFraming::Status::kIncomplete:
        return rest.size() >= kMaxMessageSize ? Start::kGarbage : Start::kMore;
    case RTSPFraming::Status::kInvalid:
        break;
    }
    return Start::kGarbage;
}

void CInterleavedReader::SkipGarbage() {
    if (!m_inGarbage) ++m_resyncs;
    m_inGarbage = true;
    ++m_begin;
    while (m_begin < m_buffer.size() && !CouldStartItem(m_buffer[m_begin])) ++m_begin;
}

}  // namespace kestrel
