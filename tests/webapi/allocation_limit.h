// Makes operator new fail for large requests on the calling thread, as it does in a 32-bit host
// whose address space is fragmented. The test binary that links allocation_limit.cpp replaces the
// global operator new and delete.
#ifndef QUILLON_TESTS_WEBAPI_ALLOCATION_LIMIT_H
#define QUILLON_TESTS_WEBAPI_ALLOCATION_LIMIT_H

#include <cstddef>

namespace kestrel::testing {

// While alive, operator new on this thread throws std::bad_alloc for any request over `bytes`.
class ScopedAllocationLimit {
public:
    explicit ScopedAllocationLimit(std::size_t bytes);
    ~ScopedAllocationLimit();
    ScopedAllocationLimit(const ScopedAllocationLimit&) = delete;
    ScopedAllocationLimit& operator=(const ScopedAllocationLimit&) = delete;

private:
    std::size_t m_previous;
};

}  // namespace kestrel::testing

#endif
