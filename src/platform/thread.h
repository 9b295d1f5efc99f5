// OS threads: creation with a priority, join (plain or bounded), the calling thread's id and
// the processor count.
//
// Threading: Start, Join, WaitForEnd and HasEnded are called by the owner, one at a time;
// IsCurrent and Id by the owner or the thread itself. No thread is ever killed: a body that
// must stop on request has to watch its own stop signal, and any blocking call it makes must be
// interruptible by its owner (close or shut down the socket, a short poll, an abort flag).
#ifndef QUILLON_PLATFORM_THREAD_H
#define QUILLON_PLATFORM_THREAD_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace kestrel::platform {

enum class ThreadPriority { kNormal, kAboveNormal };

// The calling thread's system-wide id; never 0, so 0 can mean "no thread".
std::uint32_t CurrentThreadId();

// True on a thread started through Thread: one of the module's own threads, never a host's.
bool IsOwnThread();

// The module's own threads (started through Thread or StartDetachedThread) whose body is running.
unsigned OwnThreadCount();

// Processors the system reports (at least 1).
unsigned ProcessorCount();

// Raises or restores the calling thread's scheduling priority. Where the system does not allow
// it (no privilege), nothing changes and false is returned; callers carry on at normal priority.
bool SetCurrentThreadPriority(ThreadPriority priority);

// Address space reserved for each thread's stack. Set here, not left to the host executable's
// default (1 MiB with Visual C++, 8 MiB with glibc), so that hundreds of cameras fit into a 32-bit
// process whatever the host chose. The deepest paths (the XML readers, the SPS reader, the Digest
// answer) use a small part of it; a test runs them on such a thread under ASan.
constexpr std::size_t kThreadStackBytes = 256 * 1024;

// Runs body on a thread that nobody joins: it ends by itself, on the same stack reservation as
// every other. For work that cannot be interrupted and whose result may be dropped (a name lookup).
// False when the system refuses a thread; body is then not run.
bool StartDetachedThread(std::function<void()> body);

// For tests: of the thread creations to come, the first `skip` go ahead and the `count` after
// them fail as they do when the process is out of threads or address space. (0, 0) clears it.
void FailThreadCreations(unsigned skip, unsigned count);

// One owned OS thread. An exception escaping the body is caught and dropped: it must never end
// the host's process.
class Thread {
public:
    Thread();
    // Joins a thread still held (never detaches, never kills), except when destroyed on that very
    // thread, where joining is impossible and the thread is left to finish on its own.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False (nothing changed) if a thread is already held, or if the system refuses to create one
    // (address space or a thread limit exhausted).
    bool Start(std::function<void()> body, ThreadPriority priority = ThreadPriority::kNormal);

    // A thread is held: started and not yet joined (it may have ended already).
    bool IsStarted() const;
    // The held thread has returned from its body (false when none is held).
    bool HasEnded() const;
    // The caller is the held thread.
    bool IsCurrent() const;
    // The held thread's CurrentThreadId(), 0 when none is held or it has not begun running yet.
    std::uint32_t Id() const;

    // Waits up to timeoutMs for the held thread to end, without joining it; true if it has ended
    // (or none is held). Called on the thread itself it returns false at once.
    bool WaitForEnd(std::uint32_t timeoutMs) const;

    // Waits for the held thread to end and releases it; true when nothing is held afterwards.
    // Called on the thread itself it does not wait and returns false, keeping the thread held so
    // that its owner joins it later.
    bool Join();

    struct State;

private:
    std::shared_ptr<State> m_state;
};

}  // namespace kestrel::platform

#endif
