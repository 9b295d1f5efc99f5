#include "platform/thread.h"

#include <windows.h>

namespace kestrel::platform {

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(::GetCurrentThreadId()); }

unsigned ProcessorCount() {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<unsigned>(info.dwNumberOfProcessors) : 1u;
}

bool SetCurrentThreadPriority(ThreadPriority priority) {
    int value = priority == ThreadPriority::kAboveNormal ? THREAD_PRIORITY_ABOVE_NORMAL
                                                         : THREAD_PRIORITY_NORMAL;
    return ::SetThreadPriority(::GetCurrentThread(), value) != 0;
}

}  // namespace kestrel::platform
