#include "runtime/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/wait_until.h"

namespace kestrel {
namespace {

TEST(EventTest, WaitZeroTestsAndAutoResetConsumes) {
    struct Case {
        const char* name;
        bool initial, manual;
        bool firstWait, secondWait;  // two Wait(0) in a row
    };
    const Case cases[] = {
        {"auto, clear", false, false, false, false},
        {"auto, signalled", true, false, true, false},  // the first wait consumes it
        {"manual, clear", false, true, false, false},
        {"manual, signalled", true, true, true, true},  // stays signalled
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CEvent event(c.initial, c.manual);
        EXPECT_EQ(event.Wait(0), c.firstWait);
        EXPECT_EQ(event.Wait(0), c.secondWait);
        EXPECT_TRUE(event.Set());
        EXPECT_TRUE(event.Reset());
        EXPECT_FALSE(event.Wait(0)) << "Reset clears";
    }
}

// Two waiters, one Set: an auto-reset event releases one of them, a manual-reset event both.
TEST(EventTest, SetReleasesOneWaiterOrAll) {
    for (bool manual : {false, true}) {
        SCOPED_TRACE(manual ? "manual" : "auto");
        CEvent event(false, manual);
        std::atomic<int> released{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 2; ++i) {
            waiters.emplace_back([&] {
                if (event.Wait(3000)) ++released;
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        event.Set();
        ASSERT_TRUE(testing::WaitUntil([&] { return released.load() >= 1; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(released.load(), manual ? 2 : 1);
        event.Set();
        for (auto& waiter : waiters) waiter.join();
        EXPECT_EQ(released.load(), 2);
    }
}

TEST(EventTest, WaitTimesOutAfterTheGivenTime) {
    CEvent event(false, false);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.Wait(40));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(39));
}

}  // namespace
}  // namespace kestrel
