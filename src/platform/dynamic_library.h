// Run-time loading of a shared library (a DLL on Windows), and the folder the calling module
// lives in, so that a library shipped beside the driver is found whatever the host's folder.
#ifndef QUILLON_PLATFORM_DYNAMIC_LIBRARY_H
#define QUILLON_PLATFORM_DYNAMIC_LIBRARY_H

#include <memory>
#include <string>

namespace kestrel::platform {

// What Symbol returns; cast it to the function's real type before calling.
using LibraryFunction = void (*)();

// A loaded library, unloaded when this object ends. Symbol is safe from any thread.
class CDynamicLibrary {
public:
    // Null when the library at `path` cannot be loaded; `reason`, when given, then receives the
    // system loader's own text.
    static std::unique_ptr<CDynamicLibrary> Load(const std::string& path, std::string* reason = nullptr);
    // Whether the library at `path` is loaded in this process (by anyone), without loading it.
    static bool IsLoaded(const std::string& path);
    ~CDynamicLibrary();
    CDynamicLibrary(const CDynamicLibrary&) = delete;
    CDynamicLibrary& operator=(const CDynamicLibrary&) = delete;

    // The exported function of that exact name; null when there is none.
    LibraryFunction Symbol(const char* name) const;

private:
    explicit CDynamicLibrary(void* handle) : m_handle(handle) {}
    void* m_handle;
};

// The folder, with its trailing separator, of the module that contains this code: the driver
// library when linked into it, else the program. "" when the system cannot tell.
std::string OwnModuleFolder();

}  // namespace kestrel::platform

#endif
