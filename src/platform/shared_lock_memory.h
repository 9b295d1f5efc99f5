// The system objects behind a named lock shared by processes: a small zero-initialised memory
// region and a wake object that releases one waiter per signal.
//
// Windows: a page-file-backed file mapping "Optex_MMF_<name>" and an auto-reset event
// "Optex_Event_<name>"; both vanish with their last handle.
// POSIX: shared memory "/Optex_MMF_<name>" and a named semaphore "/Optex_Event_<name>"; they
// outlive the processes until Remove(name) unlinks them.
#ifndef QUILLON_PLATFORM_SHARED_LOCK_MEMORY_H
#define QUILLON_PLATFORM_SHARED_LOCK_MEMORY_H

#include <cstddef>
#include <memory>
#include <string>

namespace kestrel::platform {

class SharedLockMemory {
public:
    static constexpr std::size_t kSize = 16;
    // Longest object name ("Optex_Event_" + name), as both systems accept it.
    static constexpr std::size_t kMaxObjectName = 99;

    // Opens both objects, creating them if no process has yet. Null if the name is empty, too
    // long, contains '/' or '\', or the system refuses.
    static std::unique_ptr<SharedLockMemory> Open(const std::string& name);
    // Removes the names so that the next Open creates fresh objects (POSIX); no-op on Windows.
    static void Remove(const std::string& name);

    ~SharedLockMemory();
    SharedLockMemory(const SharedLockMemory&) = delete;
    SharedLockMemory& operator=(const SharedLockMemory&) = delete;

    // kSize bytes shared by every process that opened the name; zero-filled when first created.
    void* Data() const;
    // Releases one waiter, now or the next one to wait.
    bool Signal();
    // Blocks until signalled; false only if the system wait fails.
    bool Wait();

    struct Impl;

private:
    explicit SharedLockMemory(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// Shared validity rule for lock names on both systems.
bool IsValidSharedLockName(const std::string& name);

}  // namespace kestrel::platform

#endif
