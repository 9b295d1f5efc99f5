#include "platform/thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace kestrel::platform {

// Shared with the running body, so that a thread left to finish on its own (its owner destroyed
// on it) never touches freed memory.
struct Thread::State {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable endedChanged;
    bool ended = false;  // guarded by mutex
    std::atomic<std::uint32_t> id{0};
    std::thread::id stdId;  // written before the body can run, read by the owner and the body
};

namespace {

thread_local bool t_ownThread = false;

void RunBody(const std::shared_ptr<Thread::State>& state, const std::function<void()>& body,
             ThreadPriority priority) {
    t_ownThread = true;
    state->id.store(CurrentThreadId());
    if (priority != ThreadPriority::kNormal) SetCurrentThreadPriority(priority);
    try {
        body();
    } catch (...) {
        // An exception leaving a thread would end the whole host process.
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    state->ended = true;
    state->endedChanged.notify_all();
}

}  // namespace

bool IsOwnThread() { return t_ownThread; }

Thread::Thread() = default;

Thread::~Thread() {
    if (!m_state) return;
    if (IsCurrent()) {
        m_state->thread.detach();
        return;
    }
    Join();
}

bool Thread::Start(std::function<void()> body, ThreadPriority priority) {
    if (m_state || !body) return false;
    auto state = std::make_shared<State>();
    // The body first passes through the state's mutex, which is held here until the handle and
    // m_state are stored, so IsCurrent() is sound from the body's first line.
    std::unique_lock<std::mutex> gate(state->mutex);
    try {
        state->thread = std::thread([state, body = std::move(body), priority]() {
            { std::lock_guard<std::mutex> wait(state->mutex); }
            RunBody(state, body, priority);
        });
    } catch (const std::system_error&) {
        return false;
    }
    state->stdId = state->thread.get_id();
    m_state = state;
    return true;
}

bool Thread::IsStarted() const { return m_state != nullptr; }

bool Thread::HasEnded() const {
    if (!m_state) return false;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->ended;
}

bool Thread::IsCurrent() const { return m_state && m_state->stdId == std::this_thread::get_id(); }

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
    m_state->thread.join();
    m_state.reset();
    return true;
}

}  // namespace kestrel::platform
