#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace kestrel::platform {

std::unique_ptr<CDynamicLibrary> CDynamicLibrary::Load(const std::string& path, std::string* reason) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle) return std::unique_ptr<CDynamicLibrary>(new CDynamicLibrary(handle));
    const char* text = ::dlerror();
    if (reason) *reason = text ? text : "unknown loader failure";
    return nullptr;
}

bool CDynamicLibrary::IsLoaded(const std::string& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    ::dlclose(handle);
    return true;
}

CDynamicLibrary::~CDynamicLibrary() { ::dlclose(m_handle); }

LibraryFunction CDynamicLibrary::Symbol(const char* name) const {
    return reinterpret_cast<LibraryFunction>(::dlsym(m_handle, name));
}

std::string OwnModuleFolder() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&OwnModuleFolder), &info) || !info.dli_fname) return {};
    const std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace kestrel::platform
