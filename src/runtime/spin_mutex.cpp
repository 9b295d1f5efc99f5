#include "runtime/spin_mutex.h"

#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <type_traits>

#include "platform/shared_lock_memory.h"
#include "platform/thread.h"
#include "runtime/event.h"

namespace kestrel {

// Laid out as the shared region of a named lock, so every process reads the same fields.
struct CSpinMutex::LockState {
    std::atomic<std::uint32_t> spinCount;
    std::atomic<std::int32_t> lockCount;  // acquisitions held or requested
    std::atomic<std::uint32_t> owner;     // thread id, 0 when free
    std::int32_t recursion;               // touched only by the owner
};

static_assert(sizeof(CSpinMutex::LockState) == platform::SharedLockMemory::kSize,
              "the shared region holds exactly one LockState");
static_assert(std::atomic<std::uint32_t>::is_always_lock_free &&
                  std::atomic<std::int32_t>::is_always_lock_free,
              "lock fields shared between processes must be lock-free");

namespace {

enum : int { kUndetermined = -1, kMultiProcessor = 0, kSingleProcessor = 1 };
std::atomic<int> g_singleProcessor{kUndetermined};
std::atomic<unsigned> g_processorCountOverride{0};

void DetermineProcessorCount() {
    if (g_singleProcessor.load() != kUndetermined) return;
    unsigned count = g_processorCountOverride.load();
    if (count == 0) count = platform::ProcessorCount();
    int expected = kUndetermined;
    g_singleProcessor.compare_exchange_strong(expected, count == 1 ? kSingleProcessor : kMultiProcessor);
}

}  // namespace

bool CSpinMutex::IsSingleProcessor() {
    DetermineProcessorCount();
    return g_singleProcessor.load() == kSingleProcessor;
}

void CSpinMutex::OverrideProcessorCount(unsigned count) {
    g_processorCountOverride.store(count);
    g_singleProcessor.store(kUndetermined);
}

CSpinMutex::CSpinMutex(std::uint32_t spinCount, const char* name) {
    DetermineProcessorCount();
    if (name) m_shared = platform::SharedLockMemory::Open(name);
    if (m_shared) {
        // The region is zero-filled by the system when first made; constructing the record over
        // it must not write, or a second process would reset a lock that is held.
        static_assert(std::is_trivially_default_constructible<LockState>::value,
                      "placing the record must leave the shared bytes alone");
        m_state = ::new (m_shared->Data()) LockState;
    } else {
        m_localState = std::make_unique<LockState>();
        m_localState->spinCount.store(0);
        m_localState->lockCount.store(0);
        m_localState->owner.store(0);
        m_localState->recursion = 0;
        m_localEvent = std::make_unique<CEvent>(false, false);
        m_state = m_localState.get();
    }
    SetSpinCount(spinCount);
}

CSpinMutex::~CSpinMutex() = default;

void CSpinMutex::SetSpinCount(std::uint32_t count) {
    if (IsSingleProcessor()) return;
    m_state->spinCount.exchange(count);
}

std::uint32_t CSpinMutex::GetSpinCount() const { return m_state->spinCount.load(std::memory_order_relaxed); }

bool CSpinMutex::IsShared() const { return m_shared != nullptr; }

bool CSpinMutex::TryLock() {
    const std::uint32_t self = platform::CurrentThreadId();
    std::uint32_t spins = m_state->spinCount.load(std::memory_order_relaxed);
    for (;;) {
        std::int32_t expected = 0;
        if (m_state->lockCount.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                                       std::memory_order_relaxed)) {
            m_state->owner.store(self, std::memory_order_relaxed);
            m_state->recursion = 1;
            return true;
        }
        // Only this thread ever writes its own id into owner, so a relaxed read is exact here.
        if (m_state->owner.load(std::memory_order_relaxed) == self) {
            m_state->lockCount.fetch_add(1, std::memory_order_relaxed);
            ++m_state->recursion;
            return true;
        }
        if (spins == 0) return false;
        --spins;
    }
}

void CSpinMutex::Lock() {
    if (TryLock()) return;
    const std::uint32_t self = platform::CurrentThreadId();
    // Counting ourselves in makes the releasing owner wake one waiter instead of freeing the lock.
    if (m_state->lockCount.fetch_add(1, std::memory_order_acquire) + 1 != 1) {
        WaitForHandOff();
    }
    m_state->owner.store(self, std::memory_order_relaxed);
    m_state->recursion = 1;
}

void CSpinMutex::Unlock() {
    if (m_state->owner.load(std::memory_order_relaxed) != platform::CurrentThreadId()) return;
    if (--m_state->recursion > 0) {
        m_state->lockCount.fetch_sub(1, std::memory_order_relaxed);
        return;
    }
    m_state->owner.store(0, std::memory_order_relaxed);
    if (m_state->lockCount.fetch_sub(1, std::memory_order_release) - 1 > 0) WakeOneWaiter();
}

void CSpinMutex::WaitForHandOff() {
    // The waker signals only after it gave up ownership, and the wait object orders its writes
    // before our return, so no fence is needed here.
    if (m_shared) {
        // The system wait only fails for an object that is gone; keep trying rather than take
        // a lock that someone else may hold.
        while (!m_shared->Wait()) std::this_thread::yield();
    } else {
        m_localEvent->Wait(CEvent::kInfinite);
    }
}

void CSpinMutex::WakeOneWaiter() {
    if (m_shared) {
        m_shared->Signal();
    } else {
        m_localEvent->Set();
    }
}

}  // namespace kestrel
