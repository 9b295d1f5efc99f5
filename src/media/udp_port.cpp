#include "media/udp_port.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/host_resolver.h"
#include "platform/socket_wait_set.h"

namespace kestrel {
namespace {

using platform::SocketError;

constexpr std::uint32_t kReceiveBufferFactor = 32;
// Room for a key frame's burst of datagrams when the receive thread is late: a 4 Mbit/s
// stream's I-frame is a few hundred kilobytes.
constexpr std::uint32_t kMaxReceiveBufferOption = 2 * 1024 * 1024;
// Smaller configured sizes are taken up only when they save at least this much.
constexpr std::size_t kShrinkThreshold = 2049;
constexpr std::uint32_t kTruncationGrowth = 1024;
constexpr std::uint32_t kErrorBackoffMs = 10;
constexpr int kMaxDatagramsPerWake = 64;
constexpr std::uint32_t kGatherMs = 2;

}  // namespace

CUDPPort::CUDPPort() = default;

CUDPPort::~CUDPPort() {
    Close();
    std::unique_lock<std::mutex> guard(m_lock);
    JoinRetiredThread(guard);
}

void CUDPPort::SetListener(IUDPPortUser* listener) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_listener.store(listener);
}

void CUDPPort::SetCompanion(IUDPPortCompanion* companion) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_socket.IsOpen()) return;
    m_companion.store(companion);
    m_waitSet.Wake();  // the thread waits on the sockets it had when it began waiting
}

void CUDPPort::SetBufferSize(std::uint32_t bytes) {
    m_bufferSize.store(std::clamp<std::uint32_t>(bytes, 1, kMaxBufferSize));
}

bool CUDPPort::IsOpen() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_socket.IsOpen();
}

std::uint16_t CUDPPort::GetPort() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_port;
}

void CUDPPort::JoinRetiredThread(std::unique_lock<std::mutex>& guard) {
    if (!m_thread || m_thread->IsCurrent()) return;
    std::unique_ptr<platform::Thread> retired = std::move(m_thread);
    guard.unlock();
    retired->Join();
    guard.lock();
}

UDPPortOpenResult CUDPPort::Open(const char* address, std::uint16_t port) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (m_socket.IsOpen() || m_closing) return UDPPortOpenResult::kAlreadyOpen;

    std::uint32_t local = platform::kIpv4Any;
    if (address != nullptr && !platform::ParseDottedIpv4(address, local)) return UDPPortOpenResult::kBadAddress;

    JoinRetiredThread(guard);
    if (m_socket.IsOpen() || m_closing) return UDPPortOpenResult::kAlreadyOpen;

    if (!m_waitSet.IsOpen() && m_waitSet.Open() != SocketError::kNone) return UDPPortOpenResult::kSocketFailed;
    if (m_socket.Open() != SocketError::kNone) return UDPPortOpenResult::kSocketFailed;
    // The receive thread reads until the queue is empty, then waits.
    if (m_socket.SetNonBlocking() != SocketError::kNone) {
        m_socket.Close();
        return UDPPortOpenResult::kSocketFailed;
    }
    const std::uint32_t option =
        std::min<std::uint32_t>(m_bufferSize.load() * kReceiveBufferFactor, kMaxReceiveBufferOption);
    if (m_socket.SetReceiveBufferSize(option) != SocketError::kNone) {
        m_socket.Close();
        return UDPPortOpenResult::kBufferOptionFailed;
    }
    m_grantedReceiveBuffer.store(m_socket.GetReceiveBufferSize());
    m_socket.EnableDropCount();
    m_kernelDrops.store(0);
    platform::Ipv4Endpoint bound{local, port};
    if (m_socket.Bind(bound) != SocketError::kNone || m_socket.LocalEndpoint(bound) != SocketError::kNone) {
        m_socket.Close();
        return UDPPortOpenResult::kBindFailed;
    }
    m_port = bound.port;

    m_running.store(true);
    if (m_thread) {
        // Reopened from a callback after a Close there: the receive loop that runs this call
        // carries on with the new socket.
        return UDPPortOpenResult::kOpened;
    }
    m_thread = std::make_unique<platform::Thread>();
    if (!m_thread->Start([this] { ReceiveLoop(); }, platform::ThreadPriority::kAboveNormal)) {
        m_thread.reset();
        m_running.store(false);
        m_socket.Close();
        m_port = 0;
        return UDPPortOpenResult::kThreadFailed;
    }
    return UDPPortOpenResult::kOpened;
}

bool CUDPPort::Close() {
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_socket.IsOpen() || m_closing) return true;
    m_running.store(false);
    m_waitSet.Wake();
    m_socket.Shutdown();
    if (m_thread && !m_thread->IsCurrent()) {
        m_closing = true;
        std::unique_ptr<platform::Thread> thread = std::move(m_thread);
        // Not under the lock: the thread may be in a callback that takes it.
        guard.unlock();
        thread->Join();
        guard.lock();
        m_closing = false;
    }
    m_socket.Close();
    m_port = 0;
    m_companion.store(nullptr);
    guard.unlock();

    if (IUDPPortUser* listener = m_listener.load()) {
        try {
            listener->OnPortClosed(this);
        } catch (...) {
        }
    }
    return true;
}

void CUDPPort::ReceiveLoop() {
    std::vector<std::uint8_t> buffer(m_bufferSize.load());
    auto lastActivity = std::chrono::steady_clock::now();

    while (m_running.load()) {
        IUDPPortCompanion* companion = m_companion.load();
        platform::UdpSocket* sockets[2] = {&m_socket, companion ? &companion->CompanionSocket() : nullptr};
        bool readable[2] = {false, false};
        const std::uint32_t idleTimeout = m_selectTimeoutMs.load();
        std::uint32_t timeout = platform::SocketWaitSet::kInfinite;
        if (idleTimeout != 0) {
            const auto idle = std::chrono::steady_clock::now() - lastActivity;
            const auto left = std::chrono::milliseconds(idleTimeout) -
                              std::chrono::duration_cast<std::chrono::milliseconds>(idle);
            timeout = std::uint32_t(std::max<std::int64_t>(0, left.count()));
        }
        const SocketError waited = m_waitSet.Wait(sockets, companion ? 2 : 1, timeout, readable);
        if (!m_running.load()) break;

        if (waited == SocketError::kTimedOut) {
            lastActivity = std::chrono::steady_clock::now();
            NotifyIdle();
            continue;
        }
        if (waited == SocketError::kClosed) {
            // The socket is unusable: tell the listener and end; Close releases the socket.
            if (IUDPPortUser* listener = m_listener.load()) {
                try {
                    listener->OnPortClosed(this);
                } catch (...) {
                }
            }
            break;
        }
        if (waited != SocketError::kNone) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kErrorBackoffMs));
            continue;
        }
        if (readable[1]) {
            try {
                companion->OnCompanionReadable();
            } catch (...) {
            }
        }
        if (!readable[0]) continue;
        // A camera sends a picture as a burst of datagrams. Letting the burst gather costs a
        // few milliseconds of latency and saves a wake-up for each part of it, which costs more
        // than the datagrams; a Close ends the pause at once.
        m_waitSet.Wait(nullptr, 0, kGatherMs, nullptr);
        if (!m_running.load()) break;
        if (ReceiveQueued(buffer)) lastActivity = std::chrono::steady_clock::now();
    }
}

void CUDPPort::NotifyIdle() {
    if (IUDPPortUser* listener = m_listener.load()) {
        try {
            listener->OnIdle();
        } catch (...) {
        }
    }
}

bool CUDPPort::ReceiveQueued(std::vector<std::uint8_t>& buffer) {
    bool delivered = false;
    // What is queued, not just one datagram: a camera sends a picture as a burst of them, and a
    // wait per datagram costs more than the datagram. Bounded, so that the companion and a
    // Close are seen under a flood.
    for (int i = 0; i < kMaxDatagramsPerWake && m_running.load(); ++i) {
        const std::size_t wanted = m_bufferSize.load();
        if (wanted > buffer.size() || buffer.size() - wanted >= kShrinkThreshold) {
            buffer.assign(wanted, 0);
            buffer.shrink_to_fit();
        }

        std::size_t received = 0;
        platform::Ipv4Endpoint from;
        const SocketError result = m_socket.ReceiveFrom(buffer.data(), buffer.size(), received, from);
        if (result == SocketError::kWouldBlock || !m_running.load()) break;
        if (result == SocketError::kMessageTruncated) {
            // The datagram is lost; make room for the next one of its size.
            SetBufferSize(static_cast<std::uint32_t>(buffer.size()) + kTruncationGrowth);
            continue;
        }
        if (result == SocketError::kClosed) {
            m_running.store(false);
            break;
        }
        // Other errors, ICMP reports among them, concern a single datagram, not the socket.
        if (result != SocketError::kNone) continue;
        // An empty datagram carries nothing, and must not end reception for anyone who sends one.
        if (received == 0) continue;

        delivered = true;
        m_kernelDrops.store(m_socket.DroppedDatagrams(), std::memory_order_relaxed);
        if (IUDPPortUser* listener = m_listener.load()) {
            try {
                listener->OnDatagram(this, from, buffer.data(), static_cast<std::uint32_t>(received));
            } catch (...) {
                // The datagram in hand is dropped; reception goes on.
            }
        }
    }
    return delivered;
}

}  // namespace kestrel
