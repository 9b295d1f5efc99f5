#include "platform/dynamic_library.h"

#include <windows.h>

namespace kestrel::platform {

std::unique_ptr<CDynamicLibrary> CDynamicLibrary::Load(const std::string& path, std::string* reason) {
    HMODULE handle = ::LoadLibraryA(path.c_str());
    if (handle) return std::unique_ptr<CDynamicLibrary>(new CDynamicLibrary(handle));
    const DWORD code = ::GetLastError();
    if (!reason) return nullptr;
    char text[512] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                          text, sizeof text, nullptr);
    *reason = std::string(text, length);
    while (!reason->empty() && (reason->back() == '\n' || reason->back() == '\r' || reason->back() == ' ')) {
        reason->pop_back();
    }
    *reason += " (error " + std::to_string(code) + ")";
    return nullptr;
}

bool CDynamicLibrary::IsLoaded(const std::string& path) { return ::GetModuleHandleA(path.c_str()) != nullptr; }

CDynamicLibrary::~CDynamicLibrary() { ::FreeLibrary(static_cast<HMODULE>(m_handle)); }

LibraryFunction CDynamicLibrary::Symbol(const char* name) const {
    return reinterpret_cast<LibraryFunction>(::GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

std::string OwnModuleFolder() {
    HMODULE self = nullptr;
    // The module holding this function, not the host's executable; its reference count stays.
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&OwnModuleFolder), &self)) {
        return {};
    }
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    const std::string name(path, length);
    const std::size_t separator = name.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : name.substr(0, separator + 1);
}

}  // namespace kestrel::platform
