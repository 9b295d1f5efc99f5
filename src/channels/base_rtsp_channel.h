// The RTP channel whose session is set up over RTSP: OPTIONS, DESCRIBE, SETUP and PLAY to open
// it, OPTIONS every half session time-out to keep it, TEARDOWN to close it, and an RTCP
// responder on the port above the RTP port for the camera's reports, served by the RTP port's
// receive thread: a session has two threads, the worker and that one.
//
// RTP may instead come inside the RTSP connection (interleaved channels 0-1): when host
// parameter 2 asks for "tcp", or, with "auto", when the camera refuses UDP in its SETUP answer
// (461) or sends no packet within kUdpSilenceMs of PLAY. The channel object then remembers TCP
// and starts there at every later connection; a new channel object (the host starting the
// channel again) tries UDP first again. Over TCP a thread of the channel's own reads the
// connection: it hands RTP to the same packet path as the UDP port's thread, answers RTCP on
// the RTCP channel, and takes the keep-alives' answers; the worker only sends.
//
// Threading: the worker opens and closes sessions; the interleaved receive thread runs from
// PLAY to the start of the teardown, which joins it before TEARDOWN goes out. A stop that is
// overdue interrupts the client, which ends a blocked read or write on either thread.
#ifndef QUILLON_CHANNELS_BASE_RTSP_CHANNEL_H
#define QUILLON_CHANNELS_BASE_RTSP_CHANNEL_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "channels/base_rtp_channel.h"
#include "media/rtcp_responder.h"
#include "platform/thread.h"
#include "rtsp/rtsp_client.h"

namespace kestrel {

enum class RTSPTransportChoice { kAuto, kUdp, kTcp };

// Host parameter 2: "udp", "tcp" or "auto" in any letter case; anything else (or nothing) is
// auto.
RTSPTransportChoice ParseRTSPTransportChoice(const std::string& value);

class CBaseRTSPChannel : public CBaseRTPChannel, private IInterleavedSink {
public:
    // The last even port an RTP port may have, with its RTCP port above it.
    static constexpr std::uint16_t kLastRtpPort = 4554;
    static constexpr std::uint32_t kTransportParameter = 2;
    // How long a UDP session may stay without a packet from the camera after PLAY before it is
    // set up again over TCP. Seen at the worker's once-a-second pass, so 2 to 3 s: well under
    // the frame time-out, which would otherwise reconnect over UDP again.
    static constexpr std::uint32_t kUdpSilenceMs = 2000;

    CBaseRTSPChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink);

protected:
    virtual std::unique_ptr<CBaseRTSPClient> CreateRTSPClient();
    // Camera-specific settings: the server port and the request paths.
    virtual void FillSessionSettings(RTSPConnectSettings&) {}
    virtual void OnDescribed() {}

    void KeepAlive() override;
    bool CreateSession() override;
    void CloseSession() override;
    bool OpenSession() override;
    bool BindMediaPort() override;
    void SendKeepAlive() override;
    void InterruptSession() override;
    void ResumeSession() override;
    std::string InterleavedReason() const override;

    // True when the interruption of a stop is in force; objects created from now on are cut
    // short at once. Call with m_interruptLock held.
    bool IsInterrupted() const { return m_interrupted; }
    std::mutex m_interruptLock;  // guards m_interrupted and the pointers a stop reaches

private:
    // Why this channel object carries RTP over TCP.
    enum class TcpReason { kNone, kAsked, kUdpRefused, kNoUdp };

    // One request whose answer must be a success; records the failure otherwise.
    bool Request(RTSPMethod method, const char* name);
    // SETUP over the connection's transport; over UDP with "auto", a refusal of the transport
    // sets it up over TCP on the same connection.
    bool SetUpTransport();
    void CloseUdpMedia();
    bool StartInterleavedReceiver();
    void StopInterleavedReceiver();
    void ReceiveInterleaved();

    // IInterleavedSink, on the interleaved receive thread.
    void OnInterleavedFrame(std::uint8_t channel, const std::uint8_t* data, std::size_t length) override;
    void OnInterleavedResync() override;

    bool m_interrupted = false;
    std::unique_ptr<CBaseRTSPClient> m_client;  // replaced under m_interruptLock
    std::unique_ptr<CRTCPResponder> m_rtcp;
    std::uint16_t m_rtcpPort = 0;

    // The transport of the current connection, decided by the worker before it binds ports.
    RTSPTransportChoice m_choice = RTSPTransportChoice::kAuto;
    std::atomic<bool> m_interleaved{false};
    std::atomic<TcpReason> m_tcpReason{TcpReason::kNone};  // kept across connections
    std::uint64_t m_playMs = 0;  // monotonic; when the UDP session's PLAY was answered
    // Interleaved sessions: the channels the SETUP answer named, and the own RTCP identity.
    std::uint8_t m_rtpChannel = 0;
    std::uint8_t m_rtcpChannel = 1;
    std::uint32_t m_ownSsrc = 0;
    std::string m_cname;
    platform::Thread m_interleavedThread;
    std::atomic<bool> m_interleavedStop{false};
    std::atomic<bool> m_connectionLost{false};  // the receive thread saw the connection end
};

}  // namespace kestrel

#endif
