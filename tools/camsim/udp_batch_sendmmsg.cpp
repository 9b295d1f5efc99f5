// Batched sends with sendmmsg: one system call for up to kBatch datagrams.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "camsim/net.h"

namespace camsim {

std::size_t SendBatchOn(int fd, const std::vector<Datagram>& batch) {
    constexpr std::size_t kBatch = 64;
    std::size_t done = 0;
    while (done < batch.size()) {
        mmsghdr messages[kBatch] = {};
        iovec parts[kBatch][2];
        sockaddr_in addresses[kBatch] = {};
        std::size_t count = 0;
        for (; count < kBatch && done + count < batch.size(); ++count) {
            const Datagram& datagram = batch[done + count];
            parts[count][0] = {const_cast<std::uint8_t*>(datagram.header), datagram.headerSize};
            parts[count][1] = {const_cast<std::uint8_t*>(datagram.payload), datagram.payloadSize};
            addresses[count].sin_family = AF_INET;
            addresses[count].sin_addr.s_addr = htonl(datagram.to.address);
            addresses[count].sin_port = htons(datagram.to.port);
            messages[count].msg_hdr.msg_iov = parts[count];
            messages[count].msg_hdr.msg_iovlen = 2;
            messages[count].msg_hdr.msg_name = &addresses[count];
            messages[count].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        }
        int sent = sendmmsg(fd, messages, static_cast<unsigned>(count), 0);
        if (sent < 0 && errno == EINTR) continue;
        // A full send buffer drops the rest of this batch, as a camera's would.
        if (sent <= 0) return done;
        done += static_cast<std::size_t>(sent);
    }
    return done;
}

}  // namespace camsim
