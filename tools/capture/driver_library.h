// The driver library loaded at run time and reached through its C exports only, exactly as a
// recording server loads it: nothing of the driver is linked into the program.
#ifndef QUILLON_TOOLS_CAPTURE_DRIVER_LIBRARY_H
#define QUILLON_TOOLS_CAPTURE_DRIVER_LIBRARY_H

#include <memory>
#include <string>

#include "platform/dynamic_library.h"
#include "quillon/quillon.h"

namespace quillon_capture {

// Thread-safe. A loaded library is never unloaded, as a recording server keeps its drivers until
// it exits: the driver holds a few objects for the life of the process that it deliberately never
// frees (its sibling library, the capability query's state), and they must stay where they are.
class CDriverLibrary {
public:
    // The library file built beside this program.
    static std::string DefaultPath();
    // Null, with the reason in `error`, when the file cannot be loaded or lacks an export. The
    // result lives until the process ends.
    static const CDriverLibrary* Load(const std::string& path, std::string* error);

    kestrel::ipcapture::IIPCaptureDriverEx* Create() const { return m_create(); }
    void Delete(kestrel::ipcapture::IIPCaptureDriverEx* driver) const { m_delete(driver); }
    // An optional export; null when this build of the driver has none.
    kestrel::platform::LibraryFunction Symbol(const char* name) const { return m_library->Symbol(name); }

private:
    using CreateFunction = kestrel::ipcapture::IIPCaptureDriverEx* (*)();
    using DeleteFunction = void (*)(kestrel::ipcapture::IIPCaptureDriverEx*);

    std::unique_ptr<kestrel::platform::CDynamicLibrary> m_library;
    CreateFunction m_create = nullptr;
    DeleteFunction m_delete = nullptr;
};

}  // namespace quillon_capture

#endif
