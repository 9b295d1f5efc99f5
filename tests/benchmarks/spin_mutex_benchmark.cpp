// Lock/unlock cost of CSpinMutex beside the standard mutexes: uncontended on one thread, and
// with two threads contending for one lock. An idle thread stays alive throughout: the C library
// takes a non-atomic shortcut for std::mutex while a process has a single thread, which the
// driver, always many-threaded, never sees.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

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

int main(int argc, char** argv) {
    std::mutex idleMutex;
    std::condition_variable idleWake;
    bool done = false;
    std::thread idle([&] {
        std::unique_lock<std::mutex> lock(idleMutex);
        idleWake.wait(lock, [&] { return done; });
    });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    {
        std::lock_guard<std::mutex> lock(idleMutex);
        done = true;
    }
    idleWake.notify_one();
    idle.join();
    return 0;
}
