#include "runtime/spin_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/shared_lock_memory.h"
#include "platform/thread.h"
#include "runtime/event.h"
#include "runtime/wait_until.h"

namespace kestrel {
namespace {

using testing::WaitUntil;

// Runs one TryLock on another thread and tells whether it acquired (and releases again).
bool TryLockElsewhere(CSpinMutex& mutex) {
    bool acquired = false;
    std::thread other([&] {
        acquired = mutex.TryLock();
        if (acquired) mutex.Unlock();
    });
    other.join();
    return acquired;
}

// Restores the platform's processor count even when an assertion fails.
struct ProcessorCountOverride {
    explicit ProcessorCountOverride(unsigned count) { CSpinMutex::OverrideProcessorCount(count); }
    ~ProcessorCountOverride() { CSpinMutex::OverrideProcessorCount(0); }
};

TEST(SpinMutexTest, RecursiveHoldNeedsEveryUnlockBeforeAnotherThreadAcquires) {
    CSpinMutex mutex(100);
    mutex.Lock();
    ASSERT_TRUE(mutex.TryLock());
    mutex.Lock();
    for (int remaining = 3; remaining > 0; --remaining) {
        EXPECT_FALSE(TryLockElsewhere(mutex)) << remaining << " holds left";
        mutex.Unlock();
    }
    EXPECT_TRUE(TryLockElsewhere(mutex));
}

TEST(SpinMutexTest, LastUnlockHandsTheLockToTheBlockedWaiter) {
    CSpinMutex mutex(10);
    CEvent acquired(false, true), release(false, true);
    mutex.Lock();
    mutex.Lock();
    std::thread waiter([&] {
        mutex.Lock();
        acquired.Set();
        release.Wait(CEvent::kInfinite);
        mutex.Unlock();
    });
    // Give the waiter time to spin out and block.
    EXPECT_FALSE(acquired.Wait(100));
    mutex.Unlock();
    EXPECT_FALSE(acquired.Wait(50)) << "one hold is still left";
    mutex.Unlock();
    // The waiter is counted in, so the lock is its own from this moment, woken or not.
    EXPECT_FALSE(mutex.TryLock());
    EXPECT_TRUE(acquired.Wait(5000));
    release.Set();
    waiter.join();
    EXPECT_TRUE(mutex.TryLock());
    mutex.Unlock();
}

TEST(SpinMutexTest, KeepsCountersExactUnderContention) {
    CSpinMutex mutex;
    long counter = 0;  // deliberately not atomic: the lock alone protects it
    constexpr int kThreads = 4, kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                CSpinMutexGuard outer(mutex);
                CSpinMutexGuard inner(&mutex);
                ++counter;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, long(kThreads) * kRounds);
}

TEST(SpinMutexTest, UnlockByAThreadThatDoesNotOwnTheLockIsIgnored) {
    CSpinMutex mutex;
    mutex.Lock();
    std::thread([&] { mutex.Unlock(); }).join();
    EXPECT_FALSE(TryLockElsewhere(mutex));
    mutex.Unlock();
    EXPECT_TRUE(TryLockElsewhere(mutex));
    mutex.Unlock();  // on a free lock: nothing happens
    EXPECT_TRUE(TryLockElsewhere(mutex));
}

TEST(SpinMutexTest, GuardUnlocksWhenAnExceptionLeavesTheScope) {
    CSpinMutex mutex;
    try {
        CSpinMutexGuard guard(mutex);
        throw std::runtime_error("leave");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(TryLockElsewhere(mutex));
    CSpinMutexGuard nothing(nullptr);
}

TEST(SpinMutexTest, SpinsOnMultiProcessorAndMakesOneAttemptOnSingleProcessor) {
    struct Case {
        unsigned processors;
        std::uint32_t expectedSpinCount;
        bool acquiresWhileSpinning;
    };
    const Case cases[] = {
        {2, 0x7FFFFFFF, true},  // spins long enough to see the holder release
        {1, 0, false},          // one attempt, fails at once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.processors);
        ProcessorCountOverride single(c.processors);
        CSpinMutex mutex(0x7FFFFFFF);
        EXPECT_EQ(mutex.GetSpinCount(), c.expectedSpinCount);
        mutex.SetSpinCount(0x7FFFFFFF);
        EXPECT_EQ(mutex.GetSpinCount(), c.expectedSpinCount);

        std::atomic<bool> held{false};
        CEvent release(false, true);
        std::thread holder([&] {
            mutex.Lock();
            held = true;
            release.Wait(CEvent::kInfinite);
            mutex.Unlock();
        });
        ASSERT_TRUE(WaitUntil([&] { return held.load(); }));
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            release.Set();
        });
        bool acquired = mutex.TryLock();
        if (acquired) mutex.Unlock();
        releaser.join();
        holder.join();
        EXPECT_EQ(acquired, c.acquiresWhileSpinning);
    }
}

std::string UniqueLockName() {
    return "quillon_test_" + std::to_string(platform::CurrentThreadId()) + "_" +
           std::to_string(platform::MonotonicMilliseconds());
}

TEST(SpinMutexTest, NamedLocksOfOneNameAreOneLock) {
    const std::string name = UniqueLockName();
    platform::SharedLockMemory::Remove(name);
    {
        CSpinMutex first(10, name.c_str()), second(10, name.c_str());
        ASSERT_TRUE(first.IsShared());
        ASSERT_TRUE(second.IsShared());
        first.Lock();
        EXPECT_FALSE(TryLockElsewhere(second));

        // A waiter blocked on the other object is woken through the named wake object.
        CEvent acquired(false, true);
        std::thread waiter([&] {
            second.Lock();
            acquired.Set();
            second.Unlock();
        });
        EXPECT_FALSE(acquired.Wait(100));
        first.Unlock();
        EXPECT_TRUE(acquired.Wait(5000));
        waiter.join();
        EXPECT_TRUE(TryLockElsewhere(first));
    }
    platform::SharedLockMemory::Remove(name);
}

TEST(SpinMutexTest, UnusableNameGivesAWorkingLocalLock) {
    const std::string names[] = {
        "",                                    // empty
        std::string(90, 'n'),                  // prefix + name beyond 99 characters
        "camera/1",                            // path separator
        "Global\\camera",                      // kernel namespace
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        CSpinMutex mutex(10, name.c_str());
        EXPECT_FALSE(mutex.IsShared());
        mutex.Lock();
        EXPECT_FALSE(TryLockElsewhere(mutex));
        mutex.Unlock();
        EXPECT_TRUE(TryLockElsewhere(mutex));
    }
}

}  // namespace
}  // namespace kestrel
