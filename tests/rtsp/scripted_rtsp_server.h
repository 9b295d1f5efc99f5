// An RTSP peer for client tests: accepts one connection on 127.0.0.1 and answers each
// request with the next scripted reply, sent in the given pieces. Records every request.
#ifndef QUILLON_TESTS_RTSP_SCRIPTED_RTSP_SERVER_H
#define QUILLON_TESTS_RTSP_SCRIPTED_RTSP_SERVER_H

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"

namespace kestrel::testing {

// Test peers open sockets before any client does; the socket library must be up for them.
inline const bool kSocketsStarted = platform::SocketsStartup();

struct ScriptedReply {
    std::vector<std::string> pieces;  // sent one send call each; none: stay silent
    std::chrono::milliseconds gap{0};  // pause before each piece
};

// A reply split into pieces of `size` bytes, `gap` apart.
inline ScriptedReply Split(const std::string& reply, std::size_t size, std::chrono::milliseconds gap) {
    ScriptedReply split;
    for (std::size_t i = 0; i < reply.size(); i += size) split.pieces.push_back(reply.substr(i, size));
    split.gap = gap;
    return split;
}

class ScriptedRtspServer {
public:
    explicit ScriptedRtspServer(std::vector<ScriptedReply> script) : m_script(std::move(script)) {
        m_listening = m_listener.Listen(0, 4) == platform::SocketError::kNone;
        if (m_listening) m_thread = std::thread([this] { Run(); });
    }
    ~ScriptedRtspServer() { Stop(); }

    bool Listening() const { return m_listening; }
    std::uint16_t Port() const { return m_listener.Port(); }

    // Waits for the conversation to end: the client closed, or the script and a grace time ran out.
    void Stop() {
        if (m_thread.joinable()) m_thread.join();
    }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_requests;
    }

private:
    static constexpr std::uint32_t kWaitMs = 3000;

    void Run() {
        platform::TcpSocket peer;
        if (m_listener.Accept(peer, kWaitMs) != platform::SocketError::kNone) return;
        std::string buffered;
        for (const ScriptedReply& reply : m_script) {
            if (!ReadRequest(peer, buffered)) return;
            if (reply.pieces.empty()) continue;  // silent: the next request (if any) comes after the client gave up
            for (const std::string& piece : reply.pieces) {
                if (reply.gap.count() > 0) std::this_thread::sleep_for(reply.gap);
                std::size_t sent = 0;
                if (peer.Send(piece.data(), piece.size(), sent) != platform::SocketError::kNone) return;
            }
        }
        // Any further request is recorded but not answered; ends when the client closes.
        ReadRequest(peer, buffered);
    }

    bool ReadRequest(platform::TcpSocket& peer, std::string& buffered) {
        for (;;) {
            std::size_t end = buffered.find("\r\n\r\n");
            if (end != std::string::npos) {
                std::lock_guard<std::mutex> lock(m_lock);
                m_requests.push_back(buffered.substr(0, end + 4));
                buffered.erase(0, end + 4);
                return true;
            }
            char chunk[1024];
            std::size_t received = 0;
            if (peer.Receive(chunk, sizeof chunk, received, kWaitMs) != platform::SocketError::kNone) return false;
            buffered.append(chunk, received);
        }
    }

    std::vector<ScriptedReply> m_script;
    platform::TcpListener m_listener;
    bool m_listening = false;
    std::thread m_thread;
    std::mutex m_lock;
    std::vector<std::string> m_requests;
};

}  // namespace kestrel::testing

#endif
