#include "media/http_media_parser.h"

#include <cstring>

namespace kestrel {

void CHttpMediaParser::DeliverPicture(std::uint32_t fourCC, std::uint32_t capacity,
                                      const std::uint8_t* data, std::size_t length) {
    if (!m_driver || !m_client || length == 0) return;
    CLentFrame frame(m_driver->GetFramePool(), fourCC, capacity);
    if (!frame) return;
    // The bytes go in before Complete, so the host never sees a completed frame still empty.
    std::memcpy(frame->GetData(), data, length);
    CompleteFrame(frame.get(), m_width, m_height, static_cast<std::uint32_t>(length), fourCC);
    m_client->OnFrame(frame.get(), m_width, m_height);
}

}  // namespace kestrel
