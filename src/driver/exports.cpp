// The module's exported functions: C linkage, cdecl, undecorated names.
#include "driver/quillon_driver.h"
#include "properties/capability_query.h"
#include "runtime/host_call.h"

using kestrel::CCapabilityQuery;
using kestrel::CQuillonDriver;
using kestrel::ipcapture::ICapabilityQueryCallback;
using kestrel::ipcapture::ICapabilityResults;
using kestrel::ipcapture::IIPCaptureDriver;
using kestrel::ipcapture::IIPCaptureDriverEx;

extern "C" {

IIPCaptureDriver* CreateIPCapture() {
    return CreateIPCaptureEx();
}

IIPCaptureDriverEx* CreateIPCaptureEx() {
    return kestrel::CatchAll<IIPCaptureDriverEx*>(nullptr, [] { return new CQuillonDriver; });
}

void DeleteIPCapture(IIPCaptureDriver* driver) {
    if (driver) driver->Destroy(1);
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
