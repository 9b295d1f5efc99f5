#include "platform/socket_error.h"

namespace kestrel::platform {

const char* SocketErrorName(SocketError error) {
    switch (error) {
    case SocketError::kNone: return "none";
    case SocketError::kWouldBlock: return "would block";
    case SocketError::kTimedOut: return "timed out";
    case SocketError::kConnectionRefused: return "connection refused";
    case SocketError::kConnectionReset: return "connection reset";
    case SocketError::kClosed: return "closed";
    case SocketError::kHostNotFound: return "host not found";
    case SocketError::kAddressInUse: return "address in use";
    case SocketError::kMessageTruncated: return "message truncated";
    case SocketError::kInterrupted: return "interrupted";
    case SocketError::kOther: break;
    }
    return "other";
}

}  // namespace kestrel::platform
