#include "driver/ip_video_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/reference_host.h"
#include "runtime/event.h"

namespace kestrel {
namespace {

using namespace quillon_host;
using ipcapture::CHANNEL_PARAMS;

// What the fake channels were asked to do, in order, across all channels of one test.
struct ChannelLog {
    void Add(const std::string& event) {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(event);
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> guard(lock);
        return events;
    }
    std::mutex lock;
    std::vector<std::string> events;
    std::vector<CHANNEL_PARAMS> params;
    // While set, Start and Restart wait in the middle until `release` is set.
    std::atomic<bool> holdInside{false};
    CEvent entered{false, true};
    CEvent release{false, true};
};

class CFakeChannel final : public ICameraChannel {
public:
    CFakeChannel(std::uint32_t index, ChannelLog* log, bool startResult, std::uint32_t state)
        : m_name("channel " + std::to_string(index)), m_log(log), m_startResult(startResult),
          m_state(state) {}
    ~CFakeChannel() override { m_log->Add(m_name + " destroyed"); }
    bool Start(const CHANNEL_PARAMS* params) override {
        m_log->Add(m_name + " start");
        RecordParams(*params);
        HoldIfAsked("start");
        return m_startResult;
    }
    void Stop() override { m_log->Add(m_name + " stop"); }
    void RequestStop() override { m_log->Add(m_name + " stop requested"); }
    bool HasEnded() override { return true; }
    bool Restart(const CHANNEL_PARAMS* params) override {
        m_log->Add(m_name + " restart");
        RecordParams(*params);
        HoldIfAsked("restart");
        return true;
    }
    std::uint32_t GetState() override { return m_state; }
    void SetState(std::uint32_t state) override { m_state = state; }
    std::string GetStatusText() override { return "no frames for 6 s from 10.1.2.3"; }

private:
    void RecordParams(const CHANNEL_PARAMS& params) {
        std::lock_guard<std::mutex> guard(m_log->lock);
        m_log->params.push_back(params);
    }
    // Reads the channel's own members after the wait, so a channel destroyed meanwhile shows.
    void HoldIfAsked(const char* what) {
        if (!m_log->holdInside.load()) return;
        m_log->entered.Set();
        m_log->release.Wait(CEvent::kInfinite);
        m_log->Add(m_name + " " + what + " ended");
    }

    std::string m_name;
    ChannelLog* m_log;
    bool m_startResult;
    std::uint32_t m_state;
};

class CFakeCreator final : public ICustomCreator {
public:
    std::unique_ptr<ICameraChannel> CreateChannel(std::uint32_t channel,
                                                  ipcapture::IChannelSink* sink) override {
        if (!sink || !createChannels) return nullptr;
        return std::make_unique<CFakeChannel>(channel, &log, startResult, kChannelNoFrames);
    }
    ChannelLog log;
    bool createChannels = true;
    bool startResult = true;
};

struct CaptureFixture : ::testing::Test {
    CFakeCreator creator;
    CRecordingSink sink;
    CHostChannelSettings settings{HostChannelConfig{704, 576, 40, 60}};
};

TEST_F(CaptureFixture, IndicesAtOrBeyondTheCountAreRefused) {
    CIPVideoCapture empty(&creator, 0);
    EXPECT_EQ(empty.GetChannelCount(), 0u);
    EXPECT_FALSE(empty.StartChannel(0, &sink, &settings));

    CIPVideoCapture capture(&creator, 2);
    CHostVideoSize size(352, 288);
    std::uint32_t state = 0;
    std::uint32_t reserved = 0;
    EXPECT_FALSE(capture.StartChannel(2, &sink, &settings));
    EXPECT_FALSE(capture.StopChannel(2));
    EXPECT_FALSE(capture.ReconfigureChannel(2, &size, 40));
    EXPECT_FALSE(capture.GetChannelState(2, &state, &reserved, nullptr, 0));
    EXPECT_TRUE(creator.log.Events().empty());
}

TEST_F(CaptureFixture, StartPassesTheHostsSettingsCutTo16Bits) {
    CIPVideoCapture capture(&creator, 1);
    CHostChannelSettings wide(HostChannelConfig{0x10000 + 352, 0x20000 + 288, 0x30000 + 40, 70});
    EXPECT_TRUE(capture.StartChannel(0, &sink, &wide));
    ASSERT_EQ(creator.log.params.size(), 1u);
    const CHANNEL_PARAMS& params = creator.log.params[0];
    EXPECT_EQ(params.frameInterval, 40u);
    EXPECT_EQ(params.quality, 70u);
    EXPECT_EQ(params.width, 352u);
    EXPECT_EQ(params.height, 288u);
}

TEST_F(CaptureFixture, StartingAnIndexTwiceStopsAndDestroysTheFirstChannel) {
    CIPVideoCapture capture(&creator, 2);
    EXPECT_TRUE(capture.StartChannel(1, &sink, &settings));
    EXPECT_TRUE(capture.StartChannel(1, &sink, &settings));
    const std::vector<std::string> expected = {"channel 1 start", "channel 1 stop",
                                               "channel 1 destroyed", "channel 1 start"};
    EXPECT_EQ(creator.log.Events(), expected);
}

TEST_F(CaptureFixture, StopEmptiesTheIndex) {
    CIPVideoCapture capture(&creator, 1);
    EXPECT_FALSE(capture.StopChannel(0));
    ASSERT_TRUE(capture.StartChannel(0, &sink, &settings));
    EXPECT_TRUE(capture.StopChannel(0));
    EXPECT_FALSE(capture.StopChannel(0));
    std::uint32_t state = 0;
    std::uint32_t reserved = 0;
    EXPECT_FALSE(capture.GetChannelState(0, &state, &reserved, nullptr, 0));
}

TEST_F(CaptureFixture, NoChannelFromTheFactoryStillCountsAsStarted) {
    creator.createChannels = false;
    CIPVideoCapture capture(&creator, 1);
    EXPECT_TRUE(capture.StartChannel(0, &sink, &settings));
    EXPECT_FALSE(capture.StopChannel(0));
}

TEST_F(CaptureFixture, FailedStartIsKeptSoTheHostCanStopIt) {
    creator.startResult = false;
    CIPVideoCapture capture(&creator, 1);
    EXPECT_FALSE(capture.StartChannel(0, &sink, &settings));
    EXPECT_TRUE(capture.StopChannel(0));
}

TEST_F(CaptureFixture, MissingHostSettingsFailTheStart) {
    CIPVideoCapture capture(&creator, 1);
    EXPECT_FALSE(capture.StartChannel(0, &sink, nullptr));
    EXPECT_TRUE(capture.StopChannel(0));
    const std::vector<std::string> expected = {"channel 0 stop", "channel 0 destroyed"};
    EXPECT_EQ(creator.log.Events(), expected);
}

TEST_F(CaptureFixture, ReconfigureRestartsWithTheNewSizeAndRateAndNoQuality) {
    CIPVideoCapture capture(&creator, 1);
    CHostVideoSize size(0x10000 + 1280, 720);
    EXPECT_FALSE(capture.ReconfigureChannel(0, &size, 100));
    ASSERT_TRUE(capture.StartChannel(0, &sink, &settings));
    EXPECT_TRUE(capture.ReconfigureChannel(0, &size, 0x10000 + 100));
    ASSERT_EQ(creator.log.params.size(), 2u);
    const CHANNEL_PARAMS& params = creator.log.params[1];
    EXPECT_EQ(params.frameInterval, 0x10000u + 100);  // the interval argument is used as given
    EXPECT_EQ(params.quality, 0u);
    EXPECT_EQ(params.width, 1280u);
    EXPECT_EQ(params.height, 720u);
}

TEST_F(CaptureFixture, ChannelStateGivesTheStatusTextCutToTheHostsSize) {
    CIPVideoCapture capture(&creator, 1);
    ASSERT_TRUE(capture.StartChannel(0, &sink, &settings));
    struct Case {
        std::uint32_t textSize;
        bool withBuffer;
        const char* expected;
    };
    const Case cases[] = {
        {64, true, "no frames for 6 s from 10.1.2.3"},
        {10, true, "no frames"},  // cut, and still terminated
        {1, true, ""},            // room for the terminator only
        {0, true, "xyz"},         // a text size of 0 leaves the buffer alone
        {64, false, "xyz"},       // no buffer: nothing written
    };
    for (const Case& c : cases) {
        char text[64] = "xyz";
        std::uint32_t state = 99;
        std::uint32_t reserved = 99;
        EXPECT_TRUE(capture.GetChannelState(0, &state, &reserved, c.withBuffer ? text : nullptr,
                                            c.textSize));
        EXPECT_EQ(state, kChannelNoFrames);
        EXPECT_EQ(reserved, 0u);
        EXPECT_STREQ(text, c.expected) << c.textSize;
    }
}

TEST_F(CaptureFixture, ReservedEntriesAnswerConstants) {
    CIPVideoCapture capture(&creator, 1);
    EXPECT_EQ(capture.QueryCaptureExtension(), nullptr);
    EXPECT_FALSE(capture.Reserved1(1, 2, 3));
    EXPECT_FALSE(capture.Reserved2(1, 2, 3));
}

TEST_F(CaptureFixture, DestructionStopsEveryChannel) {
    {
        CIPVideoCapture capture(&creator, 3);
        ASSERT_TRUE(capture.StartChannel(0, &sink, &settings));
        ASSERT_TRUE(capture.StartChannel(2, &sink, &settings));
    }
    const std::vector<std::string> expected = {"channel 0 start", "channel 2 start",
                                               "channel 0 stop", "channel 0 destroyed",
                                               "channel 2 stop", "channel 2 destroyed"};
    EXPECT_EQ(creator.log.Events(), expected);
}

// A second host thread's operation on an index waits for the one under way: it neither destroys the
// channel under it nor misses the channel it is starting.
TEST_F(CaptureFixture, OperationsOnOneIndexFromTwoHostThreadsTakeTurns) {
    enum class Op { kStart, kStop, kReconfigure };
    struct Case {
        const char* name;
        Op first;  // held in the middle of the channel's Start or Restart
        Op second;
        std::vector<std::string> expected;
        bool secondResult;
    };
    const Case cases[] = {
        {"stop during start", Op::kStart, Op::kStop,
         {"channel 0 start", "channel 0 start ended", "channel 0 stop", "channel 0 destroyed"}, true},
        {"stop during reconfigure", Op::kReconfigure, Op::kStop,
         {"channel 0 restart", "channel 0 restart ended", "channel 0 stop", "channel 0 destroyed"}, true},
        {"start during reconfigure", Op::kReconfigure, Op::kStart,
         {"channel 0 restart", "channel 0 restart ended", "channel 0 stop", "channel 0 destroyed",
          "channel 0 start"},
         true},
        {"reconfigure during start", Op::kStart, Op::kReconfigure,
         {"channel 0 start", "channel 0 start ended", "channel 0 restart"}, true},
    };
    CHostVideoSize size(352, 288);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFakeCreator local;
        CIPVideoCapture capture(&local, 1);
        auto run = [&](Op op) {
            switch (op) {
                case Op::kStart: return capture.StartChannel(0, &sink, &settings);
                case Op::kStop: return capture.StopChannel(0);
                case Op::kReconfigure: return capture.ReconfigureChannel(0, &size, 40);
            }
            return false;
        };
        if (c.first == Op::kReconfigure) ASSERT_TRUE(capture.StartChannel(0, &sink, &settings));
        local.log.events.clear();
        local.log.holdInside.store(true);
        auto first = std::async(std::launch::async, [&] { return run(c.first); });
        ASSERT_TRUE(local.log.entered.Wait(5000));
        local.log.holdInside.store(false);
        auto second = std::async(std::launch::async, [&] { return run(c.second); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the second call is waiting
        local.log.release.Set();
        EXPECT_TRUE(first.get());
        EXPECT_EQ(second.get(), c.secondResult);
        EXPECT_EQ(local.log.Events(), c.expected);
    }
}

// Several host threads on one index at once; the sanitizers watch the slot and the channels.
TEST_F(CaptureFixture, HammeringOneIndexFromSeveralHostThreadsLeavesNothingRunning) {
    CIPVideoCapture capture(&creator, 1);
    CHostVideoSize size(352, 288);
    std::atomic<bool> go{true};
    std::vector<std::thread> threads;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        threads.emplace_back([&, seed] {
            std::minstd_rand random(seed);
            while (go.load()) {
                std::uint32_t state = 0;
                char text[32];
                switch (random() % 4) {
                    case 0: capture.StartChannel(0, &sink, &settings); break;
                    case 1: capture.StopChannel(0); break;
                    case 2: capture.ReconfigureChannel(0, &size, 40); break;
                    default: capture.GetChannelState(0, &state, nullptr, text, sizeof text); break;
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    go.store(false);
    for (std::thread& thread : threads) thread.join();
    capture.StopChannel(0);
    std::size_t starts = 0;
    std::size_t stops = 0;
    for (const std::string& event : creator.log.Events()) {
        starts += event == "channel 0 start";
        stops += event == "channel 0 stop";
    }
    EXPECT_GT(starts, 0u);
    EXPECT_EQ(starts, stops);  // every channel started was stopped, and waited for
}

}  // namespace
}  // namespace kestrel
