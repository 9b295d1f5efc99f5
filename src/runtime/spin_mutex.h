// A recursive lock that spins a bounded number of attempts before it blocks, and its scoped guard.
//
// The owner may lock again; every Lock (or successful TryLock) needs one Unlock by the same
// thread. When the last Unlock finds threads waiting it wakes exactly one, which becomes the
// owner (the lock is handed off, not raced for). The uncontended Lock and Unlock are each one
// compare-and-exchange or atomic decrement; there is no kernel call unless a thread has to wait.
//
// A lock with spin count N makes at most N + 1 attempts in TryLock (and before Lock blocks). On a
// single-processor system spinning cannot help, as the owner cannot run meanwhile, so the spin
// count stays 0 and TryLock makes exactly one attempt.
//
// A named lock is shared by every process that opens the same name (see
// platform/shared_lock_memory.h). If its shared objects cannot be made, the lock still works
// within this process and IsShared() tells that it is not shared.
//
// Threading: every operation may be called from any thread. Unlock by a thread that does not own
// the lock is ignored rather than releasing another thread's hold.
#ifndef QUILLON_RUNTIME_SPIN_MUTEX_H
#define QUILLON_RUNTIME_SPIN_MUTEX_H

#include <cstdint>
#include <memory>

namespace kestrel {

namespace platform {
class SharedLockMemory;
}
class CEvent;

class CSpinMutex {
public:
    static constexpr std::uint32_t kDefaultSpinCount = 4000;

    explicit CSpinMutex(std::uint32_t spinCount = kDefaultSpinCount, const char* name = nullptr);
    ~CSpinMutex();
    CSpinMutex(const CSpinMutex&) = delete;
    CSpinMutex& operator=(const CSpinMutex&) = delete;

    void Lock();
    bool TryLock();
    void Unlock();
    // Ignored on a single-processor system.
    void SetSpinCount(std::uint32_t count);
    std::uint32_t GetSpinCount() const;
    // True for a named lock whose shared objects exist; false for a process-local lock.
    bool IsShared() const;

    // Standard Lockable spelling, so std::lock_guard and std::unique_lock work too.
    void lock() { Lock(); }
    bool try_lock() { return TryLock(); }
    void unlock() { Unlock(); }

    // Whether this system counts as single-processor; decided at the first construction.
    static bool IsSingleProcessor();
    // Replaces the platform's processor count for the locks constructed from now on (tests);
    // 0 goes back to asking the platform.
    static void OverrideProcessorCount(unsigned count);

    struct LockState;

private:
    void WaitForHandOff();
    void WakeOneWaiter();

    LockState* m_state;                                  // local or mapped; never null
    std::unique_ptr<LockState> m_localState;             // set for a process-local lock
    std::unique_ptr<CEvent> m_localEvent;                // set for a process-local lock
    std::unique_ptr<platform::SharedLockMemory> m_shared;  // set for a shared lock
};

// Locks in the constructor, unlocks in the destructor (also when an exception leaves the scope).
// The mutex is borrowed and must outlive the guard; a null mutex makes the guard do nothing.
class CSpinMutexGuard {
public:
    explicit CSpinMutexGuard(CSpinMutex* mutex) : m_mutex(mutex) {
        if (m_mutex) m_mutex->Lock();
    }
    explicit CSpinMutexGuard(CSpinMutex& mutex) : CSpinMutexGuard(&mutex) {}
    ~CSpinMutexGuard() {
        if (m_mutex) m_mutex->Unlock();
    }
    CSpinMutexGuard(const CSpinMutexGuard&) = delete;
    CSpinMutexGuard& operator=(const CSpinMutexGuard&) = delete;

private:
    CSpinMutex* m_mutex;
};

}  // namespace kestrel

#endif
