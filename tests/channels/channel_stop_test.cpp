// A stop returns within twice the operation time-out whatever the camera hangs in, and nothing
// reaches the host or the driver afterwards.
#include <gtest/gtest.h>

#include <chrono>

#include "channel_fixture.h"
#include "channels/common_rtsp_channel.h"
#include "channels/mjpeg_http_channel.h"

namespace kestrel::testing_support {
namespace {

using namespace std::chrono_literals;
using namespace ipcapture;

constexpr CHANNEL_PARAMS kPal{40, 50, 704, 576};

struct StopCase {
    const char* name;
    bool http;
    bool defaultTimeouts;
    const char* fault;           // a control command, applied before the start
    const char* hungRequest;     // "http NAME" or "rtsp NAME": the stop comes once it arrived
    bool faultAfterFrames;       // the fault comes once frames flow
};

class StopTest : public ChannelTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopTest, StopIsBoundedAndFinal) {
    const StopCase& c = GetParam();
    if (!c.defaultTimeouts) UseShortTimeouts();
    StartCamera();
    std::unique_ptr<ICameraChannel> channel;
    if (c.http) {
        channel = std::make_unique<CMjpegHttpChannel>(0, &driver, &sink);
    } else {
        channel = std::make_unique<CH264RtspChannel>(0, &driver, &sink);
    }
    if (!c.faultAfterFrames) camera->Execute(c.fault);
    ASSERT_TRUE(channel->Start(&kPal));
    if (c.faultAfterFrames) {
        ASSERT_TRUE(sink.WaitForFrames(3, 10s));
        camera->Execute(c.fault);
    }
    const std::string hung = c.hungRequest;
    const std::string protocol = hung.substr(0, hung.find(' '));
    const std::string request = hung.substr(hung.find(' ') + 1);
    if (!c.faultAfterFrames || !request.empty()) {
        ASSERT_TRUE(WaitUntil([&] { return Count(protocol.c_str(), request.c_str()) > 0; }, 10s));
    }
    std::this_thread::sleep_for(200ms);  // the request is now in flight

    const auto before = std::chrono::steady_clock::now();
    channel->Stop();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, 2 * std::chrono::milliseconds(driver.device.operationTimeout));
    std::cout << c.name << ": stop took "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";

    const std::size_t frames = sink.Frames().size();
    const std::uint32_t lost = sink.SignalLostCount();
    const std::size_t messages = driver.Messages().size();
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(sink.Frames().size(), frames);
    EXPECT_EQ(sink.SignalLostCount(), lost);
    EXPECT_EQ(driver.Messages().size(), messages);
    EXPECT_EQ(driver.pool.Outstanding(), 0u);
    EXPECT_EQ(channel->GetState(), kChannelStopped);
}

INSTANTIATE_TEST_SUITE_P(
    WhileTheCameraHangs, StopTest,
    ::testing::Values(StopCase{"Login", false, false, "never http login", "http login", false},
                      StopCase{"StreamingSettings", false, false, "never http StreamingSetting.xml",
                               "http StreamingSetting.xml", false},
                      StopCase{"Describe", false, false, "never rtsp DESCRIBE", "rtsp DESCRIBE", false},
                      StopCase{"DescribeWithDefaultTimeouts", false, true, "never rtsp DESCRIBE", "rtsp DESCRIBE",
                               false},
                      StopCase{"Teardown", false, false, "never rtsp TEARDOWN", "rtsp ", true},
                      StopCase{"MjpegBody", true, false, "pause 60", "http ", true},
                      StopCase{"MjpegLogin", true, false, "never http login", "http login", false}),
    [](const auto& info) { return std::string(info.param.name); });

class PromptStopTest : public ChannelTest {
protected:
    std::size_t CountInRtcpLog(const std::string& item) {
        const std::string log = camera->Execute("rtcp") + " ";
        std::size_t found = 0;
        for (std::size_t at = log.find(item); at != std::string::npos; at = log.find(item, at + 1)) ++found;
        return found;
    }

    // Milliseconds the stop took.
    static long long TimeStop(ICameraChannel& channel) {
        const auto before = std::chrono::steady_clock::now();
        channel.Stop();
        const auto took = std::chrono::steady_clock::now() - before;
        return std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    }
};

// The camera's reports are answered while the session streams, and every stop says BYE and
// comes back without waiting out a receive time-out.
TEST_F(PromptStopTest, StreamingSessionAnswersReportsAndSaysByeAtOnceOnStop) {
    StartCamera();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const std::size_t answers = CountInRtcpLog(" rr:");
        const std::size_t byes = CountInRtcpLog(" bye:");
        CH264RtspChannel channel(0, &driver, &sink);
        ASSERT_TRUE(channel.Start(&kPal));
        ASSERT_TRUE(sink.WaitForFrames(3, 10s));
        ASSERT_TRUE(WaitUntil([&] { return CountInRtcpLog(" rr:") > answers; }, 5s)) << camera->Execute("rtcp");
        EXPECT_LT(TimeStop(channel), 1000);
        EXPECT_TRUE(WaitUntil([&] { return CountInRtcpLog(" bye:") > byes; }, 2s)) << camera->Execute("rtcp");
    }
}

// A stop while the channel watches a candidate port for strays ends that watch at once.
TEST_F(PromptStopTest, StopDuringThePortProbeEndsItsWait) {
    StartCamera();
    CH264RtspChannel channel(0, &driver, &sink);
    ASSERT_TRUE(channel.Start(&kPal));
    // The port is probed right after the web API login, before any RTSP request; the stop
    // comes within the first part of the probe.
    ASSERT_TRUE(WaitUntil([&] { return Count("http", "login") >= 2; }, 10s));
    ASSERT_EQ(Count("rtsp", "OPTIONS"), 0u);
    EXPECT_LT(TimeStop(channel), CBaseRTPChannel::kStrayPacketWaitMs / 2);
}

}  // namespace
}  // namespace kestrel::testing_support
