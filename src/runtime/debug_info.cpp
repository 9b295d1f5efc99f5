#include "runtime/debug_info.h"

#include <utility>

#include "runtime/string_helpers.h"

namespace kestrel {

CDebugInfo::CDebugInfo(std::uint8_t level, std::string text) : m_level(level), m_text(std::move(text)) {}

void* CDebugInfo::Destroy(unsigned int) { return this; }

void SendDebugMessage(ipcapture::IDebugInfoSink* sink, std::uint8_t level, const char* format,
                      va_list args) {
    if (!sink) return;
    CDebugInfo info(level, FormatStringV(format, args));
    sink->OnDebugInfo(&info);
}

}  // namespace kestrel
