// The receive threads' thread type. Kept behind this one name so that the port and the
// responder do not depend on how threads are made.
#ifndef QUILLON_MEDIA_TRANSPORT_THREAD_H
#define QUILLON_MEDIA_TRANSPORT_THREAD_H

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kestrel::media_detail {

enum class ThreadPriority { kNormal, kAboveNormal };

// One owned thread: Start, WaitForEnd and Join by the owner; IsCurrent from anywhere.
class TransportThread {
public:
    TransportThread() = default;
    // Destroyed on its own thread it cannot join; the thread then finishes on its own.
    ~TransportThread() {
        if (IsCurrent())
            m_thread.detach();
        else
            Join();
    }
    TransportThread(const TransportThread&) = delete;
    TransportThread& operator=(const TransportThread&) = delete;

    bool Start(std::function<void()> body, ThreadPriority priority = ThreadPriority::kNormal) {
        if (m_thread.joinable()) return false;
        auto state = std::make_shared<State>();
        try {
            m_thread = std::thread([state, body = std::move(body)] {
                try {
                    body();
                } catch (...) {
                }
                std::lock_guard<std::mutex> guard(state->lock);
                state->ended = true;
                state->changed.notify_all();
            });
        } catch (...) {
            return false;
        }
        m_state = state;
        (void)priority;
        return true;
    }

    bool IsStarted() const { return m_thread.joinable(); }
    bool IsCurrent() const { return m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id(); }

    bool WaitForEnd(std::uint32_t timeoutMs) const {
        if (!m_state) return true;
        if (IsCurrent()) return false;
        std::unique_lock<std::mutex> guard(m_state->lock);
        return m_state->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return m_state->ended; });
    }

    bool Join() {
        if (!m_thread.joinable()) return true;
        if (IsCurrent()) return false;
        m_thread.join();
        m_state.reset();
        return true;
    }

private:
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        bool ended = false;
    };
    std::thread m_thread;
    std::shared_ptr<State> m_state;
};

}  // namespace kestrel::media_detail

#endif
