// The module's one capability query: the host registers a callback, starts a query against a
// camera, and learns on the query's worker thread whether the results were written.
//
// Threading: the host calls the four operations from any of its threads; the worker thread calls
// the host's callback and results. m_hostLock serialises Start and Uninit, which own the worker
// thread; the worker never takes it. m_lock guards the fields below it and is never held while
// the worker talks to the camera or the host, nor while a host thread waits for the worker.
// Once Uninit has begun, the worker starts no call to the host (m_closing); a call already under
// way is waited for. Uninit from inside the callback (on the worker itself) cancels and forgets
// callback and results, and the worker, which holds its own copies, ends by itself; the next
// Start or Uninit on another thread joins it.
#ifndef QUILLON_PROPERTIES_CAPABILITY_QUERY_H
#define QUILLON_PROPERTIES_CAPABILITY_QUERY_H

#include <cstdint>
#include <memory>
#include <mutex>

#include "properties/cisco_camera_properties.h"
#include "runtime/simple_thread.h"

namespace kestrel {

class CCapabilityQuery final : private thread::CSimpleThread {
public:
    static constexpr std::uint32_t kQueryTimeoutMs = 3000;  // both time-outs of the query's camera record
    static constexpr std::uint32_t kWorkerWaitMs = 5000;    // Uninit's wait before aborting the camera request
    static constexpr const char* kCreateFailed = "Failed to create camera properties object";
    static constexpr const char* kQueryFailed = "Failed to get camera properties";
    static constexpr const char* kSaveFailed = "Failed to save capability query results";

    // The one query of the process, destroyed when the module unloads. Its destructor joins a
    // worker still held, so a host ends its query (Uninit) before it unloads the module.
    static CCapabilityQuery& Instance();

    // workerWaitMs: how long Uninit lets a running query go on before it aborts the request.
    explicit CCapabilityQuery(std::uint32_t workerWaitMs = kWorkerWaitMs) : m_workerWaitMs(workerWaitMs) {}
    ~CCapabilityQuery() override;

    // 0 when a callback is already registered (nothing changes); otherwise stores both, 1.
    std::uint32_t Init(ipcapture::ICapabilityQueryCallback* callback, bool videoStandard480);
    // 1 when the worker started. 0 while an earlier query still runs, from inside the callback
    // (its worker cannot be joined there), or without a thread.
    std::uint32_t Start(const char* address, std::uint16_t port, const char* user, const char* password,
                        ipcapture::ICapabilityResults* results);
    // Cancels the running query between its steps; 1.
    std::uint32_t Terminate();
    // Cancels, waits up to the worker wait for the worker, then aborts its camera request and joins
    // it; releases the query and forgets callback and results. No callback follows. 1.
    std::uint32_t Uninit();

private:
    void Run() override;
    // The callback and results for the worker, and the new properties object, under m_lock; null
    // callback when there is nothing to do.
    ipcapture::ICapabilityQueryCallback* BeginQuery(const DEVICE_INFO& record, CCiscoCameraProperties*& properties,
                                                    ipcapture::ICapabilityResults*& results);
    // Joins a finished worker (or one whose Uninit came from inside its callback) and drops its
    // properties, so a new query can start.
    bool ReleaseFinishedWorker();
    // Whether the worker may still call the host: not once Uninit has begun.
    bool MayCallHost();
    // Reports how the query ended, writing the results first when it succeeded.
    void Report(ipcapture::ICapabilityQueryCallback* callback, CCiscoCameraProperties* properties,
                ipcapture::ICapabilityResults* results);

    const std::uint32_t m_workerWaitMs;
    std::mutex m_hostLock;
    std::mutex m_lock;
    ipcapture::ICapabilityQueryCallback* m_callback = nullptr;
    std::uint32_t m_videoStandard = 0;
    ipcapture::ICapabilityResults* m_results = nullptr;
    std::unique_ptr<CCiscoCameraProperties> m_properties;
    DEVICE_INFO m_record;    // the running query's camera; written by Start before the worker exists
    bool m_running = false;  // a worker was started and has not finished
    bool m_aborted = false;  // Uninit gave up waiting: a query made from now on is aborted at once
    bool m_closing = false;  // Uninit has begun: the worker starts no call to the host
};

}  // namespace kestrel

#endif
