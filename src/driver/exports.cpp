// The module's exported functions: C linkage, cdecl, undecorated names.
#include <cstdint>
#include <mutex>
#include <vector>

#include "driver/quillon_driver.h"
#include "media/mpeg_header_reader.h"
#include "platform/thread.h"
#include "properties/capability_query.h"
#include "runtime/host_call.h"

using kestrel::CCapabilityQuery;
using kestrel::CQuillonDriver;
using kestrel::ipcapture::ICapabilityQueryCallback;
using kestrel::ipcapture::ICapabilityResults;
using kestrel::ipcapture::IIPCaptureDriver;
using kestrel::ipcapture::IIPCaptureDriverEx;

namespace {

// The driver objects alive, and those deleted from inside one of their callbacks: the thread
// that made the call may be one of theirs, and runs their code once the call returns, so they are
// destroyed by the next creation or deletion on a host thread. When the last driver is gone, no
// channel can read picture sizes any more and the size reader's library is unloaded.
std::mutex g_driversLock;
std::uint32_t g_driverCount = 0;                // guarded by g_driversLock
std::vector<IIPCaptureDriver*> g_deferredDrivers;  // guarded by g_driversLock

void DestroyDriver(IIPCaptureDriver* driver) {
    driver->Destroy(1);
    std::lock_guard<std::mutex> guard(g_driversLock);
    if (--g_driverCount == 0) kestrel::CMpegHeaderReader::ReleaseShared();
}

void DestroyDeferredDrivers() {
    std::vector<IIPCaptureDriver*> deferred;
    {
        std::lock_guard<std::mutex> guard(g_driversLock);
        deferred.swap(g_deferredDrivers);
    }
    for (IIPCaptureDriver* driver : deferred) DestroyDriver(driver);
}

}  // namespace

extern "C" {

IIPCaptureDriver* CreateIPCapture() {
    return CreateIPCaptureEx();
}

IIPCaptureDriverEx* CreateIPCaptureEx() {
    return kestrel::CatchAll<IIPCaptureDriverEx*>(nullptr, [] {
        if (!kestrel::platform::IsOwnThread()) DestroyDeferredDrivers();
        auto* driver = new CQuillonDriver;
        std::lock_guard<std::mutex> guard(g_driversLock);
        ++g_driverCount;
        return driver;
    });
}

void DeleteIPCapture(IIPCaptureDriver* driver) {
    kestrel::CatchAll(0, [driver] {
        if (kestrel::platform::IsOwnThread()) {
            if (!driver) return 0;
            driver->Uninit();  // asks every thread of the driver to end, without waiting
            std::lock_guard<std::mutex> guard(g_driversLock);
            g_deferredDrivers.push_back(driver);
            return 0;
        }
        DestroyDeferredDrivers();
        if (driver) DestroyDriver(driver);
        return 0;
    });
}

void DeleteIPCaptureEx(IIPCaptureDriverEx* driver) {
    DeleteIPCapture(driver);
}

std::uint32_t InitCapabilityQuery(ICapabilityQueryCallback* callback, bool videoStandard480) {
    return kestrel::CatchAll<std::uint32_t>(0, [&] { return CCapabilityQuery::Instance().Init(callback, videoStandard480); });
}

std::uint32_t StartCapabilityQuery(const char* address, std::uint16_t port, const char* user, const char* password,
                                   ICapabilityResults* results) {
    return kestrel::CatchAll<std::uint32_t>(
        0, [&] { return CCapabilityQuery::Instance().Start(address, port, user, password, results); });
}

std::uint32_t TerminateCapabilityQuery() {
    return kestrel::CatchAll<std::uint32_t>(1, [] { return CCapabilityQuery::Instance().Terminate(); });
}

std::uint32_t UninitCapabilityQuery() {
    return kestrel::CatchAll<std::uint32_t>(1, [] { return CCapabilityQuery::Instance().Uninit(); });
}

}  // extern "C"
