#include "io/io_base.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/thread.h"

namespace kestrel {

using namespace ipcapture;

namespace {
constexpr const char kThreadName[] = "Digital Input thread";
constexpr const char kStart[] = "kestrel::CIOBase::Start";
}  // namespace

CIOBase::CIOBase(IDriver* driver, std::uint32_t tickPeriodMs)
    : CWorkItemThread(kDefaultMaxQueued, tickPeriodMs), m_driver(driver) {
    for (std::uint32_t port = 0; port < TrackedPortCounts().first; ++port) m_inputStates[port] = kNoState;
}

bool CIOBase::SetCallback(ICaptureIOCallback* callback) {
    if (!callback) return false;
    m_callback.store(callback);
    return true;
}

bool CIOBase::Start() {
    const bool onDriverThread = platform::IsOwnThread();
    std::unique_lock<std::recursive_mutex> guard(m_hostLock, std::defer_lock);
    if (!onDriverThread) guard.lock();
    if (IsStarted()) {
        // A second Start would ask the camera from this thread while the service thread does. A
        // thread held after a stop made inside a callback is joined first.
        if (!m_stopping.load() || onDriverThread) return false;
        FinishStop();
    }
    m_stopping.store(false);
    Poll();
    for (std::uint32_t port = 0; port < TrackedPortCounts().second; ++port) {
        if (m_stopping.load()) return false;  // a callback of this start stopped the service
        {
            std::lock_guard<std::mutex> guard(m_stateLock);
            m_outputStates[port] = kActiveState;
        }
        GuardedWrite(port, kActiveState);
    }
    if (m_stopping.load()) return false;
    if (CWorkItemThread::Start(kThreadName)) return true;
    m_driver->DebugMessage(1, "%s: no thread could be created for the digital I/O of %s (the process is out of "
                              "threads or address space)", kStart, m_driver->GetDeviceInfo().host.c_str());
    ResetStates();
    Disconnect();
    return false;
}

bool CIOBase::Stop() {
    m_stopping.store(true);
    // A camera that hangs in a request would otherwise hold the stop for the whole time-out.
    AbortRequests();
    RequestExit();
    ResetStates();
    if (platform::IsOwnThread()) return true;
    std::lock_guard<std::recursive_mutex> guard(m_hostLock);
    FinishStop();
    return true;
}

void CIOBase::FinishStop() {
    CWorkItemThread::Stop();
    ResumeRequests();
    ResetStates();
    Disconnect();
}

std::pair<std::uint32_t, std::uint32_t> CIOBase::TrackedPortCounts() {
    const auto counts = m_driver->GetIOPortCounts();
    return {std::min(counts.first, kMaxPorts), std::min(counts.second, kMaxPorts)};
}

std::uint32_t CIOBase::GetInputCount() {
    return m_driver->GetIOPortCounts().first;
}

std::uint32_t CIOBase::GetOutputCount() {
    return m_driver->GetIOPortCounts().second;
}

bool CIOBase::SetOutput(std::uint32_t port, std::uint32_t state) {
    if (state != kActiveState && state != kInactiveState) return false;
    std::unique_ptr<CWorkItem> item(new (std::nothrow) CWorkItem(port, state));
    if (!item || !AddWorkItem(item.get(), false)) return false;
    item.release();  // the queue owns it now
    return true;
}

void CIOBase::OnTick() {
    Poll();
}

void CIOBase::Poll() {
    if (!ReadInputs(TrackedPortCounts().first)) Fail();
}

void CIOBase::ProcessWorkItem(IWorkItem* item) {
    const auto* request = static_cast<CWorkItem*>(item);
    {
        std::lock_guard<std::mutex> guard(m_stateLock);
        const auto found = m_outputStates.find(request->GetPort());
        if (found == m_outputStates.end() || found->second == request->GetState()) return;
        found->second = request->GetState();
    }
    GuardedWrite(request->GetPort(), request->GetState());
}

void CIOBase::GuardedWrite(std::uint32_t port, std::uint32_t state) {
    if (!WriteOutput(port, state)) Fail();
}

void CIOBase::ApplyInputState(std::uint32_t port, std::uint32_t state) {
    {
        std::lock_guard<std::mutex> guard(m_stateLock);
        const auto found = m_inputStates.find(port);
        if (found == m_inputStates.end() || found->second == state) return;
        found->second = state;
    }
    ICaptureIOCallback* callback = m_callback.load();
    if (callback && !m_stopping.load()) callback->OnInputStateChanged(port, state);
}

void CIOBase::Fail() {
    ResetStates();
    ICaptureIOCallback* callback = m_callback.load();
    // A request broken off by Stop is no camera failure.
    if (callback && !m_stopping.load()) callback->OnIOFailure();
}

void CIOBase::ResetStates() {
    const auto counts = TrackedPortCounts();
    std::lock_guard<std::mutex> guard(m_stateLock);
    m_inputStates.clear();
    m_outputStates.clear();
    for (std::uint32_t port = 0; port < counts.second; ++port) m_outputStates[port] = kNoState;
    for (std::uint32_t port = 0; port < counts.first; ++port) m_inputStates[port] = kNoState;
}

}  // namespace kestrel
