// Lock/unlock cost of CSpinMutex beside the standard mutexes: uncontended on one thread, and
// with two threads contending for one lock.
#include <benchmark/benchmark.h>

#include <mutex>

#include "runtime/spin_mutex.h"

namespace {

template <typename Mutex>
Mutex& Shared() {
    static Mutex mutex;
    return mutex;
}

template <typename Mutex>
void LockUnlock(benchmark::State& state) {
    Mutex& mutex = Shared<Mutex>();
    long counter = 0;
    for (auto _ : state) {
        mutex.lock();
        benchmark::DoNotOptimize(++counter);
        mutex.unlock();
    }
}

template <typename Mutex>
void RecursiveLockUnlock(benchmark::State& state) {
    Mutex& mutex = Shared<Mutex>();
    mutex.lock();
    for (auto _ : state) {
        mutex.lock();
        mutex.unlock();
    }
    mutex.unlock();
}

using kestrel::CSpinMutex;

BENCHMARK_TEMPLATE(LockUnlock, CSpinMutex);
BENCHMARK_TEMPLATE(LockUnlock, std::mutex);
BENCHMARK_TEMPLATE(LockUnlock, std::recursive_mutex);
BENCHMARK_TEMPLATE(LockUnlock, CSpinMutex)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(LockUnlock, std::mutex)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(LockUnlock, std::recursive_mutex)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(RecursiveLockUnlock, CSpinMutex);
BENCHMARK_TEMPLATE(RecursiveLockUnlock, std::recursive_mutex);

}  // namespace

BENCHMARK_MAIN();
