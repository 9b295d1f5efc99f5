// The base of every channel: the worker thread and its stop event, the socket library for the
// channel, the state code and the time of the last frame, the start parameters, the camera's
// online/offline reports and the frame callback the producers end in.
//
// Threading: the capture object calls Start and Stop on host threads; RequestStop, Restart,
// GetState and GetStatusText come from any thread, the channel's own included. The worker runs
// Run, once per connection cycle: a restart ends the current Run (its teardown included) and the
// worker begins the next with the new parameters, so no thread ever waits for itself. The
// receive thread (RTP) or the worker (HTTP) delivers frames. Stop is bounded: it waits up to the
// operation time-out for the worker to finish its teardown, then has the derived class cut short
// whatever the worker still waits on, and joins. No thread is killed, and once Stop returns
// nothing calls the channel, the sink or the driver any more. m_lifeLock orders the stop and
// restart requests against the worker's change to its next cycle.
#ifndef QUILLON_CHANNELS_BASE_CAMERA_CHANNEL_H
#define QUILLON_CHANNELS_BASE_CAMERA_CHANNEL_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "channels/camera_channel.h"
#include "channels/channel_status.h"
#include "channels/metered_driver.h"
#include "runtime/driver_interface.h"
#include "runtime/event.h"
#include "runtime/simple_thread.h"
#include "runtime/spin_mutex.h"

namespace kestrel {

class CBaseCameraChannel : public ICameraChannel {
public:
    // `driver` and `sink` (which may be null) must outlive the channel.
    CBaseCameraChannel(std::uint32_t channel, IDriver* driver, ipcapture::IChannelSink* sink);
    // The most derived class stops the channel in its own destructor, while it is whole.
    ~CBaseCameraChannel() override;
    CBaseCameraChannel(const CBaseCameraChannel&) = delete;
    CBaseCameraChannel& operator=(const CBaseCameraChannel&) = delete;

    bool Start(const ipcapture::CHANNEL_PARAMS* params) override;
    void Stop() override;
    void RequestStop() override;
    bool HasEnded() override;
    bool Restart(const ipcapture::CHANNEL_PARAMS* params) override;
    std::uint32_t GetState() override;
    void SetState(std::uint32_t state) override;
    std::string GetStatusText() override;

protected:
    // The worker thread's body; returns when the stop event is set.
    virtual std::uint32_t Run() = 0;
    // Called before each connection cycle of the worker, while no cycle runs (m_lifeLock held):
    // undo what the last stop or restart cut short.
    virtual void PrepareWorker() {}
    // Called on the stopping or restarting thread once the stop event is set (m_lifeLock held):
    // cut short a connection attempt in progress. Must not call the host.
    virtual void OnStopRequested() {}
    // Called when the worker has not ended within the operation time-out after the stop event:
    // cut short everything it may still wait on, its teardown included.
    virtual void OnStopOverdue() {}
    // For the status line.
    virtual const char* CodecName() const = 0;
    virtual bool ReceivesRtp() const { return false; }
    // Why the RTP comes inside the RTSP connection; empty when it does not. Any thread.
    virtual std::string InterleavedReason() const { return {}; }
    // The camera's address as the channel reaches it.
    virtual std::string CameraAddressText() const;

    // Reports the camera online or offline, once per change.
    void SetCameraState(bool online);
    // The frame callback of every producer: true if the host accepted the frame, a picture of
    // `width` x `height`.
    bool DeliverFrame(ipcapture::IVideoFrame* frame, std::uint32_t width, std::uint32_t height);
    void NotifySignalLost();

    // The time of the last frame, also touched by each new connection: what the reconnection
    // is judged by.
    void TouchLastFrameTime();
    std::uint32_t MillisecondsSinceLastFrame();
    // Since the last frame delivered (or the worker's start), whatever connections were made
    // meanwhile: what a lost signal is judged by.
    std::uint32_t MillisecondsSinceLastDelivery() const;
    void RestartDeliveryClock();
    // More than the frame time-out has passed since the last frame.
    bool IsFrameTimedOut();

    bool IsStopSet() const { return m_stopEvent.IsSet(); }
    // True when the stop event is set within the time.
    bool WaitForStop(std::uint32_t milliseconds) { return m_stopEvent.Wait(milliseconds); }

    // The start parameters. Only the worker changes them while it runs (the JPEG adjustment);
    // the picture size is also read on the receive thread, hence atomics.
    ipcapture::CHANNEL_PARAMS GetStartParams() const;
    void SetStartParams(const ipcapture::CHANNEL_PARAMS& params);
    std::pair<std::uint32_t, std::uint32_t> GetStartPictureSize() const;

    const std::uint32_t m_channel;
    IDriver* const m_driver;
    CChannelStatus m_status;
    // The driver as the channel's frame producers get it: counts the buffers the pool lacks.
    CMeteredDriver m_producerDriver{m_driver, &m_status};

private:
    class CWorker final : public thread::CSimpleThread {
    public:
        explicit CWorker(CBaseCameraChannel& owner) : m_owner(owner) {}
        ~CWorker() override { WaitForExit(); }

    private:
        void Run() override { m_owner.RunCycles(); }
        CBaseCameraChannel& m_owner;
    };

    void RunCycles();
    // Takes a pending restart: the new parameters and a cleared stop event; false when the
    // worker is to end.
    bool BeginNextCycle();
    bool StartWorker();
    void StopWorker();
    std::string CameraName() const;

    ipcapture::IChannelSink* const m_sink;
    bool m_socketsStarted = false;
    std::mutex m_lifeLock;
    bool m_restartPending = false;             // guarded by m_lifeLock
    ipcapture::CHANNEL_PARAMS m_restartParams{};  // guarded by m_lifeLock
    std::atomic<bool> m_closed{false};         // stopped for good; written under m_lifeLock
    std::atomic<bool> m_workerHeld{false};     // a worker was started and not yet joined
    std::atomic<bool> m_startFailed{false};    // no worker could be created
    std::atomic<bool> m_online{false};
    CSpinMutex m_stateLock;
    std::uint32_t m_state = kChannelStopped;  // guarded by m_stateLock
    CSpinMutex m_timeLock;
    std::uint64_t m_lastFrameMs = 0;  // monotonic; guarded by m_timeLock
    std::atomic<std::uint64_t> m_lastDeliveryMs{0};  // monotonic
    std::atomic<std::uint32_t> m_frameInterval{0};
    std::atomic<std::uint32_t> m_quality{0};
    std::atomic<std::uint64_t> m_pictureSize{0};  // width in the high half, height in the low
    CEvent m_stopEvent{false, true};
    CWorker m_worker{*this};
};

}  // namespace kestrel

#endif
