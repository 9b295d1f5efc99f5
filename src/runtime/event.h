// A process-local event: signalled or not, released by Set, waited on with a time-out.
//
// Threading: every operation may be called from any thread. An auto-reset event releases one
// waiter per Set and is non-signalled again afterwards; a manual-reset event stays signalled,
// releasing every waiter, until Reset.
#ifndef QUILLON_RUNTIME_EVENT_H
#define QUILLON_RUNTIME_EVENT_H

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kestrel {

class CEvent {
public:
    // Wait time-out that never expires.
    static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

    // securityAttributes is accepted for the shape of a kernel event and ignored: the event is
    // never shared outside the process.
    CEvent(bool initialState, bool manualReset, const void* securityAttributes = nullptr);
    virtual ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    bool Set();    // always true
    bool Reset();  // always true
    // True if the event was signalled within timeoutMs (an auto-reset event is then consumed);
    // false on time-out. Wait(0) only tests.
    bool Wait(std::uint32_t timeoutMs);
    // Signalled right now, without consuming it.
    bool IsSet() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_signalled;  // guarded by m_mutex
    const bool m_manualReset;
};

}  // namespace kestrel

#endif
