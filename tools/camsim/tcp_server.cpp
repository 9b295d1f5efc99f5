#include "camsim/tcp_server.h"

namespace camsim {
namespace {

constexpr int kAcceptPollMs = 100;

}  // namespace

bool TcpServer::Start(std::uint16_t port) {
    if (m_acceptThread.joinable()) return false;
    m_listener = std::make_unique<Listener>();
    if (!m_listener->Listen(port)) return false;
    {
        std::lock_guard<std::mutex> guard(m_listenerLock);
        m_listeningPort = m_listener->Port();
    }
    m_port = m_listener->Port();
    m_stopping = false;
    m_acceptThread = std::thread(&TcpServer::AcceptLoop, this);
    return true;
}

bool TcpServer::Relisten(std::uint16_t port) {
    std::lock_guard<std::mutex> guard(m_listenerLock);
    if (port != 0 && port == m_listeningPort) {  // back before the accept thread left it
        m_nextListener.reset();
        m_port = port;
        return true;
    }
    auto next = std::make_unique<Listener>();
    if (!next->Listen(port)) return false;
    m_port = next->Port();
    m_nextListener = std::move(next);
    return true;
}

void TcpServer::Stop() {
    m_stopping = true;
    if (m_acceptThread.joinable()) m_acceptThread.join();
    m_listener.reset();
    {
        std::lock_guard<std::mutex> guard(m_listenerLock);
        m_nextListener.reset();
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
        TakeNewListener();
        Connection accepted = m_listener->Accept(kAcceptPollMs);
        // Joined on every turn: a client that reconnects at once never lets the poll time out.
        ReapFinished(false);
        if (accepted.IsOpen()) ServeAccepted(std::move(accepted));
    }
}

// The listener Relisten opened replaces the current one here, on the only thread that polls it.
void TcpServer::TakeNewListener() {
    std::lock_guard<std::mutex> guard(m_listenerLock);
    if (!m_nextListener) return;
    m_listener = std::move(m_nextListener);
    m_listeningPort = m_listener->Port();
}

void TcpServer::ServeAccepted(Connection accepted) {
    std::lock_guard<std::mutex> guard(m_workersLock);
    if (m_workers.size() >= m_limits.maxConnections) return;  // `accepted` closes here
    auto worker = std::make_unique<Worker>();
    worker->server = this;
    worker->connection = std::move(accepted);
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return;
    const bool started = pthread_attr_setstacksize(&attributes, m_limits.stackBytes) == 0 &&
                         pthread_create(&worker->thread, &attributes, &TcpServer::RunWorker, worker.get()) == 0;
    pthread_attr_destroy(&attributes);
    if (started) m_workers.push_back(std::move(worker));  // else the connection closes with it
}

void* TcpServer::RunWorker(void* argument) {
    Worker& worker = *static_cast<Worker*>(argument);
    worker.server->m_serve(worker.connection, worker.server->m_stopping);
    worker.connection.Shutdown();
    worker.done = true;
    return nullptr;
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
    for (auto& worker : finished) pthread_join(worker->thread, nullptr);
}

}  // namespace camsim
