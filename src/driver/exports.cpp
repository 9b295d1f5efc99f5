// The module's exported functions: C linkage, cdecl, undecorated names.
#include "driver/quillon_driver.h"
#include "runtime/host_call.h"

using kestrel::CQuillonDriver;
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

}  // extern "C"
