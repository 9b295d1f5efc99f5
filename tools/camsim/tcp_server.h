// A TCP server on 127.0.0.1: one accept thread, and one thread per connection that runs the
// protocol's serve function until the peer leaves or the server stops. Connection threads have
// small stacks and are joined as soon as they finish, so hundreds of cameras and clients that
// reconnect at once fit in a 32-bit address space. Beyond the bound, or when a thread cannot
// start, a new connection is closed at once and the server goes on.
//
// Start and Stop belong to the owner's thread; Relisten, DropConnections, OpenConnections and
// Port may be called from any thread. Stop shuts every connection down and joins every thread;
// serve functions must return once their connection fails or `stopping` is set.
#ifndef QUILLON_TOOLS_CAMSIM_TCP_SERVER_H
#define QUILLON_TOOLS_CAMSIM_TCP_SERVER_H

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "camsim/net.h"

namespace camsim {

// Enough for every serve function of the simulator, sanitizers included.
constexpr std::size_t kDefaultConnectionStack = 256 * 1024;

struct TcpServerLimits {
    std::size_t maxConnections = 1024;
    std::size_t stackBytes = kDefaultConnectionStack;
};

class TcpServer {
public:
    using Serve = std::function<void(Connection& connection, const std::atomic<bool>& stopping)>;

    explicit TcpServer(Serve serve, TcpServerLimits limits = TcpServerLimits())
        : m_serve(std::move(serve)), m_limits(limits) {}
    ~TcpServer() { Stop(); }
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    bool Start(std::uint16_t port);
    void Stop();
    // Listens on another port from now on, without waiting for the accept thread: the old port
    // is closed within one accept poll (100 ms). Open connections stay.
    bool Relisten(std::uint16_t port);
    std::uint16_t Port() const { return m_port.load(); }
    // Cuts every open connection, as a camera that restarts its server.
    void DropConnections();
    std::size_t OpenConnections();

private:
    struct Worker {
        TcpServer* server = nullptr;
        Connection connection;
        pthread_t thread{};
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    void TakeNewListener();
    void ServeAccepted(Connection accepted);
    static void* RunWorker(void* worker);
    void ReapFinished(bool all);

    Serve m_serve;
    const TcpServerLimits m_limits;
    std::unique_ptr<Listener> m_listener;  // the accept thread's while it runs
    std::mutex m_listenerLock;
    std::unique_ptr<Listener> m_nextListener;  // guarded by m_listenerLock; from Relisten
    std::uint16_t m_listeningPort = 0;         // guarded by m_listenerLock; m_listener's port
    std::atomic<std::uint16_t> m_port{0};
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;
    std::mutex m_workersLock;
    std::list<std::unique_ptr<Worker>> m_workers;  // guarded by m_workersLock
};

}  // namespace camsim

#endif
