#include "platform/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace kestrel::platform {

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

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
