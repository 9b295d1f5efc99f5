#include "platform/thread.h"

#include <process.h>
#include <windows.h>

#include <utility>

#include "platform/thread_native.h"

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

namespace kestrel::platform::native {

namespace {

unsigned __stdcall WindowsEntry(void* argument) {
    auto* launch = static_cast<std::pair<void (*)(void*), void*>*>(argument);
    auto [entry, entryArgument] = *launch;
    delete launch;
    entry(entryArgument);
    return 0;
}

}  // namespace

bool StartThread(void (*entry)(void*), void* argument, std::size_t stackBytes, ThreadHandle* handle) {
    auto* launch = new std::pair<void (*)(void*), void*>(entry, argument);
    // _beginthreadex rather than CreateThread, so the C runtime sets the thread up; the size is
    // a reservation, not a commitment.
    std::uintptr_t thread = ::_beginthreadex(nullptr, static_cast<unsigned>(stackBytes), &WindowsEntry, launch,
                                             STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == 0) {
        delete launch;
        return false;
    }
    *handle = static_cast<ThreadHandle>(thread);
    return true;
}

void JoinThread(ThreadHandle handle) {
    auto thread = reinterpret_cast<HANDLE>(handle);
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
}

void DetachThread(ThreadHandle handle) { ::CloseHandle(reinterpret_cast<HANDLE>(handle)); }

}  // namespace kestrel::platform::native
