#include "webapi/allocation_limit.h"

#include <cstdlib>
#include <new>

namespace {

thread_local std::size_t t_limit = 0;  // 0: no limit

}  // namespace

namespace kestrel::testing {

ScopedAllocationLimit::ScopedAllocationLimit(std::size_t bytes) : m_previous(t_limit) { t_limit = bytes; }

ScopedAllocationLimit::~ScopedAllocationLimit() { t_limit = m_previous; }

}  // namespace kestrel::testing

// Every form of the plain operators is replaced, so that a sanitizer's own versions never pair
// with these.
void* operator new(std::size_t size) {
    if (t_limit != 0 && size > t_limit) throw std::bad_alloc();
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

void* operator new[](std::size_t size) { return operator new(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
