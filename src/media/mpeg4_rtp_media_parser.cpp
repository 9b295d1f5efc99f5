#include "media/mpeg4_rtp_media_parser.h"

#include <algorithm>
#include <new>
#include <utility>

#include "media/mpeg4_start_codes.h"

namespace kestrel {

using namespace mpeg4;

CMpeg4RTPMediaParser::CMpeg4RTPMediaParser(IDriver* driver, std::string name, const CMpegHeaderReader& reader)
    : CRTPMediaParser(driver, std::move(name)), m_reader(reader) {}

void CMpeg4RTPMediaParser::Reset() {
    m_discarding = true;
    m_keyFrame = false;
    m_width = 0;
    m_height = 0;
    m_frame.clear();
    m_header.clear();
}

void CMpeg4RTPMediaParser::ProcessPacket(const RTPPacket& packet) {
    try {
        if (!CheckSequence(packet)) {
            // The picture size, the key state and the header survive a gap.
            m_discarding = true;
            m_frame.clear();
        }
        const std::uint8_t* payload = packet.payload;
        const std::size_t length = packet.payloadLength;
        std::size_t offset = 0;
        if (length > kStartCodeLength) {
            offset = TakeSequenceHeader(payload, length);
            StartFrameIfVop(payload, length, offset);
        }
        if (m_discarding) return;
        m_frame.insert(m_frame.end(), payload + offset, payload + length);
        if (m_frame.size() > kMaxFrameBytes) {
            m_discarding = true;
            m_frame.clear();
            return;
        }
        if (packet.marker) {
            DeliverFrame();
            m_frame.clear();
        }
    } catch (const std::bad_alloc&) {
        Reset();
    }
}

std::size_t CMpeg4RTPMediaParser::TakeSequenceHeader(const std::uint8_t* payload, std::size_t length) {
    if (payload[0] != 0 || payload[1] != 0 || payload[2] != 1 || !StartsSequenceHeader(payload[3])) return 0;
    for (std::size_t at = kStartCodeLength; at + kStartCodeLength <= length; ++at) {
        if (IsStartCode(payload, length, at, kVop)) {
            m_header.assign(payload, payload + at);
            return at;
        }
    }
    return 0;  // a header without its VOP: collected as frame data, the old header stays
}

void CMpeg4RTPMediaParser::StartFrameIfVop(const std::uint8_t* payload, std::size_t length, std::size_t offset) {
    if (!IsStartCode(payload, length, offset, kVop) || offset + kStartCodeLength >= length) return;
    m_frame.clear();
    m_keyFrame = payload[offset + kStartCodeLength] < kFirstNonIntraCodingByte;
    if (m_keyFrame) {
        m_frame.assign(m_header.begin(), m_header.end());
        m_discarding = false;
    }
}

void CMpeg4RTPMediaParser::DeliverFrame() {
    ipcapture::IFramePool* pool = GetFramePool();
    if (pool == nullptr || m_client == nullptr || m_frame.empty()) return;
    std::uint32_t fourCC = ipcapture::kFourCCMpeg4;
    if (m_keyFrame) {
        if (!m_reader.ReadPictureSize(m_frame.data(), m_frame.size(), m_width, m_height)) {
            m_discarding = true;
            return;
        }
        fourCC = ipcapture::kFourCCMpeg4Key;
    }
    const auto length = static_cast<std::uint32_t>(m_frame.size());
    ipcapture::IVideoFrame* frame = AllocateFrame(pool, fourCC, FrameCapacity(length));
    if (frame == nullptr) return;
    // The bytes go in before Complete(): a completed frame must already hold its picture.
    std::copy(m_frame.begin(), m_frame.end(), frame->GetData());
    CompleteFrame(frame, m_width, m_height, length, fourCC);
    if (!m_client->OnFrame(frame, m_width, m_height)) m_discarding = true;
    pool->ReleaseFrame(frame);
}

}  // namespace kestrel
