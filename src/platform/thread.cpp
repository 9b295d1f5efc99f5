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

// The state of the Thread running on this thread, if any.
thread_local const Thread::State* t_current = nullptr;

// What the new thread receives; it owns and frees it.
struct Launch {
    std::shared_ptr<Thread::State> state;
    std::function<void()> body;
    ThreadPriority priority;
};

void RunBody(Thread::State& state, const std::function<void()>& body, ThreadPriority priority) {
    if (priority != ThreadPriority::kNormal) SetCurrentThreadPriority(priority);
    try {
        body();
    } catch (...) {
        // An exception leaving a thread would end the whole host process.
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
    if (!native::StartThread(&DetachedEntry, owned.get(), kThreadStackBytes, &handle)) return false;
    owned.release();  // the new thread owns it now
    native::DetachThread(handle);
    return true;
}

bool IsOwnThread() { return t_current != nullptr; }

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
    if (!native::StartThread(&ThreadEntry, launch.get(), kThreadStackBytes, &state->handle)) return false;
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
