#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace kestrel::platform {
namespace {

TEST(PlatformThreadTest, RunsTheBodyAndJoins) {
    Thread thread;
    std::atomic<std::uint32_t> bodyId{0};
    std::atomic<bool> current{false}, go{false};
    ASSERT_TRUE(thread.Start(
        [&] {
            bodyId = CurrentThreadId();
            current = thread.IsCurrent();
            while (!go) std::this_thread::yield();
        },
        ThreadPriority::kAboveNormal));
    EXPECT_FALSE(thread.Start([] {})) << "already held";
    EXPECT_FALSE(thread.WaitForEnd(20));
    go = true;
    EXPECT_TRUE(thread.WaitForEnd(5000));
    EXPECT_TRUE(thread.HasEnded());
    EXPECT_EQ(thread.Id(), bodyId.load());
    EXPECT_TRUE(thread.Join());
    EXPECT_FALSE(thread.IsStarted());
    EXPECT_TRUE(current);
    EXPECT_NE(bodyId.load(), 0u);
    EXPECT_NE(bodyId.load(), CurrentThreadId());
    EXPECT_FALSE(thread.IsCurrent());
    EXPECT_GE(ProcessorCount(), 1u);
}

TEST(PlatformThreadTest, SelfJoinAndThrowingBodyNeitherHangNorEndTheProcess) {
    Thread thread;
    std::atomic<bool> selfJoin{true};
    ASSERT_TRUE(thread.Start([&] {
        selfJoin = thread.Join();
        throw std::runtime_error("body failed");
    }));
    EXPECT_TRUE(thread.WaitForEnd(5000));
    EXPECT_FALSE(selfJoin);
    EXPECT_TRUE(thread.IsStarted()) << "kept for its owner to join";
    EXPECT_TRUE(thread.Join());
}

TEST(PlatformThreadTest, ThreadDestroyedOnItselfFinishesSafely) {
    std::atomic<bool> done{false};
    auto* thread = new Thread;
    ASSERT_TRUE(thread->Start([&, thread] {
        delete thread;
        done = true;
    }));
    for (int i = 0; i < 5000 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(done);
}

// The failures tests ask for hit exactly the creations meant, owned and detached alike, and a
// refused creation leaves nothing running and the Thread startable.
TEST(PlatformThreadTest, RequestedCreationFailuresHitTheCreationsMeant) {
    const unsigned before = OwnThreadCount();
    std::atomic<bool> release{false};
    auto wait = [&] {
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    FailThreadCreations(1, 2);
    Thread first, second, third;
    EXPECT_TRUE(first.Start(wait));
    EXPECT_FALSE(second.Start(wait));
    EXPECT_FALSE(StartDetachedThread(wait));
    EXPECT_TRUE(third.Start(wait));
    EXPECT_FALSE(second.IsStarted());
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
         OwnThreadCount() != before + 2 && std::chrono::steady_clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(OwnThreadCount(), before + 2);
    EXPECT_TRUE(second.Start(wait));
    release.store(true);
    first.Join();
    second.Join();
    third.Join();
    EXPECT_EQ(OwnThreadCount(), before);
}

}  // namespace
}  // namespace kestrel::platform
