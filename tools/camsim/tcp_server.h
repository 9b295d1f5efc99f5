// A TCP server on 127.0.0.1: one accept thread, and one thread per connection that runs the
// protocol's serve function until the peer leaves or the server stops. Finished connection
// threads are joined by the accept thread, so a stream of short connections does not pile up.
//
// Start, Stop and Relisten belong to the owner's thread; DropConnections and Port may be called
// from any thread. Stop shuts every connection down and joins every thread; serve functions must
// return once their connection fails or `stopping` is set.
#ifndef QUILLON_TOOLS_CAMSIM_TCP_SERVER_H
#define QUILLON_TOOLS_CAMSIM_TCP_SERVER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "camsim/net.h"

namespace camsim {

class TcpServer {
public:
    using Serve = std::function<void(Connection& connection, const std::atomic<bool>& stopping)>;

    explicit TcpServer(Serve serve) : m_serve(std::move(serve)) {}
    ~TcpServer() { Stop(); }
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    bool Start(std::uint16_t port);
    void Stop();
    // Listens on another port from now on; open connections stay.
    bool Relisten(std::uint16_t port);
    std::uint16_t Port() const { return m_port.load(); }
    // Cuts every open connection, as a camera that restarts its server.
    void DropConnections();
    std::size_t OpenConnections();

private:
    struct Worker {
        Connection connection;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    void ReapFinished(bool all);

    Serve m_serve;
    std::mutex m_listenerLock;  // m_listener, between the accept thread and Relisten
    Listener m_listener;
    std::atomic<std::uint16_t> m_port{0};
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;
    std::mutex m_workersLock;
    std::list<std::unique_ptr<Worker>> m_workers;
};

}  // namespace camsim

#endif
