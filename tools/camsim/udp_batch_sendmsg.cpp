// Sends one datagram per system call where the platform has no sendmmsg.
#include <netinet/in.h>
#include <sys/socket.h>

#include "camsim/net.h"

namespace camsim {

std::size_t SendBatchOn(int fd, const std::vector<Datagram>& batch) {
    std::size_t done = 0;
    for (const Datagram& datagram : batch) {
        iovec parts[2] = {{const_cast<std::uint8_t*>(datagram.header), datagram.headerSize},
                          {const_cast<std::uint8_t*>(datagram.payload), datagram.payloadSize}};
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(datagram.to.address);
        address.sin_port = htons(datagram.to.port);
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        message.msg_name = &address;
        message.msg_namelen = sizeof address;
        if (sendmsg(fd, &message, 0) < 0) break;
        ++done;
    }
    return done;
}

}  // namespace camsim
