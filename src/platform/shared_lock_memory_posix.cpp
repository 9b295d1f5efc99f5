#include "platform/shared_lock_memory.h"

#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrel::platform {

struct SharedLockMemory::Impl {
    void* view = MAP_FAILED;
    sem_t* wake = SEM_FAILED;

    ~Impl() {
        if (view != MAP_FAILED) ::munmap(view, kSize);
        if (wake != SEM_FAILED) ::sem_close(wake);
    }
};

namespace {
std::string MemoryName(const std::string& name) { return "/Optex_MMF_" + name; }
std::string WakeName(const std::string& name) { return "/Optex_Event_" + name; }
}  // namespace

std::unique_ptr<SharedLockMemory> SharedLockMemory::Open(const std::string& name) {
    if (!IsValidSharedLockName(name)) return nullptr;
    auto impl = std::make_unique<Impl>();
    int fd = ::shm_open(MemoryName(name).c_str(), O_RDWR | O_CREAT, S_IRUSR | S_IWUSR);
    if (fd < 0) return nullptr;
    // A new object is empty; growing it to kSize zero-fills it. An existing one already has
    // kSize bytes and keeps its content.
    struct stat info {};
    bool sized = ::fstat(fd, &info) == 0 &&
                 (info.st_size >= static_cast<off_t>(kSize) || ::ftruncate(fd, kSize) == 0);
    if (sized) impl->view = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (impl->view == MAP_FAILED) return nullptr;
    impl->wake = ::sem_open(WakeName(name).c_str(), O_CREAT, S_IRUSR | S_IWUSR, 0);
    if (impl->wake == SEM_FAILED) return nullptr;
    return std::unique_ptr<SharedLockMemory>(new SharedLockMemory(std::move(impl)));
}

void SharedLockMemory::Remove(const std::string& name) {
    if (!IsValidSharedLockName(name)) return;
    ::shm_unlink(MemoryName(name).c_str());
    ::sem_unlink(WakeName(name).c_str());
}

SharedLockMemory::SharedLockMemory(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

SharedLockMemory::~SharedLockMemory() = default;

void* SharedLockMemory::Data() const { return m_impl->view; }

bool SharedLockMemory::Signal() { return ::sem_post(m_impl->wake) == 0; }

bool SharedLockMemory::Wait() {
    while (::sem_wait(m_impl->wake) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace kestrel::platform
