// A small HTTP/1.1 server on 127.0.0.1 for tests: one thread, one connection at a time, keep-alive.
// Each request goes to the handler, whose reply says what to send and what to do after it.
// Requests as received are recorded for the test to inspect.
#ifndef QUILLON_TESTS_SUPPORT_TEST_HTTP_SERVER_H
#define QUILLON_TESTS_SUPPORT_TEST_HTTP_SERVER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/loopback_socket.h"

namespace kestrel::testing {

struct ReceivedRequest {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
    std::string body;

    std::string Header(const std::string& name) const;  // "" when absent (case-insensitive name)
    std::vector<std::string> HeaderNames() const;
};

struct Reply {
    std::string bytes;  // sent as they are
    bool hold = false;  // then keep the connection open, silent, until the client closes or the server stops
    bool close = false;  // then close the connection
    std::string trickled;        // sent after `bytes`, one byte at a time
    std::uint32_t trickleMs = 0;  // apart

    // A complete response with Content-Length.
    static Reply Http(int status, const std::string& body, const std::vector<std::string>& headers = {});
    static Reply Silence() {
        Reply reply;
        reply.hold = true;
        return reply;
    }
};

class TestHttpServer {
public:
    using Handler = std::function<Reply(const ReceivedRequest&)>;
    explicit TestHttpServer(Handler handler);
    ~TestHttpServer();

    std::uint16_t Port() const { return m_port; }
    std::vector<ReceivedRequest> Requests();
    int Connections() const { return m_connections.load(); }

private:
    void Run();
    void Serve(SocketHandle connection);
    bool Send(SocketHandle connection, const std::string& bytes);
    bool Trickle(SocketHandle connection, const Reply& reply);

    Handler m_handler;
    SocketHandle m_listener = kNoSocket;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::mutex m_lock;
    std::vector<ReceivedRequest> m_requests;
    std::thread m_thread;
};

}  // namespace kestrel::testing

#endif
