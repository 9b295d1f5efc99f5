#include "platform/shared_lock_memory.h"

#include <windows.h>

namespace kestrel::platform {

struct SharedLockMemory::Impl {
    HANDLE mapping = nullptr;
    void* view = nullptr;
    HANDLE wake = nullptr;

    ~Impl() {
        if (view) ::UnmapViewOfFile(view);
        if (mapping) ::CloseHandle(mapping);
        if (wake) ::CloseHandle(wake);
    }
};

std::unique_ptr<SharedLockMemory> SharedLockMemory::Open(const std::string& name) {
    if (!IsValidSharedLockName(name)) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->wake = ::CreateEventA(nullptr, FALSE, FALSE, ("Optex_Event_" + name).c_str());
    if (!impl->wake) return nullptr;
    // A page-file-backed mapping starts zero-filled; a second opener gets the existing one.
    impl->mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                         static_cast<DWORD>(kSize), ("Optex_MMF_" + name).c_str());
    if (!impl->mapping) return nullptr;
    impl->view = ::MapViewOfFile(impl->mapping, FILE_MAP_WRITE, 0, 0, kSize);
    if (!impl->view) return nullptr;
    return std::unique_ptr<SharedLockMemory>(new SharedLockMemory(std::move(impl)));
}

void SharedLockMemory::Remove(const std::string&) {}

SharedLockMemory::SharedLockMemory(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

SharedLockMemory::~SharedLockMemory() = default;

void* SharedLockMemory::Data() const { return m_impl->view; }

bool SharedLockMemory::Signal() { return ::SetEvent(m_impl->wake) != 0; }

bool SharedLockMemory::Wait() { return ::WaitForSingleObject(m_impl->wake, INFINITE) == WAIT_OBJECT_0; }

}  // namespace kestrel::platform
