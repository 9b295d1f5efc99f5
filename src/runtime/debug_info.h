// The debug message record lent to the host, and the delivery of one formatted message to the
// host's sink.
#ifndef QUILLON_RUNTIME_DEBUG_INFO_H
#define QUILLON_RUNTIME_DEBUG_INFO_H

#include <cstdarg>
#include <cstdint>
#include <string>

#include "quillon/quillon.h"

namespace kestrel {

// Level codes of the module's messages (the host decides how to show them).
enum : std::uint8_t {
    kDebugLevelFailure = 1,  // failures, lost signal
    kDebugLevelInfo = 2,     // informational state changes
    kDebugLevelQuery = 3,    // capability query failures (sent through the query's callback)
};

// Lent to the host only for the duration of one OnDebugInfo call; the host copies what it keeps.
class CDebugInfo : public CDebugInfoIf {
public:
    CDebugInfo(std::uint8_t level, std::string text);

    // The object belongs to the sender, never to the host: a Destroy call from the host is
    // ignored instead of freeing memory that is not its to free.
    void* Destroy(unsigned int flags) override;
    std::uint8_t GetLevel() override { return m_level; }
    // Never null; valid while this object lives.
    const char* GetText() override { return m_text.c_str(); }

private:
    std::uint8_t m_level;
    std::string m_text;
};

// Formats the message and hands it to the sink, synchronously on the calling thread. Without a
// sink the message is dropped. No shared state: callable from any thread, concurrently.
void SendDebugMessage(ipcapture::IDebugInfoSink* sink, std::uint8_t level, const char* format,
                      va_list args);

}  // namespace kestrel

#endif
