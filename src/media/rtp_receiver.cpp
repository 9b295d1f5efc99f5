#include "media/rtp_receiver.h"

namespace kestrel {

CRTPReceiver::CRTPReceiver() {
    m_port.SetListener(this);
    // Room for the largest UDP datagram from the start: a smaller buffer loses every datagram
    // above it until it has grown, and cameras send key frames in large datagrams.
    m_port.SetBufferSize(CUDPPort::kMaxBufferSize);
}

CRTPReceiver::~CRTPReceiver() {
    m_port.Close();
    m_port.SetListener(nullptr);
}

std::int32_t CRTPReceiver::OnDatagram(CUDPPort* port, const platform::Ipv4Endpoint& fromAddress,
                                      const std::uint8_t* data, std::uint32_t length) {
    if (port != &m_port) return 0;
    RTPPacket packet;
    if (!ParseRTPPacket(data, length, packet)) return 0;
    IRTPReceiverUser* user = m_user.load();
    if (user == nullptr) return 1;
    return user->OnRTPPacket(this, fromAddress, packet);
}

void CRTPReceiver::OnIdle() {
    if (IRTPReceiverUser* user = m_user.load()) user->OnIdle();
}

void CRTPReceiver::OnPortClosed(CUDPPort* port) {
    if (port != &m_port) return;
    if (IRTPReceiverUser* user = m_user.load()) user->OnReceiverClosed(this);
}

}  // namespace kestrel
