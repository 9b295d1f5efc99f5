#include "platform/thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/thread_native.h"

namespace kestrel::platform {

// Shared with the running body, so that a thread left to finish on its own (its owner destroyed
// on it) never touches freed memory.
struct Thread::State {
    native::ThreadHandle handle = 0;  // written before the body can run
    std::mutex mutex;
    std::condition_variable endedChanged;
    bool ended = false;  // guarded by mutex
    std::atomic<std::uint32_t> id{0};
};

namespace {

std::atomic<unsigned> g_runningThreads{0};

// Counts the calling thread among the running ones for its lifetime.
struct RunningMark {
    RunningMark() { ++g_runningThreads; }
    ~RunningMark() { --g_runningThreads; }
};

// The failures FailThreadCreations asked for.
std::mutex g_failureLock;
unsigned g_creationsToSkip = 0;  // guarded by g_failureLock
unsigned g_creationsToFail = 0;  // guarded by g_failureLock

bool StartNative(void (*entry)(void*), void* argument, native::ThreadHandle* handle) {
    {
        std::lock_guard<std::mutex> guard(g_failureLock);
        if (g_creationsToFail != 0) {
            if (g_creationsToSkip == 0) {
                --g_creationsToFail;
                return false;
            }
            --g_creationsToSkip;
        }
    }
    return native::StartThread(entry, argument, kThreadStackBytes, handle);
}

// The state of the Thread running on this thread, if any.
thread_local const Thread::State* t_current = nullptr;

// What the new thread receives; it owns and frees it.
struct Launch {
    std::shared_ptr<Thread::State> state;
    std::function<void()> body;
    ThreadPriority priority;
};

void RunBody(Thread::State& state, const std::function<void()>& body, ThreadPriority priority) {
    {
        RunningMark running;
        if (priority != ThreadPriority::kNormal) SetCurrentThreadPriority(priority);
        try {
            body();
        } catch (...) {
            // An exception leaving a thread would end the whole host process.
        }
    }
    std::lock_guard<std::mutex> lock(state.mutex);
    state.ended = true;
    state.endedChanged.notify_all();
}

void ThreadEntry(void* argument) {
    std::unique_ptr<Launch> launch(static_cast<Launch*>(argument));
    // Waits until Start has stored the handle and the owner's state, so IsCurrent() is sound
    // from the body's first line.
    { std::lock_guard<std::mutex> gate(launch->state->mutex); }
    t_current = launch->state.get();
    launch->state->id.store(CurrentThreadId());
    RunBody(*launch->state, launch->body, launch->priority);
}

void DetachedEntry(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    RunningMark running;
    try {
        (*body)();
    } catch (...) {
        // An exception leaving a thread would end the whole host process.
    }
}

}  // namespace

bool StartDetachedThread(std::function<void()> body) {
    if (!body) return false;
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    native::ThreadHandle handle = 0;
    if (!StartNative(&DetachedEntry, owned.get(), &handle)) return false;
    owned.release();  // the new thread owns it now
    native::DetachThread(handle);
    return true;
}

bool IsOwnThread() { return t_current != nullptr; }

unsigned OwnThreadCount() { return g_runningThreads.load(); }

void FailThreadCreations(unsigned skip, unsigned count) {
    std::lock_guard<std::mutex> guard(g_failureLock);
    g_creationsToSkip = skip;
    g_creationsToFail = count;
}

Thread::Thread() = default;

Thread::~Thread() {
    if (!m_state) return;
    if (IsCurrent()) {
        native::DetachThread(m_state->handle);
        return;
    }
    Join();
}

bool Thread::Start(std::function<void()> body, ThreadPriority priority) {
    if (m_state || !body) return false;
    auto state = std::make_shared<State>();
    auto launch = std::make_unique<Launch>(Launch{state, std::move(body), priority});
    std::unique_lock<std::mutex> gate(state->mutex);
    if (!StartNative(&ThreadEntry, launch.get(), &state->handle)) return false;
    launch.release();  // the new thread owns it now
    m_state = state;
    return true;
}

bool Thread::IsStarted() const { return m_state != nullptr; }

bool Thread::HasEnded() const {
    if (!m_state) return false;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->ended;
}

bool Thread::IsCurrent() const { return m_state && m_state.get() == t_current; }

std::uint32_t Thread::Id() const { return m_state ? m_state->id.load() : 0; }

bool Thread::WaitForEnd(std::uint32_t timeoutMs) const {
    if (!m_state) return true;
    if (IsCurrent()) return false;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->endedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [this] { return m_state->ended; });
}

bool Thread::Join() {
    if (!m_state) return true;
    if (IsCurrent()) return false;
    native::JoinThread(m_state->handle);
    m_state.reset();
    return true;
}

}  // namespace kestrel::platform
