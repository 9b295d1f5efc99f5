// The base of the module's worker threads: a named thread running the virtual Run(), with a stop
// request that the body polls or waits on.
//
// Stopping is cooperative and always bounded by the body's own design: no thread is ever
// terminated, since that would leave locks held and objects half-changed. A body must check
// IsStopRequested() or wait with WaitForStop() between steps, and any blocking call it makes
// must be interruptible by the owner (a socket the owner can close or shut down, a select with a
// short time-out, an abort flag). WaitForExit always joins; the bounded WaitForExit(ms) lets an
// owner report a slow worker before it joins anyway.
//
// Threading: Start, WaitForExit and the derived classes' Stop are called by the owner, one at a
// time, never concurrently with each other. RequestStop, IsStopRequested and WaitForStop may be
// called from any thread.
//
// Destruction: owners stop the thread in their own destructor, while the derived object is still
// whole. As a last resort the destructor here requests a stop and joins.
#ifndef QUILLON_RUNTIME_SIMPLE_THREAD_H
#define QUILLON_RUNTIME_SIMPLE_THREAD_H

#include <cstdint>
#include <string>

#include "platform/thread.h"
#include "runtime/event.h"

namespace kestrel::thread {

class CSimpleThread {
public:
    virtual ~CSimpleThread();
    CSimpleThread(const CSimpleThread&) = delete;
    CSimpleThread& operator=(const CSimpleThread&) = delete;

    // False, changing nothing, if a thread is already held (even one that has ended but was not
    // yet waited for) or if no thread can be created. Clears an earlier stop request.
    bool Start(const std::string& name);
    // Waits for the thread to end and releases it; always true. From the thread itself it returns
    // at once and the thread stays held until its owner waits for it.
    bool WaitForExit();
    // Like WaitForExit but gives up after timeoutMs, returning false with the thread still held.
    bool WaitForExit(std::uint32_t timeoutMs);

    // Asks the body to return; does not wait.
    void RequestStop();
    bool IsStopRequested() const;

    // The name given at the last successful Start.
    const std::string& GetName() const { return m_name; }
    // A thread is held (started, not yet waited for).
    bool IsStarted() const { return m_thread.IsStarted(); }
    // The held thread has returned from its body.
    bool HasEnded() const { return m_thread.HasEnded(); }
    // The caller is this object's thread.
    bool IsCurrentThread() const { return m_thread.IsCurrent(); }
    // Priority of threads started from now on.
    void SetPriority(platform::ThreadPriority priority) { m_priority = priority; }

protected:
    CSimpleThread();

    // The thread body. An exception escaping it is dropped; the thread then ends.
    virtual void Run() = 0;

    // For the body: waits up to timeoutMs for a stop request; true if one is pending.
    bool WaitForStop(std::uint32_t timeoutMs);

private:
    platform::Thread m_thread;
    std::string m_name;
    platform::ThreadPriority m_priority = platform::ThreadPriority::kNormal;
    CEvent m_stopRequest{false, true};
};

}  // namespace kestrel::thread

#endif
