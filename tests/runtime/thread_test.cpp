#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "runtime/simple_thread.h"
#include "runtime/wait_until.h"

namespace kestrel::thread {
namespace {

using testing::WaitUntil;

// Runs until asked to stop; optionally stops itself or throws first.
class StopWaiter : public CSimpleThread {
public:
    enum class Mode { kWaitForStop, kWaitForExitOnSelf, kThrow };
    explicit StopWaiter(Mode mode = Mode::kWaitForStop) : m_mode(mode) {}
    ~StopWaiter() override {
        RequestStop();
        WaitForExit();
    }
    std::atomic<int> runs{0};
    using CSimpleThread::WaitForStop;

private:
    void Run() override {
        ++runs;
        if (m_mode == Mode::kThrow) throw std::runtime_error("body failed");
        if (m_mode == Mode::kWaitForExitOnSelf) WaitForExit();  // must not wait for itself
        WaitForStop(CEvent::kInfinite);
    }
    Mode m_mode;
};

TEST(SimpleThreadTest, SecondStartFailsAndKeepsTheRunningThreadAndName) {
    StopWaiter thread;
    ASSERT_TRUE(thread.Start("first"));
    EXPECT_FALSE(thread.Start("second"));
    EXPECT_EQ(thread.GetName(), "first");
    thread.RequestStop();
    EXPECT_TRUE(thread.WaitForExit());
    EXPECT_FALSE(thread.IsStarted());
    ASSERT_TRUE(thread.Start("again"));  // restartable, stop request cleared
    ASSERT_TRUE(WaitUntil([&] { return thread.runs == 2; }));
    EXPECT_FALSE(thread.IsStopRequested());
}

TEST(SimpleThreadTest, BoundedWaitGivesUpAndKeepsTheThreadUntilItEnds) {
    StopWaiter thread;
    ASSERT_TRUE(thread.Start("worker"));
    EXPECT_FALSE(thread.WaitForExit(30));
    EXPECT_TRUE(thread.IsStarted());
    thread.RequestStop();
    EXPECT_TRUE(thread.WaitForExit(5000));
    EXPECT_FALSE(thread.IsStarted());
}

TEST(SimpleThreadTest, BodyThatWaitsForItselfOrThrowsDoesNotHangOrCrash) {
    for (auto mode : {StopWaiter::Mode::kWaitForExitOnSelf, StopWaiter::Mode::kThrow}) {
        StopWaiter thread(mode);
        ASSERT_TRUE(thread.Start("worker"));
        ASSERT_TRUE(WaitUntil([&] { return thread.runs == 1; }));
        thread.RequestStop();
        EXPECT_TRUE(thread.WaitForExit(5000));
    }
}

}  // namespace
}  // namespace kestrel::thread
