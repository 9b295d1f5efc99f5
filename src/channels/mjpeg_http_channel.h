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
    // How long the worker waits before it tries the camera again after a pass that delivered no
    // frame or ended in a frame time-out.
    static constexpr std::uint32_t kRetryAfterTimeoutMs = 5000;

    CBaseHttpChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink, std::uint32_t mediaKind);

    // IMediaReceiver, on the worker.
    bool OnFrame(ipcapture::IVideoFrame* frame, std::uint32_t width, std::uint32_t height) override;

protected:
    std::uint32_t Run() override;
    void PrepareWorker() override;
    void OnStopRequested() override;
    void OnStopOverdue() override;

    // Makes the camera stream and starts the streaming request on the channel's sender; true
    // when the camera answers it with a stream.
    virtual bool OpenStream() = 0;
    // Ends what OpenStream set up on the camera.
    virtual void CloseStream() = 0;
    // Cuts short the camera-side requests of a stop that is overdue, and undoes that.
    virtual void AbortCameraRequests() {}
    virtual void ResumeCameraRequests() {}

    Web::CHttpSender m_sender;

private:
    // Reads until the stream ends, the frames stop or the channel stops.
    void ReadStream();
    // After a pass: state 2 and a lost signal once the last frame delivered is older than the
    // frame time-out. True when the frames had stopped.
    bool SuperviseFrames();

    std::unique_ptr<CHttpMediaParser> m_parser;
    std::uint64_t m_framesDelivered = 0;  // the worker's
};

class CMjpegHttpChannel final : public CBaseHttpChannel {
public:
    CMjpegHttpChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink);
    ~CMjpegHttpChannel() override { Stop(); }

private:
    bool OpenStream() override;
    // True when the open request's answer is a multipart stream; else says why in the status.
    bool IsStreamAnswer();
    void CloseStream() override { m_client.Disconnect(); }
    void AbortCameraRequests() override { m_client.Abort(); }
    void ResumeCameraRequests() override { m_client.ResetAbort(); }
    const char* CodecName() const override { return "JPEG"; }

    CCiscoClient m_client;
};

}  // namespace kestrel

#endif
