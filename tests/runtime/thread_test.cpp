#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "runtime/simple_thread.h"
#include "runtime/ticker_thread.h"
#include "runtime/wait_until.h"

namespace kestrel::thread {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
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

class CountingTicker : public CTickerThread {
public:
    explicit CountingTicker(std::uint32_t period, milliseconds tickLength = milliseconds(0))
        : CTickerThread(period), m_tickLength(tickLength) {}
    ~CountingTicker() override { Stop(); }

    struct Tick {
        Clock::time_point begin, end;
    };
    std::vector<Tick> Ticks() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ticks;
    }
    bool throwOnTick = false;
    bool stopOnTick = false;
    Clock::time_point started;

    bool StartNow(const std::string& name) {
        started = Clock::now();
        return Start(name);
    }

private:
    void OnTick() override {
        Tick tick{Clock::now(), {}};
        std::this_thread::sleep_for(m_tickLength);
        tick.end = Clock::now();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ticks.push_back(tick);
        }
        if (stopOnTick) Stop();
        if (throwOnTick) throw std::runtime_error("tick failed");
    }
    milliseconds m_tickLength;
    std::mutex m_mutex;
    std::vector<Tick> m_ticks;
};

TEST(TickerThreadTest, StopBeforeTheFirstPeriodEndsAtOnceWithoutTicks) {
    CountingTicker never(0);
    EXPECT_TRUE(never.Stop()) << "never started";

    CountingTicker ticker(2000);
    ASSERT_TRUE(ticker.StartNow("ticker"));
    std::this_thread::sleep_for(milliseconds(50));
    auto stopAt = Clock::now();
    EXPECT_TRUE(ticker.Stop());
    EXPECT_LT(Clock::now() - stopAt, milliseconds(1000));
    EXPECT_TRUE(ticker.Ticks().empty());
}

TEST(TickerThreadTest, PeriodRunsFromTheEndOfThePreviousTick) {
    CountingTicker ticker(30, milliseconds(20));
    ASSERT_TRUE(ticker.StartNow("ticker"));
    ASSERT_TRUE(WaitUntil([&] { return ticker.Ticks().size() >= 4; }));
    ticker.Stop();
    auto ticks = ticker.Ticks();
    EXPECT_GE(ticks[0].begin - ticker.started, milliseconds(29));
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        EXPECT_GE(ticks[i].begin - ticks[i - 1].end, milliseconds(29)) << "tick " << i;
    }
}

TEST(TickerThreadTest, KeepsTickingAfterAFailedTickAndRestartsAfterStop) {
    CountingTicker ticker(5);
    ticker.throwOnTick = true;
    ASSERT_TRUE(ticker.Start("ticker"));
    ASSERT_TRUE(WaitUntil([&] { return ticker.Ticks().size() >= 2; }));
    EXPECT_TRUE(ticker.Stop());
    std::size_t before = ticker.Ticks().size();
    ASSERT_TRUE(ticker.Start("ticker again"));
    EXPECT_TRUE(WaitUntil([&] { return ticker.Ticks().size() > before; }));
}

TEST(TickerThreadTest, StopFromInsideATickEndsTheTicker) {
    CountingTicker ticker(5);
    ticker.stopOnTick = true;
    ASSERT_TRUE(ticker.Start("ticker"));
    ASSERT_TRUE(WaitUntil([&] { return !ticker.Ticks().empty(); }));
    EXPECT_TRUE(ticker.Stop());  // joins the thread that stopped itself
    EXPECT_EQ(ticker.Ticks().size(), 1u);
}

}  // namespace
}  // namespace kestrel::thread
