// Receives RTP over its own UDP port: every datagram that parses as RTP goes to the receiver's
// user as an RTPPacket pointing into the datagram.
//
// Threading: the user is called on the port's receive thread. SetUser may be called from any
// thread; clearing it before Close guarantees that no packet reaches the user afterwards, since
// Close joins the receive thread. Sequence order and loss are left to the user.
#ifndef QUILLON_MEDIA_RTP_RECEIVER_H
#define QUILLON_MEDIA_RTP_RECEIVER_H

#include <atomic>
#include <cstdint>

#include "media/rtp_packet.h"
#include "media/udp_port.h"

namespace kestrel {

class CRTPReceiver;

// Implemented by the RTP channel; not owned by the receiver.
class IRTPReceiverUser {
public:
    virtual ~IRTPReceiverUser() = default;
    // One valid RTP packet; `packet` and the bytes it points to live only during the call.
    virtual std::int32_t OnRTPPacket(CRTPReceiver* receiver, const platform::Ipv4Endpoint& fromAddress,
                                     const RTPPacket& packet) = 0;
    virtual void OnIdle() = 0;
    virtual void OnReceiverClosed(CRTPReceiver* receiver) = 0;
};

class CRTPReceiver : public IUDPPortUser {
public:
    CRTPReceiver();
    ~CRTPReceiver() override;  // closes the port first, while the receiver is still whole

    void SetUser(IRTPReceiverUser* user) { m_user.store(user); }
    IRTPReceiverUser* GetUser() const { return m_user.load(); }
    // The receiver's own port, opened and closed by the channel.
    CUDPPort& GetPort() { return m_port; }

    // IUDPPortUser, called by the port's receive thread.
    std::int32_t OnDatagram(CUDPPort* port, const platform::Ipv4Endpoint& fromAddress, const std::uint8_t* data,
                            std::uint32_t length) override;
    void OnIdle() override;
    void OnPortClosed(CUDPPort* port) override;

private:
    std::atomic<IRTPReceiverUser*> m_user{nullptr};
    CUDPPort m_port;
};

}  // namespace kestrel

#endif
