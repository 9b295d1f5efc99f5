#include "platform/tcp_socket.h"

#include <utility>

namespace kestrel::platform {

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : m_handle(std::exchange(other.m_handle, kInvalidSocket)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, kInvalidSocket);
    }
    return *this;
}

TcpListener::~TcpListener() { Close(); }

}  // namespace kestrel::platform
