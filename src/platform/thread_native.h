// The system's own thread calls behind Thread, so that every thread gets an explicit stack
// reservation (the standard library's threads take the process default).
#ifndef QUILLON_PLATFORM_THREAD_NATIVE_H
#define QUILLON_PLATFORM_THREAD_NATIVE_H

#include <cstddef>
#include <cstdint>

namespace kestrel::platform::native {

// A pthread_t or a thread HANDLE.
using ThreadHandle = std::uintptr_t;

// Runs entry(argument) on a new thread with stackBytes of stack reserved. False when the system
// refuses; entry is then never called.
bool StartThread(void (*entry)(void*), void* argument, std::size_t stackBytes, ThreadHandle* handle);
// Waits for the thread to end and releases its handle.
void JoinThread(ThreadHandle handle);
// Releases the handle of a thread that finishes on its own.
void DetachThread(ThreadHandle handle);

}  // namespace kestrel::platform::native

#endif
