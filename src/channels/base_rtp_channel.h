// A channel that receives its video as RTP over UDP. The worker connects in steps (configure the
// camera, log in to its web API, create the session objects, bind the media port, open the
// session), keeps the session alive, watches the time since the last frame and reconnects when
// frames stop. The receive thread hands each packet of the session's own stream (see
// CRTPSourceFilter) to the depacketiser and counts every other datagram as foreign.
//
// Threading: the worker owns the receiver and the session objects. The receive thread calls
// OnRTPPacket and, through the depacketiser, OnFrame; that path takes no lock of the channel
// besides the state and time locks once per delivered frame. InterruptSession may come from a
// host thread that stops the channel.
#ifndef QUILLON_CHANNELS_BASE_RTP_CHANNEL_H
#define QUILLON_CHANNELS_BASE_RTP_CHANNEL_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "channels/base_camera_channel.h"
#include "media/rtp_receiver.h"
#include "platform/host_resolver.h"
#include "media/rtp_source_filter.h"
#include "runtime/frame_record.h"

namespace kestrel {

class CBaseRTPChannel : public CBaseCameraChannel, public IRTPReceiverUser, public IMediaParserClient {
public:
    // The local ports the media port is chosen from, lowest first.
    static constexpr std::uint16_t kFirstMediaPort = 3556;
    static constexpr std::uint16_t kLastMediaPort = 4555;
    // How long a candidate port must stay free of a stream before it is taken. Short, because it
    // delays every first frame, and enough: a stream still running to the port from an earlier
    // session sends each picture as soon as it is made, and two of its packets in sequence mark
    // it, so one at 5 frames per second or more shows within the wait. One that slips through
    // (slower, or paused) still never reaches the host: the SETUP answer names the session's SSRC
    // and source port, and the source filter drops every other source; where the camera names no
    // SSRC, the SSRCs seen during the wait are never latched.
    static constexpr std::uint32_t kStrayPacketWaitMs = 200;
    // Ports passed over for a stream found running there, at most, per connection attempt.
    static constexpr std::uint32_t kMaxBusyPorts = 4;

    CBaseRTPChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink,
                    std::uint32_t keepAliveInterval);

    // IRTPReceiverUser, on the receive thread.
    std::int32_t OnRTPPacket(CRTPReceiver* receiver, const platform::Ipv4Endpoint& fromAddress,
                             const RTPPacket& packet) override;
    void OnIdle() override {}
    void OnReceiverClosed(CRTPReceiver*) override {}

    // IMediaParserClient, on the receive thread.
    bool OnFrame(ipcapture::IVideoFrame* frame, std::uint32_t width, std::uint32_t height) override {
        return DeliverFrame(frame, width, height);
    }
    std::pair<std::uint32_t, std::uint32_t> GetPictureSize() override { return GetStartPictureSize(); }

protected:
    std::uint32_t Run() override;
    void PrepareWorker() override;
    void OnStopRequested() override;
    void OnStopOverdue() override { InterruptSession(); }
    std::string CameraAddressText() const override;
    bool ReceivesRtp() const override { return true; }

    virtual void KeepAlive();
    virtual bool CreateSession() { return true; }
    virtual void CloseSession() {}
    virtual bool OpenSession() { return true; }
    virtual bool BindMediaPort();
    virtual bool ConfigureCamera() = 0;
    virtual void SendKeepAlive() = 0;
    virtual bool Login() = 0;
    virtual void Logout() = 0;
    virtual void OnMediaPacket(const RTPPacket& packet) = 0;
    // Cuts short every exchange with the camera in progress and every later one until the next
    // start; from any thread.
    virtual void InterruptSession() {}
    // Undoes InterruptSession before the worker starts again.
    virtual void ResumeSession() {}

    // Tries the candidate ports from kFirstMediaPort in steps of `step` up to `lastPort`; a port
    // is kept when no stream from the camera reaches it within the stray-packet wait (or
    // kMaxBusyPorts ports were already passed over) and `accept` agrees. False when the stop
    // event is set or no port is left.
    bool SearchMediaPort(std::uint16_t step, std::uint16_t lastPort,
                         const std::function<bool(std::uint16_t)>& accept);

    // Milliseconds since the last keep-alive, which is then counted from now when `interval`
    // has passed; true in that case.
    bool IsKeepAliveDue(std::uint32_t interval);

    // The session has named its stream (or left it open): its packets are taken from now on.
    void ExpectStream(const RTPSourceExpectation& expected) { m_sourceFilter.Open(expected); }
    // The packet path for packets that come another way than through the receiver's port
    // (inside the RTSP connection): the same source rules, counters and depacketiser. On the
    // one thread that receives them.
    void TakePacket(const platform::Ipv4Endpoint& fromAddress, const RTPPacket& packet);
    // A packet of the camera's has arrived since the connection began, taken or on probation.
    bool CameraPacketSeen() const { return m_cameraPacketSeen.load(); }
    // Tears the connection down and makes a new one at once (on the worker).
    bool Connect();

    std::uint16_t GetRtpPort() const { return m_rtpPort; }
    // The camera's IPv4 address (host order) as resolved for the current connection.
    std::uint32_t GetCameraAddress() const { return m_cameraAddress.load(); }
    CRTPReceiver* GetReceiver() { return m_receiver.get(); }

private:
    bool ConnectSteps();
    void Teardown();
    void SuperviseFrames();

    const std::uint32_t m_keepAliveInterval;
    std::uint64_t m_lastKeepAliveMs = 0;  // monotonic; 0 until the first keep-alive
    std::uint16_t m_rtpPort = 0;
    std::unique_ptr<CRTPReceiver> m_receiver;
    CEvent m_packetEvent{false, false};  // a stream reached the candidate port
    CRTPSourceFilter m_sourceFilter;
    std::atomic<bool> m_connecting{false};
    std::atomic<bool> m_cameraPacketSeen{false};
    std::atomic<std::uint32_t> m_cameraAddress{0};
    platform::HostResolver m_resolver;  // the worker's
    // Receive thread only (each connection's thread starts after the worker reset them).
    bool m_haveSequence = false;
    std::uint16_t m_lastSequence = 0;
};

}  // namespace kestrel

#endif
