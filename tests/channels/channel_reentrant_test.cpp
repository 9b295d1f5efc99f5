// The host calling back into the capture object from inside a channel's callbacks, as a server
// does when it stops or restarts a camera that lost its signal or whose disk filled.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "channel_fixture.h"
#include "channels/common_rtsp_channel.h"
#include "channels/mjpeg_http_channel.h"
#include "driver/ip_video_capture.h"

namespace kestrel::testing_support {
namespace {

using namespace std::chrono_literals;
using namespace ipcapture;

// Counts what reaches it and runs the test's reaction inside the callback.
class CHookSink final : public IChannelSink {
public:
    void* Destroy(unsigned int) override { return this; }
    bool DeliverFrame(IVideoFrame*) override {
        ++frames;
        if (afterReaction.load()) ++callsAfterReaction;
        if (onFrame) onFrame();
        return true;
    }
    void OnChannelEvent(std::uint32_t) override {}
    void OnSignalLost() override {
        if (afterReaction.load()) ++callsAfterReaction;
        if (onSignalLost) onSignalLost();
    }
    std::function<void()> onFrame;
    std::function<void()> onSignalLost;
    std::atomic<unsigned> frames{0};
    std::atomic<bool> afterReaction{false};
    std::atomic<unsigned> callsAfterReaction{0};
};

class CChannelCreator final : public ICustomCreator {
public:
    CChannelCreator(IDriver* driver, bool http) : m_driver(driver), m_http(http) {}
    std::unique_ptr<ICameraChannel> CreateChannel(std::uint32_t channel, IChannelSink* sink) override {
        if (m_http) return std::make_unique<CMjpegHttpChannel>(channel, m_driver, sink);
        return std::make_unique<CH264RtspChannel>(channel, m_driver, sink);
    }

private:
    IDriver* m_driver;
    bool m_http;
};

// kStoppedMessage: the offline report of a stop the host makes on its own thread.
enum class Trigger { kFrame, kSignalLost, kOnlineMessage, kStoppedMessage };
enum class Reaction { kStop, kStart, kReconfigure, kStopOther };

struct ReentrantCase {
    const char* name;
    bool http;
    Trigger trigger;
    Reaction reaction;
};

class ReentrantCallTest : public ChannelTest, public ::testing::WithParamInterface<ReentrantCase> {};

TEST_P(ReentrantCallTest, CallFromInsideACallbackReturnsAndHolds) {
    const ReentrantCase& c = GetParam();
    UseShortTimeouts();
    driver.channelCount = 2;
    StartCamera();
    CChannelCreator creator(&driver, c.http);
    auto capture = std::make_unique<CIPVideoCapture>(&creator, 2);
    CHookSink hooked;
    CHookSink other;
    quillon_host::CHostChannelSettings settings{quillon_host::HostChannelConfig{704, 576, 40, 50}};
    quillon_host::CHostVideoSize smaller(352, 288);

    std::atomic<bool> reacted{false};
    std::atomic<bool> returned{false};
    std::atomic<bool> result{false};
    auto react = [&] {
        if (reacted.exchange(true)) return;
        switch (c.reaction) {
            case Reaction::kStop: result = capture->StopChannel(0); break;
            case Reaction::kStart: result = capture->StartChannel(0, &hooked, &settings); break;
            case Reaction::kReconfigure: result = capture->ReconfigureChannel(0, &smaller, 40); break;
            case Reaction::kStopOther: result = capture->StopChannel(1); break;
        }
        hooked.afterReaction.store(c.reaction == Reaction::kStop);
        returned.store(true);
    };
    switch (c.trigger) {
        case Trigger::kFrame: hooked.onFrame = react; break;
        case Trigger::kSignalLost: hooked.onSignalLost = react; break;
        case Trigger::kOnlineMessage:
        case Trigger::kStoppedMessage: {
            const char* wanted = c.trigger == Trigger::kOnlineMessage ? "is online" : "Channel was stopped";
            driver.onMessage = [&, wanted](const std::string& text) {
                if (text.find(wanted) != std::string::npos) react();
            };
            break;
        }
    }
    if (c.reaction == Reaction::kStopOther) {
        ASSERT_TRUE(capture->StartChannel(1, &other, &settings));
    }
    ASSERT_TRUE(capture->StartChannel(0, &hooked, &settings));
    if (c.trigger == Trigger::kSignalLost) {
        ASSERT_TRUE(WaitUntil([&] { return hooked.frames.load() >= 3; }, 10s));
        camera->Execute("pause 20");
    }
    if (c.trigger == Trigger::kStoppedMessage) {
        ASSERT_TRUE(WaitUntil([&] { return hooked.frames.load() >= 3; }, 10s));
        EXPECT_TRUE(capture->StopChannel(0));
    }
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }, 15s)) << "the call never returned";
    EXPECT_TRUE(result.load());

    std::uint32_t state = 0;
    switch (c.reaction) {
        case Reaction::kStop:
            std::this_thread::sleep_for(1500ms);
            EXPECT_EQ(hooked.callsAfterReaction.load(), 0u);
            EXPECT_FALSE(capture->GetChannelState(0, &state, nullptr, nullptr, 0));
            break;
        case Reaction::kStart:
        case Reaction::kReconfigure: {
            if (c.trigger == Trigger::kSignalLost) {
                camera->Execute("pause 0");
                // The camera lost its signal; the host's restart stopped nothing it can see.
                EXPECT_EQ(driver.CountMessages("Signal was lost"), 1u);
                EXPECT_EQ(driver.CountMessages("Channel was stopped"), 0u);
            }
            const unsigned before = hooked.frames.load();
            EXPECT_TRUE(WaitUntil([&] { return hooked.frames.load() >= before + 3; }, 15s));
            break;
        }
        case Reaction::kStopOther:
            EXPECT_FALSE(capture->GetChannelState(1, &state, nullptr, nullptr, 0));
            break;
    }
    // Joining what the callback could not wait for is bounded too.
    const auto before = std::chrono::steady_clock::now();
    capture.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 4s);
    EXPECT_EQ(driver.pool.Outstanding(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Channels, ReentrantCallTest,
    ::testing::Values(ReentrantCase{"RtpFrameStops", false, Trigger::kFrame, Reaction::kStop},
                      ReentrantCase{"RtpFrameRestarts", false, Trigger::kFrame, Reaction::kStart},
                      ReentrantCase{"RtpFrameReconfigures", false, Trigger::kFrame, Reaction::kReconfigure},
                      ReentrantCase{"RtpFrameStopsAnother", false, Trigger::kFrame, Reaction::kStopOther},
                      ReentrantCase{"RtpSignalLostStops", false, Trigger::kSignalLost, Reaction::kStop},
                      ReentrantCase{"RtpSignalLostRestarts", false, Trigger::kSignalLost, Reaction::kStart},
                      ReentrantCase{"HttpSignalLostReconfigures", true, Trigger::kSignalLost,
                                    Reaction::kReconfigure},
                      ReentrantCase{"RtpOnlineMessageStops", false, Trigger::kOnlineMessage, Reaction::kStop},
                      ReentrantCase{"RtpOnlineMessageReconfigures", false, Trigger::kOnlineMessage,
                                    Reaction::kReconfigure},
                      ReentrantCase{"RtpStoppedMessageRestarts", false, Trigger::kStoppedMessage,
                                    Reaction::kStart},
                      ReentrantCase{"RtpStoppedMessageStopsAnother", false, Trigger::kStoppedMessage,
                                    Reaction::kStopOther},
                      ReentrantCase{"HttpFrameStops", true, Trigger::kFrame, Reaction::kStop},
                      ReentrantCase{"HttpFrameReconfigures", true, Trigger::kFrame, Reaction::kReconfigure},
                      ReentrantCase{"HttpSignalLostStops", true, Trigger::kSignalLost, Reaction::kStop},
                      ReentrantCase{"HttpOnlineMessageRestarts", true, Trigger::kOnlineMessage,
                                    Reaction::kStart}),
    [](const auto& info) { return std::string(info.param.name); });

class LifecycleTest : public ChannelTest {};

// A restart is no stop: the host sees one continuous camera, frames again, and no offline report.
TEST_F(LifecycleTest, ReconfigureOfARunningChannelReportsNoOffline) {
    UseShortTimeouts();
    StartCamera();
    for (const bool http : {false, true}) {
        SCOPED_TRACE(http ? "MJPEG over HTTP" : "H.264 over RTSP");
        CChannelCreator creator(&driver, http);
        CIPVideoCapture capture(&creator, 1);
        CHookSink counted;
        quillon_host::CHostChannelSettings settings{quillon_host::HostChannelConfig{704, 576, 40, 50}};
        ASSERT_TRUE(capture.StartChannel(0, &counted, &settings));
        ASSERT_TRUE(WaitUntil([&] { return counted.frames.load() >= 3; }, 10s));
        quillon_host::CHostVideoSize smaller(352, 288);
        ASSERT_TRUE(capture.ReconfigureChannel(0, &smaller, 80));
        const unsigned before = counted.frames.load();
        EXPECT_TRUE(WaitUntil([&] { return counted.frames.load() >= before + 3; }, 10s));
        EXPECT_EQ(driver.CountMessages("offline"), 0u);
        EXPECT_EQ(driver.CountMessages("is online"), 1u);
        EXPECT_TRUE(capture.StopChannel(0));
        EXPECT_EQ(driver.CountMessages("is offline. Channel was stopped"), 1u);
        driver.ClearMessages();
    }
}

// The status line read by one host thread while another restarts the channel again and again.
TEST_F(LifecycleTest, StatusTextWhileRestartingFromAnotherThread) {
    UseShortTimeouts();
    StartCamera();
    CH264RtspChannel channel(0, &driver, &sink);
    const CHANNEL_PARAMS pal{40, 50, 704, 576};
    ASSERT_TRUE(channel.Start(&pal));
    std::atomic<bool> go{true};
    std::thread reader([&] {
        while (go.load()) (void)channel.GetStatusText();
    });
    for (int restart = 0; restart < 20; ++restart) {
        EXPECT_TRUE(channel.Restart(&pal));
        std::this_thread::sleep_for(20ms);
    }
    go.store(false);
    reader.join();
    channel.Stop();
}

}  // namespace
}  // namespace kestrel::testing_support
