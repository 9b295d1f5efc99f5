// How a channel watches its camera: reconnection, lost signal, keep-alives, ports, names, and
// what it tells the operator, with short time-outs against the simulated camera.
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
constexpr char kFunction[] = "kestrel::CBaseCameraChannel::SetCameraState: ";

class SupervisionTest : public ChannelTest {
protected:
    void SetUp() override { UseShortTimeouts(); }

    std::unique_ptr<CH264RtspChannel> StartH264(std::uint32_t index = 0, CHANNEL_PARAMS params = kPal) {
        auto channel = std::make_unique<CH264RtspChannel>(index, &driver, &sink);
        EXPECT_TRUE(channel->Start(&params));
        return channel;
    }
};

TEST_F(SupervisionTest, ShortStallReconnectsWithoutGoingOffline) {
    // Frames stop for longer than the frame time-out but not twice as long.
    driver.device.frameTimeout = 2000;
    StartCamera();
    auto channel = StartH264();
    ASSERT_TRUE(sink.WaitForFrames(5, 10s));
    const unsigned describes = Count("rtsp", "DESCRIBE");
    camera->GetFaults().PauseStreams(3000ms);
    EXPECT_TRUE(WaitUntil([&] { return channel->GetStatusText().find("no frames for") != std::string::npos; }, 5s));
    const std::size_t before = sink.Frames().size();
    ASSERT_TRUE(WaitUntil([&] { return sink.Frames().size() > before + 5; }, 10s));
    EXPECT_GT(Count("rtsp", "DESCRIBE"), describes);  // a new session, not the old one resumed
    EXPECT_EQ(sink.SignalLostCount(), 0u);
    EXPECT_EQ(driver.CountMessages("Signal was lost"), 0u);
    EXPECT_EQ(driver.CountMessages("is online"), 1u);
}

// The line read by a host that looks rarely, then often while the camera pauses.
TEST_F(SupervisionTest, StatusLineFollowsTheFactsAndTheState) {
    driver.device.frameTimeout = 2000;
    StartCamera();
    auto channel = StartH264();
    ASSERT_TRUE(sink.WaitForFrames(5, 10s));
    std::this_thread::sleep_for(1500ms);
    const std::string first = channel->GetStatusText();  // the first read of all
    EXPECT_EQ(first.rfind("streaming H.264 704x576 ", 0), 0u) << first;
    EXPECT_GT(std::atof(first.c_str() + std::string("streaming H.264 704x576 ").size()), 15.0) << first;

    camera->Execute("pause 6");
    const auto paused = std::chrono::steady_clock::now();
    unsigned lastSeconds = 0;
    while (std::chrono::steady_clock::now() - paused < 5s) {
        const std::uint32_t before = channel->GetState();
        const std::string text = channel->GetStatusText();
        if (channel->GetState() != before) continue;
        SCOPED_TRACE(text);
        const char* expected = before == kChannelStreaming ? (text.rfind("streaming ", 0) == 0 ? "streaming " : "connected")
                               : before == kChannelNoFrames ? "no frames for "
                                                            : "connecting";
        EXPECT_EQ(text.rfind(expected, 0), 0u) << "state " << before;
        if (std::chrono::steady_clock::now() - paused > 3s) {
            EXPECT_EQ(text.rfind("streaming", 0), std::string::npos);
        }
        const std::size_t at = text.find("no frames for ");
        if (at != std::string::npos) {
            const unsigned seconds = unsigned(std::atoi(text.c_str() + at + 14));
            EXPECT_GE(seconds, lastSeconds);
            lastSeconds = seconds;
            // Nothing of the camera's stream arrives; strays of other sessions on this machine
            // (the suites run side by side on the same port range) may. A reconnection that
            // hears nothing over UDP may have gone on to TCP.
            const bool nothingOfTheStream = text.find("(no RTP arrives; UDP blocked?)") != std::string::npos ||
                                            text.find("(only foreign packets arrive)") != std::string::npos ||
                                            text.find("(no RTP arrives over TCP)") != std::string::npos;
            EXPECT_TRUE(seconds < 1 || nothingOfTheStream);
        }
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_GE(lastSeconds, 4u);
}

TEST_F(SupervisionTest, LongStallLosesTheSignalOfTheVideoServersChannelOnce) {
    StartCamera();
    driver.channelCount = 4;
    auto channel = StartH264(2);
    ASSERT_TRUE(sink.WaitForFrames(5, 10s));
    camera->Execute("pause 7");
    ASSERT_TRUE(WaitUntil([&] { return sink.SignalLostCount() > 0; }, 10s));
    const std::size_t before = sink.Frames().size();
    ASSERT_TRUE(WaitUntil([&] { return sink.Frames().size() > before + 5; }, 15s));
    channel->Stop();
    const std::string name = "Video-server 127.0.0.1 (channel 2)";
    EXPECT_EQ(driver.CountMessages(kFunction + name + " is online"), 2u);
    EXPECT_EQ(driver.CountMessages(std::string(kFunction) + "Signal was lost for video-server 127.0.0.1 (channel 2)"), 1u);
    EXPECT_EQ(driver.CountMessages(kFunction + name + " is offline. Channel was stopped"), 1u);
}

TEST_F(SupervisionTest, KeepAliveHoldsTheSessionAtHalfItsTimeout) {
    camsim::CameraConfig config;
    config.sessionTimeoutS = 4;
    StartCamera(config);
    auto channel = StartH264();
    ASSERT_TRUE(sink.WaitForFrames(1, 10s));
    const unsigned options = Count("rtsp", "OPTIONS");
    const unsigned describes = Count("rtsp", "DESCRIBE");
    std::this_thread::sleep_for(9s);
    // OPTIONS once more than two seconds have passed, checked once a second: every 2-3 s.
    EXPECT_GE(Count("rtsp", "OPTIONS") - options, 3u);
    EXPECT_LE(Count("rtsp", "OPTIONS") - options, 5u);
    EXPECT_EQ(Count("rtsp", "DESCRIBE"), describes);  // the same session all along
    EXPECT_EQ(channel->GetState(), kChannelStreaming);
}

TEST_F(SupervisionTest, PortWithAStrayStreamIsPassedOver) {
    StartCamera();
    camera->Execute("old-stream 3556 15");
    auto channel = StartH264();
    ASSERT_TRUE(sink.WaitForFrames(5, 15s));
    // The session's stream goes to another even port than the stray stream's.
    const std::string streams = camera->Execute("streams") + " ";
    auto count = [&](const std::string& text) {
        std::size_t found = 0;
        for (std::size_t at = streams.find(text); at != std::string::npos; at = streams.find(text, at + 1)) ++found;
        return found;
    };
    EXPECT_EQ(count(":client="), 2u) << streams;       // the stray stream and the session's
    EXPECT_EQ(count(":client=3556 "), 1u) << streams;  // the stray one only
}

TEST_F(SupervisionTest, LossAndReorderingCostFramesButNotTheStream) {
    StartCamera();
    camera->Execute("rates 0.01 0.01 0.01");
    auto channel = StartH264();
    ASSERT_TRUE(sink.WaitForFrames(60, 15s));
    EXPECT_EQ(channel->GetState(), kChannelStreaming);
    EXPECT_EQ(channel->GetStatusText().find("gaps 0,"), std::string::npos) << channel->GetStatusText();
}

TEST_F(SupervisionTest, RestartedCameraStreamsAgain) {
    StartCamera();
    auto channel = StartH264();
    ASSERT_TRUE(sink.WaitForFrames(5, 10s));
    camsim::CameraConfig config;
    config.webPort = camera->WebPort();
    config.rtspPort = camera->RtspPort();
    config.rtpPort = camera->RtpPort();
    config.controlEnabled = false;
    camera->Stop();
    camera.reset();
    std::this_thread::sleep_for(500ms);
    StartSimulator(config);
    const std::size_t before = sink.Frames().size();
    EXPECT_TRUE(WaitUntil([&] { return sink.Frames().size() > before + 5; }, 15s));
}

TEST_F(SupervisionTest, ACameraThatNamesNoRtspPortIsTriedOnRtspsOwnAndSaysSoOnce) {
    StartCamera();
    std::string document = camera->Settings().Document();
    const std::string port = "<rtspPortNo>" + std::to_string(camera->RtspPort()) + "</rtspPortNo>";
    ASSERT_NE(document.find(port), std::string::npos);
    document.replace(document.find(port), port.size(), "<rtspPortNo>rtsp</rtspPortNo>");
    ASSERT_TRUE(camera->Settings().Apply(document));
    auto channel = StartH264();
    // Two connection attempts, each a configuring login and a session login.
    EXPECT_TRUE(WaitUntil([&] { return Count("http", "login") >= 4; }, 10s));
    channel->Stop();
    std::size_t reports = 0;
    for (const quillon_host::DebugRecord& record : driver.Messages()) {
        if (record.text.find("RTSP port \"rtsp\", which is no port; using 554") == std::string::npos) continue;
        ++reports;
        EXPECT_EQ(record.level, 1);
    }
    EXPECT_EQ(reports, 1u);
}

TEST_F(SupervisionTest, CameraKnownByNameAndStreamNamedWithABlankStream) {
    camsim::CameraConfig config;
    config.streams[0].channelName = "Front Door";
    StartCamera(config);
    driver.device.host = "localhost";
    auto channel = StartH264();
    EXPECT_TRUE(sink.WaitForFrames(5, 10s)) << channel->GetStatusText();
}

TEST_F(SupervisionTest, ZeroFrameIntervalStreamsAtTheCamerasFastestRate) {
    StartCamera();
    auto channel = StartH264(0, CHANNEL_PARAMS{0, 50, 704, 576});
    ASSERT_TRUE(sink.WaitForFrames(5, 10s));
    EXPECT_EQ(camera->Settings().Streams()[0].frameRate, 25u);
}

TEST_F(SupervisionTest, HostStopOfTheHttpChannelIsNoLostSignal) {
    StartCamera();
    CMjpegHttpChannel channel(0, &driver, &sink);
    ASSERT_TRUE(channel.Start(&kPal));
    ASSERT_TRUE(sink.WaitForFrames(5, 10s));
    channel.Stop();
    EXPECT_EQ(channel.GetState(), kChannelStopped);
    EXPECT_EQ(sink.SignalLostCount(), 0u);
    EXPECT_EQ(driver.CountMessages("Signal was lost"), 0u);
    EXPECT_EQ(driver.CountMessages("is offline. Channel was stopped"), 1u);
}

// A camera whose web API works but whose stream request fails: each attempt logs in and writes
// the settings, so attempts must wait the retry wait, and the host must hear the signal lost.
TEST_F(SupervisionTest, MjpegStreamThatIsNoStreamIsRetriedAfterAPauseAndLosesTheSignal) {
    struct Case {
        const char* fault;
        const char* expected;
    };
    const Case cases[] = {
        {"status http video.mjpeg 404", "(MJPEG stream answered 404) |"},
        {"status http video.mjpeg 200", "(MJPEG stream answered 200 without a multipart stream"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartCamera();
        ASSERT_EQ(camera->Execute(c.fault), "OK");
        const std::uint32_t lostBefore = sink.SignalLostCount();
        CMjpegHttpChannel channel(0, &driver, &sink);
        ASSERT_TRUE(channel.Start(&kPal));
        // Attempts at 0 s and after one retry wait; the third would come after two.
        std::this_thread::sleep_for(std::chrono::milliseconds(CBaseHttpChannel::kRetryAfterTimeoutMs) + 1500ms);
        EXPECT_EQ(Count("http", "video.mjpeg"), 2u);
        EXPECT_EQ(Count("http", "login"), 2u);
        // State 2, and why: the status line says both.
        const std::string status = channel.GetStatusText();
        EXPECT_EQ(status.rfind("no frames for ", 0), 0u) << status;
        EXPECT_NE(status.find(c.expected), std::string::npos) << status;
        EXPECT_EQ(channel.GetState(), kChannelNoFrames);
        EXPECT_GT(sink.SignalLostCount(), lostBefore);
        channel.Stop();
        camera.reset();
    }
}

// The status line for each reason a camera stays dark.
TEST_F(SupervisionTest, StatusTextSaysWhyTheCameraIsDark) {
    struct Case {
        const char* name;
        camsim::AuthScheme httpAuth;
        const char* password;
        const char* fault;
        const char* expected;
    };
    const Case cases[] = {
        {"wrong account", camsim::AuthScheme::kNone, "wrong", "", "connecting: web API login refused by the camera |"},
        {"HTTP refusal", camsim::AuthScheme::kDigest, "wrong", "", "connecting: web API login refused (HTTP 401) |"},
        {"DESCRIBE refused", camsim::AuthScheme::kNone, "admin", "status rtsp DESCRIBE 404",
         "connecting: RTSP DESCRIBE answered 404 |"},
        {"settings too large", camsim::AuthScheme::kNone, "admin", "pad http StreamingSetting.xml 4200000",
         "connecting: reading the streaming settings failed: answer too large |"},
        {"no RTP", camsim::AuthScheme::kNone, "admin", "pause 30",
         "(no RTP arrives; UDP blocked?) | packets 0, gaps 0, frames 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        camsim::CameraConfig config;
        config.httpAuth.scheme = c.httpAuth;
        StartCamera(config);
        driver.device.password = c.password;
        camera->Execute(c.fault);
        auto channel = StartH264();
        EXPECT_TRUE(WaitUntil([&] { return channel->GetStatusText().find(c.expected) != std::string::npos; }, 8s))
            << channel->GetStatusText();
        channel->Stop();
        EXPECT_EQ(channel->GetStatusText().rfind("stopped |", 0), 0u);
        camera.reset();
    }
}

TEST_F(SupervisionTest, UnreachableCameraIsNamedAsSuch) {
    driver.device.host = "127.0.0.1";
    driver.device.port = 9;  // discard: nothing listens there on a test machine
    auto channel = StartH264();
    EXPECT_TRUE(WaitUntil([&] {
        return channel->GetStatusText().rfind("connecting: web API login failed: camera unreachable", 0) == 0;
    }, 8s)) << channel->GetStatusText();
}

}  // namespace
}  // namespace kestrel::testing_support
