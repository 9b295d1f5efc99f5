// The RTP channel whose session is set up over RTSP: OPTIONS, DESCRIBE, SETUP and PLAY to open
// it, OPTIONS every half session time-out to keep it, TEARDOWN to close it, and an RTCP
// responder on the port above the RTP port for the camera's reports, served by the RTP port's
// receive thread: a session has two threads, the worker and that one.
#ifndef QUILLON_CHANNELS_BASE_RTSP_CHANNEL_H
#define QUILLON_CHANNELS_BASE_RTSP_CHANNEL_H

#include <memory>
#include <mutex>

#include "channels/base_rtp_channel.h"
#include "media/rtcp_responder.h"
#include "rtsp/rtsp_client.h"

namespace kestrel {

class CBaseRTSPChannel : public CBaseRTPChannel {
public:
    // The last even port an RTP port may have, with its RTCP port above it.
    static constexpr std::uint16_t kLastRtpPort = 4554;

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

    // True when the interruption of a stop is in force; objects created from now on are cut
    // short at once. Call with m_interruptLock held.
    bool IsInterrupted() const { return m_interrupted; }
    std::mutex m_interruptLock;  // guards m_interrupted and the pointers a stop reaches

private:
    // One request whose answer must be a success; records the failure otherwise.
    bool Request(RTSPMethod method, const char* name);

    bool m_interrupted = false;
    std::unique_ptr<CBaseRTSPClient> m_client;  // replaced under m_interruptLock
    std::unique_ptr<CRTCPResponder> m_rtcp;
    std::uint16_t m_rtcpPort = 0;
};

}  // namespace kestrel

#endif
