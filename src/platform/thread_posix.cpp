#include "platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "platform/thread_native.h"

namespace kestrel::platform {

std::uint32_t CurrentThreadId() {
    // Every lock and unlock asks for it; a system call each time would dominate their cost.
    // Constant-initialised, so reading it needs no initialisation guard.
    static thread_local std::uint32_t id = 0;
    if (id == 0) id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    return id;
}

unsigned ProcessorCount() {
    long count = ::sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 1u;
}

bool SetCurrentThreadPriority(ThreadPriority priority) {
    // Linux keeps a nice value per thread; one step below the default mirrors Windows'
    // "above normal". Raising it needs a privilege the process may not have.
    int nice = priority == ThreadPriority::kAboveNormal ? -1 : 0;
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()), nice) == 0;
}

}  // namespace kestrel::platform

namespace kestrel::platform::native {

namespace {

void* PosixEntry(void* argument) {
    auto* launch = static_cast<std::pair<void (*)(void*), void*>*>(argument);
    auto [entry, entryArgument] = *launch;
    delete launch;
    entry(entryArgument);
    return nullptr;
}

}  // namespace

bool StartThread(void (*entry)(void*), void* argument, std::size_t stackBytes, ThreadHandle* handle) {
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) return false;
    std::size_t minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    bool started = false;
    auto* launch = new std::pair<void (*)(void*), void*>(entry, argument);
    pthread_t thread;
    if (::pthread_attr_setstacksize(&attributes, stackBytes < minimum ? minimum : stackBytes) == 0 &&
        ::pthread_create(&thread, &attributes, &PosixEntry, launch) == 0) {
        *handle = static_cast<ThreadHandle>(thread);
        started = true;
    } else {
        delete launch;
    }
    ::pthread_attr_destroy(&attributes);
    return started;
}

void JoinThread(ThreadHandle handle) { ::pthread_join(static_cast<pthread_t>(handle), nullptr); }

void DetachThread(ThreadHandle handle) { ::pthread_detach(static_cast<pthread_t>(handle)); }

}  // namespace kestrel::platform::native
