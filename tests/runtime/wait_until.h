// Polls a condition for a bounded time; tests use it instead of fixed sleeps.
#ifndef QUILLON_TESTS_RUNTIME_WAIT_UNTIL_H
#define QUILLON_TESTS_RUNTIME_WAIT_UNTIL_H

#include <chrono>
#include <thread>

namespace kestrel::testing {

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace kestrel::testing

#endif
