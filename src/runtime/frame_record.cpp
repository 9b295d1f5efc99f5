#include "runtime/frame_record.h"

#include <algorithm>

namespace kestrel {

std::uint32_t FrameSizeClass(std::uint32_t width, std::uint32_t height) {
    std::uint32_t sizeClass = width > 400 ? 4 : 2;
    if (width < 1024 && std::uint64_t(height) * 2 < width) sizeClass = 3;
    return sizeClass;
}

std::uint32_t FrameCapacity(std::uint32_t bytes) {
    if (bytes <= 4096) return 4096;
    if (bytes <= 16384) return 16384;
    if (bytes <= 32768) return 32768;
    return std::max<std::uint32_t>(bytes, 131072);
}

CLentFrame::CLentFrame(ipcapture::IFramePool* pool, std::uint32_t fourCC, std::uint32_t capacity)
    : m_pool(pool), m_frame(pool ? pool->AllocateFrame(fourCC, capacity, kFrameSourceName) : nullptr) {}

CLentFrame::~CLentFrame() {
    if (m_frame) m_pool->ReleaseFrame(m_frame);
}

void CompleteFrame(ipcapture::IVideoFrame* frame, std::uint32_t width, std::uint32_t height,
                   std::uint32_t dataSize, std::uint32_t fourCC) {
    frame->SetWidth(width);
    frame->SetHeight(height);
    frame->SetSizeClass(FrameSizeClass(width, height));
    frame->SetDataSize(dataSize);
    frame->SetFourCC(fourCC);
    frame->Complete();
}

}  // namespace kestrel
