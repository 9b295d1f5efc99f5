// Helpers for operations the host calls: nothing compiler-specific may cross the boundary.
#ifndef QUILLON_RUNTIME_HOST_CALL_H
#define QUILLON_RUNTIME_HOST_CALL_H

#include <new>

namespace kestrel {

// Runs `body` and returns its result, or `failure` when it throws (the host cannot catch
// C++ exceptions thrown by another compiler's run time).
template <class Result, class Body>
Result CatchAll(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// The deleting-destructor entry of a host-facing table: bit 0 of `flags` frees the memory,
// otherwise the object is only destroyed (the meaning Visual C++ gives that entry).
template <class Object>
void* DestroyObject(Object* object, unsigned int flags) noexcept {
    if (flags & 1) {
        delete object;
    } else {
        object->~Object();
    }
    return object;
}

}  // namespace kestrel

#endif
