#include "capture/driver_library.h"

#include <mutex>
#include <vector>

namespace quillon_capture {

std::string CDriverLibrary::DefaultPath() {
    return kestrel::platform::OwnModuleFolder() + QUILLON_LIBRARY_FILE;
}

const CDriverLibrary* CDriverLibrary::Load(const std::string& path, std::string* error) {
    std::string reason;
    auto library = kestrel::platform::CDynamicLibrary::Load(path, &reason);
    if (!library) {
        *error = "cannot load the driver library " + path + ": " + reason;
        return nullptr;
    }
    std::unique_ptr<CDriverLibrary> driver(new CDriverLibrary);
    driver->m_create = reinterpret_cast<CreateFunction>(library->Symbol("CreateIPCaptureEx"));
    driver->m_delete = reinterpret_cast<DeleteFunction>(library->Symbol("DeleteIPCaptureEx"));
    if (!driver->m_create || !driver->m_delete) {
        *error = path + " lacks the exports CreateIPCaptureEx and DeleteIPCaptureEx";
        return nullptr;
    }
    driver->m_library = std::move(library);
    // Never destroyed, not even by the static destructors at exit (see the class comment).
    static auto* loaded = new std::vector<std::unique_ptr<CDriverLibrary>>;
    static std::mutex loading;
    std::lock_guard<std::mutex> lock(loading);
    loaded->push_back(std::move(driver));
    return loaded->back().get();
}

}  // namespace quillon_capture
