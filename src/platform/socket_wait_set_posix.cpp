#include "platform/socket_wait_set.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "platform/socket_system_posix.h"

namespace kestrel::platform {

SocketWaitSet::~SocketWaitSet() { Close(); }

SocketError SocketWaitSet::Open() {
    if (IsOpen()) return SocketError::kNone;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return SocketErrorFromErrno(errno);
    m_wakeRead = fds[0];
    m_wakeWrite = fds[1];
    return SocketError::kNone;
}

bool SocketWaitSet::IsOpen() const { return m_wakeRead >= 0; }

void SocketWaitSet::Close() {
    if (!IsOpen()) return;
    close(static_cast<int>(m_wakeRead));
    close(static_cast<int>(m_wakeWrite));
    m_wakeRead = m_wakeWrite = -1;
}

void SocketWaitSet::Wake() {
    if (!IsOpen()) return;
    const char byte = 1;
    // A full pipe already holds a pending wake.
    ssize_t ignored = write(static_cast<int>(m_wakeWrite), &byte, 1);
    (void)ignored;
}

SocketError SocketWaitSet::WaitHandles(const std::intptr_t* handles, std::size_t count, std::uint32_t timeoutMs,
                                       bool* readable) {
    if (!IsOpen()) return SocketError::kClosed;
    pollfd entries[kMaxSockets + 1] = {};
    for (std::size_t i = 0; i < count; ++i) {
        readable[i] = false;
        entries[i].fd = static_cast<int>(handles[i]);
        entries[i].events = POLLIN;
    }
    entries[count].fd = static_cast<int>(m_wakeRead);
    entries[count].events = POLLIN;
    const int timeout = timeoutMs > 0x7FFFFFFF ? -1 : static_cast<int>(timeoutMs);
    const int result = poll(entries, nfds_t(count + 1), timeout);
    if (result < 0) return LastSocketError();
    if (result == 0) return SocketError::kTimedOut;
    if (entries[count].revents != 0) {
        char drain[64];
        while (read(static_cast<int>(m_wakeRead), drain, sizeof drain) > 0) {
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (entries[i].revents & POLLNVAL) return SocketError::kClosed;
        // POLLERR (a pending ICMP report or a reset) and POLLHUP (shut down) are read by the receive.
        readable[i] = entries[i].revents != 0;
    }
    return SocketError::kNone;
}

}  // namespace kestrel::platform
