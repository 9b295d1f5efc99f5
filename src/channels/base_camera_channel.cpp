#include "channels/base_camera_channel.h"

#include <cctype>

#include "platform/clock.h"
#include "platform/sockets.h"

namespace kestrel {

using namespace ipcapture;

namespace {
constexpr std::uint32_t kLockSpinCount = 4000;
constexpr const char kSetCameraState[] = "kestrel::CBaseCameraChannel::SetCameraState";
}  // namespace

CBaseCameraChannel::CBaseCameraChannel(std::uint32_t channel, IDriver* driver, IChannelSink* sink)
    : m_channel(channel), m_driver(driver), m_sink(sink), m_stateLock(kLockSpinCount), m_timeLock(kLockSpinCount) {}

CBaseCameraChannel::~CBaseCameraChannel() { Stop(); }

bool CBaseCameraChannel::Start(const CHANNEL_PARAMS* params) {
    if (!params) return false;
    SetStartParams(*params);
    if (!m_socketsStarted) m_socketsStarted = platform::SocketsStartup();
    if (StartWorker()) return true;
    if (m_socketsStarted) platform::SocketsCleanup();
    m_socketsStarted = false;
    return false;
}

void CBaseCameraChannel::Stop() {
    RequestStop();
    StopWorker();
    // A frame that was under way when the stop came may have reported the camera online.
    SetCameraState(false);
    if (m_socketsStarted) platform::SocketsCleanup();
    m_socketsStarted = false;
}

void CBaseCameraChannel::RequestStop() {
    {
        std::lock_guard<std::mutex> guard(m_lifeLock);
        // Set first: a frame still under way must not report the camera online again.
        m_closed.store(true);
        m_restartPending = false;
        m_stopEvent.Set();
        if (m_workerHeld.load()) OnStopRequested();
    }
    SetState(kChannelStopped);
    SetCameraState(false);
}

// The worker's teardown joins the receive thread, so its end is the channel's.
bool CBaseCameraChannel::HasEnded() { return m_closed.load() && (!m_worker.IsStarted() || m_worker.HasEnded()); }

bool CBaseCameraChannel::Restart(const CHANNEL_PARAMS* params) {
    std::lock_guard<std::mutex> guard(m_lifeLock);
    if (m_closed.load() || !m_workerHeld.load()) return false;
    CHANNEL_PARAMS changed = m_restartPending ? m_restartParams : GetStartParams();
    if (params) {
        changed.frameInterval = params->frameInterval;
        changed.width = params->width;
        changed.height = params->height;
    }
    // Taken by the worker once its current cycle has torn down, so it never sees half of the
    // new parameters; a second restart before then only changes them.
    m_restartParams = changed;
    m_restartPending = true;
    SetState(kChannelStopped);
    m_stopEvent.Set();
    OnStopRequested();
    return true;
}

std::uint32_t CBaseCameraChannel::GetState() {
    CSpinMutexGuard guard(m_stateLock);
    return m_state;
}

void CBaseCameraChannel::SetState(std::uint32_t state) {
    CSpinMutexGuard guard(m_stateLock);
    m_state = state;
}

std::string CBaseCameraChannel::GetStatusText() {
    ChannelView view;
    view.state = GetState();
    view.running = m_workerHeld.load() && !IsStopSet();
    view.startFailed = m_startFailed.load();
    view.rtp = ReceivesRtp();
    view.codecName = CodecName();
    view.address = CameraAddressText();
    view.sinceFrameMs = MillisecondsSinceLastDelivery();
    view.tcpReason = InterleavedReason();
    return m_status.Describe(view);
}

std::string CBaseCameraChannel::CameraAddressText() const { return m_driver->GetDeviceInfo().host; }

bool CBaseCameraChannel::StartWorker() {
    std::lock_guard<std::mutex> guard(m_lifeLock);
    if (m_closed.load() || m_workerHeld.load()) return false;
    m_stopEvent.Reset();
    RestartDeliveryClock();
    PrepareWorker();
    m_workerHeld.store(m_worker.Start("Camera channel " + std::to_string(m_channel)));
    if (!m_workerHeld.load()) {
        m_status.SetFailure(DescribeThreadFailure("the channel's worker thread"));
        m_startFailed.store(true);
    }
    return m_workerHeld.load();
}

void CBaseCameraChannel::StopWorker() {
    if (!m_worker.IsStarted()) return;
    if (!m_worker.WaitForExit(m_driver->GetDeviceInfo().operationTimeout)) {
        OnStopOverdue();
        m_worker.WaitForExit();
    }
    m_workerHeld.store(m_worker.IsStarted());
}

void CBaseCameraChannel::RunCycles() {
    do {
        Run();
    } while (BeginNextCycle());
}

bool CBaseCameraChannel::BeginNextCycle() {
    std::lock_guard<std::mutex> guard(m_lifeLock);
    if (m_closed.load() || !m_restartPending) return false;
    m_restartPending = false;
    SetStartParams(m_restartParams);
    m_stopEvent.Reset();
    PrepareWorker();
    return true;
}

std::string CBaseCameraChannel::CameraName() const {
    const std::string host = m_driver->GetDeviceInfo().host;
    if (m_driver->GetChannelCount() > 1) {
        return "Video-server " + host + " (channel " + std::to_string(m_channel) + ")";
    }
    return "Camera " + host;
}

void CBaseCameraChannel::SetCameraState(bool online) {
    if (m_online.exchange(online) == online) return;
    std::string name = CameraName();
    if (online) {
        m_driver->DebugMessage(2, "%s: %s is online", kSetCameraState, name.c_str());
        return;
    }
    switch (GetState()) {
        case kChannelStopped:
            m_driver->DebugMessage(2, "%s: %s is offline. Channel was stopped", kSetCameraState, name.c_str());
            break;
        case kChannelNoFrames:
            name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
            m_driver->DebugMessage(1, "%s: Signal was lost for %s", kSetCameraState, name.c_str());
            break;
        default:
            m_driver->DebugMessage(1, "%s: %s is offline or failed", kSetCameraState, name.c_str());
            break;
    }
}

bool CBaseCameraChannel::DeliverFrame(IVideoFrame* frame, std::uint32_t width, std::uint32_t height) {
    if (!m_sink || m_closed.load()) return false;
    if (!m_sink->DeliverFrame(frame)) {
        m_status.CountRefused();
        return false;
    }
    m_status.CountFrame(width, height);
    RestartDeliveryClock();
    TouchLastFrameTime();
    if (!IsStopSet()) SetCameraState(true);
    return true;
}

void CBaseCameraChannel::NotifySignalLost() {
    if (m_sink && !m_closed.load()) m_sink->OnSignalLost();
}

void CBaseCameraChannel::TouchLastFrameTime() {
    CSpinMutexGuard guard(m_timeLock);
    m_lastFrameMs = platform::MonotonicMilliseconds();
}

std::uint32_t CBaseCameraChannel::MillisecondsSinceLastFrame() {
    CSpinMutexGuard guard(m_timeLock);
    // Never touched: as old as can be, so the first test counts as timed out.
    if (m_lastFrameMs == 0) return 0xFFFFFFFFu;
    const std::uint64_t elapsed = platform::MonotonicMilliseconds() - m_lastFrameMs;
    return elapsed > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(elapsed);
}

std::uint32_t CBaseCameraChannel::MillisecondsSinceLastDelivery() const {
    const std::uint64_t elapsed = platform::MonotonicMilliseconds() - m_lastDeliveryMs.load();
    return elapsed > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(elapsed);
}

void CBaseCameraChannel::RestartDeliveryClock() { m_lastDeliveryMs.store(platform::MonotonicMilliseconds()); }

bool CBaseCameraChannel::IsFrameTimedOut() {
    return MillisecondsSinceLastFrame() > m_driver->GetDeviceInfo().frameTimeout;
}

CHANNEL_PARAMS CBaseCameraChannel::GetStartParams() const {
    const auto [width, height] = GetStartPictureSize();
    return CHANNEL_PARAMS{m_frameInterval.load(), m_quality.load(), width, height};
}

void CBaseCameraChannel::SetStartParams(const CHANNEL_PARAMS& params) {
    m_frameInterval.store(params.frameInterval);
    m_quality.store(params.quality);
    m_pictureSize.store(std::uint64_t(params.width) << 32 | params.height);
}

std::pair<std::uint32_t, std::uint32_t> CBaseCameraChannel::GetStartPictureSize() const {
    const std::uint64_t size = m_pictureSize.load();
    return {std::uint32_t(size >> 32), std::uint32_t(size)};
}

}  // namespace kestrel
