#include "media/mpeg_media_parser.h"

#include <cstring>
#include <new>
#include <string>

#include "media/mpeg4_start_codes.h"

namespace kestrel {

using namespace mpeg4;

namespace {

constexpr std::size_t npos = std::string::npos;

}  // namespace

void CMpegMediaParser::Parse(const std::uint8_t* data, std::size_t length) {
    try {
        m_buffer.insert(m_buffer.end(), data, data + length);
        Scan();
        TrimToFrameStart();
        if (m_buffer.size() > kMaxBufferedBytes) ResetState();
    } catch (const std::bad_alloc&) {
        ResetState();
    }
}

void CMpegMediaParser::Scan() {
    for (;;) {
        const std::size_t at = FindStartCode(m_scan);
        if (at == npos) {
            // The last three bytes may begin a start code that the next block completes.
            if (m_buffer.size() > 3) m_scan = std::max(m_scan, m_buffer.size() - 3);
            return;
        }
        m_scan = at;
        const std::uint8_t code = m_buffer[at + 3];
        if (StartsSequenceHeader(code)) {
            FinishPicture();
            const std::size_t vop = FindVop(at + kStartCodeLength);
            if (vop == npos) return;  // the scan meets this header again with more data
            m_header.assign(m_buffer.begin() + static_cast<std::ptrdiff_t>(at),
                            m_buffer.begin() + static_cast<std::ptrdiff_t>(vop));
            // Past the whole header: the start codes inside it belong to it.
            m_frameStart = vop;
            m_scan = vop;
            continue;
        }
        if (code == kVop) {
            if (at + kStartCodeLength >= m_buffer.size()) return;
            FinishPicture();
            m_keyFrame = m_buffer[at + kStartCodeLength] < kFirstNonIntraCodingByte;
        }
        m_scan = at + 1;
    }
}

std::size_t CMpegMediaParser::FindStartCode(std::size_t from) const {
    const std::uint8_t* begin = m_buffer.data();
    const std::size_t size = m_buffer.size();
    // Look for the 01 and check the two zeros before it.
    std::size_t one = from + 2;
    while (one + 1 < size) {
        const void* found = std::memchr(begin + one, 0x01, size - 1 - one);
        if (!found) return npos;
        one = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - begin);
        if (begin[one - 1] == 0 && begin[one - 2] == 0) return one - 2;
        ++one;
    }
    return npos;
}

std::size_t CMpegMediaParser::FindVop(std::size_t from) const {
    for (std::size_t at = FindStartCode(from); at != npos; at = FindStartCode(at + 1)) {
        if (m_buffer[at + 3] == kVop) {
            return at + kStartCodeLength < m_buffer.size() ? at : npos;
        }
    }
    return npos;
}

void CMpegMediaParser::FinishPicture() {
    if (m_frameStart >= m_scan) return;
    if (m_waitingForKeyFrame && m_keyFrame) m_waitingForKeyFrame = false;
    if (!m_waitingForKeyFrame) {
        const std::size_t length = m_scan - m_frameStart;
        if (m_keyFrame) {
            DeliverKeyFrame(length);
        } else {
            DeliverPicture(ipcapture::kFourCCMpeg4, FrameCapacity(static_cast<std::uint32_t>(length)),
                           &m_buffer[m_frameStart], length);
        }
    }
    m_keyFrame = false;
    m_frameStart = m_scan;
}

void CMpegMediaParser::DeliverKeyFrame(std::size_t length) {
    m_picture.assign(m_header.begin(), m_header.end());
    m_picture.insert(m_picture.end(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_frameStart),
                     m_buffer.begin() + static_cast<std::ptrdiff_t>(m_frameStart + length));
    // Pictures after a key frame without a readable size are dropped until the next one.
    m_waitingForKeyFrame =
        !m_reader.ReadPictureSize(m_picture.data(), m_picture.size(), m_width, m_height);
    if (m_waitingForKeyFrame) return;
    DeliverPicture(ipcapture::kFourCCMpeg4Key,
                   FrameCapacity(static_cast<std::uint32_t>(m_picture.size())), m_picture.data(),
                   m_picture.size());
}

void CMpegMediaParser::TrimToFrameStart() {
    if (m_frameStart == 0) return;
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_frameStart));
    m_scan -= m_frameStart;
    m_frameStart = 0;
}

// Drops the picture in progress; the header stays. The last three bytes may start the
// next start code.
void CMpegMediaParser::ResetState() {
    const std::size_t keep = std::min<std::size_t>(m_buffer.size(), 3);
    m_buffer.erase(m_buffer.begin(), m_buffer.end() - static_cast<std::ptrdiff_t>(keep));
    m_keyFrame = false;
    m_waitingForKeyFrame = true;
    m_frameStart = 0;
    m_scan = 0;
}

}  // namespace kestrel
