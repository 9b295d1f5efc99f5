#include "support/test_http_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "platform/sockets.h"

namespace kestrel::testing {
namespace {

constexpr int kPollMs = 20;

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

const char* Reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

// Splits the head at `end` (the blank line) into the request record.
bool ParseHead(const std::string& head, ReceivedRequest& request) {
    std::size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    std::size_t first = line.find(' '), second = line.rfind(' ');
    if (first == std::string::npos || second == first) return false;
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, second - first - 1);
    request.version = line.substr(second + 1);
    std::size_t start = lineEnd + 2;
    while (start < head.size()) {
        std::size_t end = head.find("\r\n", start);
        if (end == std::string::npos) end = head.size();
        std::string header = head.substr(start, end - start);
        std::size_t colon = header.find(':');
        if (colon != std::string::npos) {
            std::size_t value = header.find_first_not_of(' ', colon + 1);
            request.headers.emplace_back(header.substr(0, colon),
                                         value == std::string::npos ? std::string() : header.substr(value));
        }
        start = end + 2;
    }
    return true;
}

}  // namespace

std::string ReceivedRequest::Header(const std::string& name) const {
    for (const auto& header : headers)
        if (SameName(header.first, name)) return header.second;
    return std::string();
}

std::vector<std::string> ReceivedRequest::HeaderNames() const {
    std::vector<std::string> names;
    for (const auto& header : headers) names.push_back(header.first);
    return names;
}

Reply Reply::Http(int status, const std::string& body, const std::vector<std::string>& headers) {
    std::string bytes = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    for (const std::string& header : headers) bytes += header + "\r\n";
    bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    Reply reply;
    reply.bytes = bytes;
    return reply;
}

TestHttpServer::TestHttpServer(Handler handler) : m_handler(std::move(handler)) {
    platform::SocketsStartup();
    m_listener = ListenLoopback(m_port);
    if (m_listener != kNoSocket) m_thread = std::thread([this] { Run(); });
}

TestHttpServer::~TestHttpServer() {
    m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
    CloseSocket(m_listener);
    platform::SocketsCleanup();
}

std::vector<ReceivedRequest> TestHttpServer::Requests() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

void TestHttpServer::Run() {
    while (!m_stop.load()) {
        SocketHandle connection = AcceptWithin(m_listener, kPollMs);
        if (connection == kNoSocket) continue;
        ++m_connections;
        Serve(connection);
        CloseSocket(connection);
    }
}

// Sends while the client takes bytes: a client that stops reading mid-body (a request it closed)
// must not keep the server from stopping.
bool TestHttpServer::Send(SocketHandle connection, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (m_stop.load()) return false;
        const int piece = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 64 * 1024));
        const int n = SendWithin(connection, bytes.data() + sent, piece, kPollMs);
        if (n == -2) return false;
        if (n > 0) sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool TestHttpServer::Trickle(SocketHandle connection, const Reply& reply) {
    for (char byte : reply.trickled) {
        for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(reply.trickleMs);
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
            if (m_stop.load()) return false;
        }
        if (!Send(connection, std::string(1, byte))) return false;
    }
    return true;
}

void TestHttpServer::Serve(SocketHandle connection) {
    std::string data;
    char buffer[4096];
    bool holding = false;
    while (!m_stop.load()) {
        int got = ReceiveWithin(connection, buffer, sizeof(buffer), kPollMs);
        if (got == 0 || got == -2) return;
        if (got > 0 && !holding) data.append(buffer, static_cast<std::size_t>(got));
        if (holding) continue;
        for (;;) {
            std::size_t headEnd = data.find("\r\n\r\n");
            if (headEnd == std::string::npos) break;
            ReceivedRequest request;
            if (!ParseHead(data.substr(0, headEnd), request)) return;
            std::size_t length = static_cast<std::size_t>(std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10));
            if (data.size() < headEnd + 4 + length) break;
            request.body = data.substr(headEnd + 4, length);
            data.erase(0, headEnd + 4 + length);
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_requests.push_back(request);
            }
            Reply reply = m_handler(request);
            if (!reply.bytes.empty() && !Send(connection, reply.bytes)) return;
            if (!Trickle(connection, reply)) return;
            if (reply.close) return;
            if (reply.hold) {
                holding = true;
                break;
            }
        }
    }
}

}  // namespace kestrel::testing
