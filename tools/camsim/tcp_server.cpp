#include "camsim/tcp_server.h"

namespace camsim {
namespace {

constexpr int kAcceptPollMs = 100;
// One thread per connection: beyond this many, new connections are closed at once.
constexpr std::size_t kMaxConnections = 2048;

}  // namespace

bool TcpServer::Start(std::uint16_t port) {
    if (m_acceptThread.joinable()) return false;
    if (!m_listener.Listen(port)) return false;
    m_port = m_listener.Port();
    m_stopping = false;
    m_acceptThread = std::thread(&TcpServer::AcceptLoop, this);
    return true;
}

bool TcpServer::Relisten(std::uint16_t port) {
    std::lock_guard<std::mutex> guard(m_listenerLock);
    std::uint16_t old = m_port;
    m_listener.Close();
    if (!m_listener.Listen(port)) {
        m_listener.Listen(old);
        return false;
    }
    m_port = m_listener.Port();
    return true;
}

void TcpServer::Stop() {
    m_stopping = true;
    if (m_acceptThread.joinable()) m_acceptThread.join();
    {
        std::lock_guard<std::mutex> guard(m_listenerLock);
        m_listener.Close();
    }
    DropConnections();
    ReapFinished(true);
}

void TcpServer::DropConnections() {
    std::lock_guard<std::mutex> guard(m_workersLock);
    for (auto& worker : m_workers) worker->connection.Shutdown();
}

std::size_t TcpServer::OpenConnections() {
    std::lock_guard<std::mutex> guard(m_workersLock);
    std::size_t open = 0;
    for (auto& worker : m_workers) open += worker->done ? 0 : 1;
    return open;
}

void TcpServer::AcceptLoop() {
    while (!m_stopping) {
        Connection accepted;
        {
            std::lock_guard<std::mutex> guard(m_listenerLock);
            accepted = m_listener.Accept(kAcceptPollMs);
        }
        if (!accepted.IsOpen()) {
            ReapFinished(false);
            continue;
        }
        if (OpenConnections() >= kMaxConnections) continue;  // `accepted` closes here
        auto worker = std::make_unique<Worker>();
        worker->connection = std::move(accepted);
        Worker* raw = worker.get();
        std::lock_guard<std::mutex> guard(m_workersLock);
        m_workers.push_back(std::move(worker));
        raw->thread = std::thread([this, raw] {
            m_serve(raw->connection, m_stopping);
            raw->connection.Shutdown();
            raw->done = true;
        });
    }
}

void TcpServer::ReapFinished(bool all) {
    std::list<std::unique_ptr<Worker>> finished;
    {
        std::lock_guard<std::mutex> guard(m_workersLock);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (all || (*it)->done) {
                finished.push_back(std::move(*it));
                it = m_workers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& worker : finished)
        if (worker->thread.joinable()) worker->thread.join();
}

}  // namespace camsim
