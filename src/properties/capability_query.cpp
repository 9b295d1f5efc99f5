#include "properties/capability_query.h"

#include <new>

namespace kestrel {

using namespace ipcapture;

namespace {
constexpr const char kThreadName[] = "Capability query thread";
}

CCapabilityQuery& CCapabilityQuery::Instance() {
    static CCapabilityQuery query;
    return query;
}

CCapabilityQuery::~CCapabilityQuery() {
    Uninit();
}

std::uint32_t CCapabilityQuery::Init(ICapabilityQueryCallback* callback, bool videoStandard480) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_callback) return 0;
    m_callback = callback;
    m_videoStandard = videoStandard480 ? CCiscoCameraProperties::kStandard480 : CCiscoCameraProperties::kStandard576;
    return 1;
}

std::uint32_t CCapabilityQuery::Start(const char* address, std::uint16_t port, const char* user,
                                      const char* password, ICapabilityResults* results) {
    // From inside the callback: the worker cannot wait for itself, and a host thread in Start or
    // Uninit may be waiting for it.
    if (IsCurrentThread()) return 0;
    std::lock_guard<std::mutex> hostGuard(m_hostLock);
    // Replacing a running query would lose its worker and its properties object.
    if (!ReleaseFinishedWorker()) return 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_results = results;
        m_aborted = false;
        m_closing = false;
        m_running = true;
    }
    m_record = DEVICE_INFO();
    m_record.operationTimeout = m_record.frameTimeout = kQueryTimeoutMs;
    m_record.host = address ? address : "";
    m_record.port = port;
    m_record.user = user ? user : "";
    m_record.password = password ? password : "";
    if (CSimpleThread::Start(kThreadName)) return 1;
    std::lock_guard<std::mutex> guard(m_lock);
    m_running = false;
    return 0;
}

bool CCapabilityQuery::ReleaseFinishedWorker() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_running && !m_closing) return false;
    }
    WaitForExit();
    std::lock_guard<std::mutex> guard(m_lock);
    m_properties.reset();
    return true;
}

std::uint32_t CCapabilityQuery::Terminate() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_properties) m_properties->Cancel();
    return 1;
}

std::uint32_t CCapabilityQuery::Uninit() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closing = true;
        if (m_properties) m_properties->Cancel();
        if (IsCurrentThread()) {
            // From the callback: the worker cannot wait for itself. It keeps its own copies, and
            // the registration is free for the next Init.
            m_callback = nullptr;
            m_results = nullptr;
            return 1;
        }
    }
    std::lock_guard<std::mutex> hostGuard(m_hostLock);
    if (IsStarted() && !WaitForExit(m_workerWaitMs)) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_aborted = true;
        if (m_properties) m_properties->Abort();
    }
    WaitForExit();
    std::unique_ptr<CCiscoCameraProperties> properties;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        properties = std::move(m_properties);
        m_callback = nullptr;
        m_results = nullptr;
        m_running = false;
    }
    // A query that failed to log in keeps its connection; its logout must not wait for the camera.
    if (properties) properties->Abort();
    return 1;
}

ICapabilityQueryCallback* CCapabilityQuery::BeginQuery(const DEVICE_INFO& record,
                                                       CCiscoCameraProperties*& properties,
                                                       ICapabilityResults*& results) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_callback) return nullptr;
    m_properties.reset(new (std::nothrow) CCiscoCameraProperties(record, m_videoStandard));
    if (m_properties && m_aborted) m_properties->Abort();
    properties = m_properties.get();
    results = m_results;
    return m_callback;
}

void CCapabilityQuery::Run() {
    CCiscoCameraProperties* properties = nullptr;
    ICapabilityResults* results = nullptr;
    ICapabilityQueryCallback* callback = BeginQuery(m_record, properties, results);
    if (callback) Report(callback, properties, results);
    std::lock_guard<std::mutex> guard(m_lock);
    m_running = false;
}

void CCapabilityQuery::Report(ICapabilityQueryCallback* callback, CCiscoCameraProperties* properties,
                              ICapabilityResults* results) {
    unsigned code = CCameraPropertiesEx::kQueryFailed;
    const bool queried = properties && properties->Query(&code);
    if (!MayCallHost()) return;
    if (!properties) {
        callback->OnQueryFailed(CCameraPropertiesEx::kQueryFailed, kCreateFailed);
    } else if (!queried) {
        callback->OnQueryFailed(code, kQueryFailed);
    } else if (!properties->Save(results)) {
        callback->OnQueryFailed(CCameraPropertiesEx::kQueryFailed, kSaveFailed);
    } else {
        callback->OnQueryCompleted();
    }
}

bool CCapabilityQuery::MayCallHost() {
    std::lock_guard<std::mutex> guard(m_lock);
    return !m_closing;
}

}  // namespace kestrel
