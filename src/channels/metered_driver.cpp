#include "channels/metered_driver.h"

#include <cstdarg>

#include "runtime/string_helpers.h"

namespace kestrel {

using namespace ipcapture;

void CMeteredDriver::DebugMessage(std::uint8_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatStringV(format, args);
    va_end(args);
    m_driver->DebugMessage(level, "%s", text.c_str());
}

IFramePool* CMeteredDriver::GetFramePool() {
    return m_driver->GetFramePool() ? this : nullptr;
}

std::uint32_t CMeteredDriver::GetFrameCount() { return m_driver->GetFramePool()->GetFrameCount(); }

IVideoFrame* CMeteredDriver::AllocateFrame(std::uint32_t fourCC, std::uint32_t capacity, const char* source) {
    IVideoFrame* frame = m_driver->GetFramePool()->AllocateFrame(fourCC, capacity, source);
    if (!frame) m_status->CountNoBuffer();
    return frame;
}

std::uint32_t CMeteredDriver::GetFreeFrameCount() { return m_driver->GetFramePool()->GetFreeFrameCount(); }

std::uint32_t CMeteredDriver::GetMaxCapacity() { return m_driver->GetFramePool()->GetMaxCapacity(); }

void CMeteredDriver::Trim() { m_driver->GetFramePool()->Trim(); }

void CMeteredDriver::ReleaseFrame(IVideoFrame* frame) { m_driver->GetFramePool()->ReleaseFrame(frame); }

}  // namespace kestrel
