// The Cisco camera's RTSP channels. Before each connection the channel rewrites the camera's
// streaming settings (through a short web API session of its own) so that its stream carries
// the codec, size, rate and quality the host asked for; during the connection it holds a web
// API session, whose identifier the RTSP URL carries. The leaf classes differ in codec, stream
// and depacketiser.
#ifndef QUILLON_CHANNELS_COMMON_RTSP_CHANNEL_H
#define QUILLON_CHANNELS_COMMON_RTSP_CHANNEL_H

#include <cstdint>
#include <string>

#include "channels/base_rtsp_channel.h"
#include "channels/streaming_adaptation.h"
#include "media/h264_rtp_media_parser.h"
#include "media/jpeg_rtp_media_parser.h"
#include "media/mpeg4_rtp_media_parser.h"
#include "webapi/cisco_client.h"

namespace kestrel {

class CCommonRtspChannel : public CBaseRTSPChannel {
public:
    // Each request of the temporary web API client that configures the camera may take this long.
    static constexpr std::uint32_t kConfigureTimeoutMs = 6000;

protected:
    CCommonRtspChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink,
                       std::uint32_t codec, std::uint32_t streamNumber, const char* streamName);

    bool ConfigureCamera() override;
    bool Login() override;
    void Logout() override;
    void FillSessionSettings(RTSPConnectSettings& settings) override;
    void InterruptSession() override;
    void ResumeSession() override;
    const char* CodecName() const override;

private:
    bool ConfigureWith(CCiscoClient& client);
    void ReportUnusableRtspPort();

    CCiscoClient m_webClient;
    CCiscoClient* m_configClient = nullptr;  // while ConfigureCamera runs; under m_interruptLock
    StreamRequest m_stream;                  // the worker's; the camera's names and port follow
    std::string m_reportedRtspPort;          // the worker's: the unusable port last reported
};

class CH264RtspChannel final : public CCommonRtspChannel {
public:
    CH264RtspChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink);
    ~CH264RtspChannel() override { Stop(); }

private:
    void OnMediaPacket(const RTPPacket& packet) override { m_parser.ProcessPacket(packet); }
    CH264RTPMediaParser m_parser;
};

class CMpegRtspChannel final : public CCommonRtspChannel {
public:
    CMpegRtspChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink);
    ~CMpegRtspChannel() override { Stop(); }

private:
    void OnMediaPacket(const RTPPacket& packet) override { m_parser.ProcessPacket(packet); }
    CMpeg4RTPMediaParser m_parser;
};

class CJpegRtspChannel final : public CCommonRtspChannel {
public:
    CJpegRtspChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink);
    ~CJpegRtspChannel() override { Stop(); }

private:
    void OnMediaPacket(const RTPPacket& packet) override { m_parser.ProcessPacket(packet); }
    CJpegRTPMediaParser m_parser;
};

}  // namespace kestrel

#endif
