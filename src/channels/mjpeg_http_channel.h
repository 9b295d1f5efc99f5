// The channels that take their video as one long HTTP answer: CBaseHttpChannel reads the body
// block by block into its stream parser and supervises the frames; CMjpegHttpChannel sets the
// camera's first stream to MJPEG through the web API and asks for "/img/video.mjpeg".
//
// Threading: everything runs on the worker, frames included; a stop from a host thread aborts
// the streaming request so that a stalled body does not hold it up.
#ifndef QUILLON_CHANNELS_MJPEG_HTTP_CHANNEL_H
#define QUILLON_CHANNELS_MJPEG_HTTP_CHANNEL_H

#include <cstdint>
#include <memory>

#include "channels/base_camera_channel.h"
#include "media/http_media_parser.h"
#include "webapi/cisco_client.h"
#include "webapi/http_sender.h"

namespace kestrel {

class CBaseHttpChannel : public CBaseCameraChannel, public IMediaReceiver {
public:
    enum MediaKind : std::uint32_t { kMediaJpeg = 0, kMediaMpeg = 1 };
    // How long the worker waits before it tries a camera again whose frames have stopped.
    static constexpr std::uint32_t kRetryAfterTimeoutMs = 5000;

    CBaseHttpChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink, std::uint32_t mediaKind);

    // IMediaReceiver, on the worker.
    bool OnFrame(ipcapture::IVideoFrame* frame, std::uint32_t width, std::uint32_t height) override {
        return DeliverFrame(frame, width, height);
    }

protected:
    std::uint32_t Run() override;
    void PrepareWorker() override;
    void OnStopRequested() override;
    void OnStopOverdue() override;

    // Makes the camera stream and starts the streaming request on the channel's sender.
    virtual bool OpenStream() = 0;
    // Ends what OpenStream set up on the camera.
    virtual void CloseStream() = 0;
    // Cuts short the camera-side requests of a stop that is overdue, and undoes that.
    virtual void AbortCameraRequests() {}
    virtual void ResumeCameraRequests() {}

    Web::CHttpSender m_sender;

private:
    // True when the stop event ended the reading.
    bool ReadStream();

    std::unique_ptr<CHttpMediaParser> m_parser;
};

class CMjpegHttpChannel final : public CBaseHttpChannel {
public:
    CMjpegHttpChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink);
    ~CMjpegHttpChannel() override { Stop(); }

private:
    bool OpenStream() override;
    void CloseStream() override { m_client.Disconnect(); }
    void AbortCameraRequests() override { m_client.Abort(); }
    void ResumeCameraRequests() override { m_client.ResetAbort(); }
    const char* CodecName() const override { return "JPEG"; }

    CCiscoClient m_client;
};

}  // namespace kestrel

#endif
