#include "channels/channel_status.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kestrel {
namespace {

std::uint64_t g_nowMs = 0;
std::uint64_t FakeClock() { return g_nowMs; }

// `seconds` of a stream at `fps` frames of `packets` packets of 1000 payload bytes, from now on.
void Stream(CChannelStatus& status, unsigned seconds, unsigned fps, unsigned packets) {
    for (unsigned frame = 0; frame < seconds * fps; ++frame) {
        for (unsigned p = 0; p < packets; ++p) status.CountPacket(1000);
        status.CountFrame(640, 480);
        g_nowMs += 1000 / fps;
    }
}

ChannelView View(std::uint32_t state, std::uint32_t sinceFrameMs, bool rtp = true) {
    ChannelView view;
    view.state = state;
    view.running = true;
    view.rtp = rtp;
    view.codecName = "H.264";
    view.address = "10.1.2.3";
    view.sinceFrameMs = sinceFrameMs;
    return view;
}

// The number in front of `unit` in `text`.
double NumberBefore(const std::string& text, const std::string& unit) {
    const std::size_t at = text.find(unit);
    if (at == std::string::npos) return -1;
    const std::size_t start = text.rfind(' ', at - 2) + 1;
    return std::atof(text.substr(start, at - start).c_str());
}

TEST(ChannelStatusTest, RateIsTheChannelsOwnWhoeverAsksAndHowOften) {
    g_nowMs = 100000;
    CChannelStatus status(FakeClock);
    status.MarkConnected();
    // The host asked for 704x576; the camera sends 640x480 at 25 fps, 5 kB a frame.
    Stream(status, 10, 25, 5);
    // The first read after ten seconds, and one right after it.
    for (int read = 0; read < 2; ++read) {
        const std::string text = status.Describe(View(0, 40));
        EXPECT_EQ(text.rfind("streaming H.264 640x480 ", 0), 0u) << text;
        EXPECT_NEAR(NumberBefore(text, " fps"), 25.0, 1.0) << text;
        EXPECT_NEAR(NumberBefore(text, " Mbit/s"), 1.0, 0.05) << text;
    }
    // Half a second into the stream the rate is already the stream's.
    g_nowMs += 60000;
    status.MarkConnected();
    Stream(status, 1, 10, 1);
    const std::string early = status.Describe(View(0, 100));
    EXPECT_NEAR(NumberBefore(early, " fps"), 10.0, 1.0) << early;
}

TEST(ChannelStatusTest, ConditionFollowsTheStateAndTheLastSeconds) {
    struct Case {
        const char* name;
        std::uint32_t state;
        std::uint32_t sinceFrameMs;
        bool rtp;
        unsigned packetsNow;  // in the last second
        unsigned foreignNow;
        const char* failure;
        const char* expected;  // the condition, before " | "
    };
    const Case cases[] = {
        {"a pause: packets stopped too", 2, 7000, true, 0, 0, "",
         "no frames for 7 s from 10.1.2.3 (no RTP arrives; UDP blocked?)"},
        {"packets without frames", 2, 6000, true, 30, 0, "",
         "no frames for 6 s from 10.1.2.3 (packets arrive but make no frame)"},
        {"only someone else's packets", 2, 6000, true, 0, 30, "",
         "no frames for 6 s from 10.1.2.3 (only foreign packets arrive)"},
        {"connected again, still no frames", 0, 9000, true, 0, 0, "",
         "connected, no frames for 9 s from 10.1.2.3 (no RTP arrives; UDP blocked?)"},
        {"streaming stopped short of the time-out", 0, 2500, true, 0, 0, "",
         "connected, no frames for 2 s from 10.1.2.3 (no RTP arrives; UDP blocked?)"},
        {"reconnecting after the frames stopped", 3, 6000, true, 0, 0, "",
         "connecting, no frames for 6 s from 10.1.2.3 (no RTP arrives; UDP blocked?)"},
        {"a failed attempt says why", 3, 6000, true, 0, 0, "RTSP DESCRIBE answered 404",
         "connecting: RTSP DESCRIBE answered 404"},
        {"the time-out after failed attempts says why", 2, 6000, false, 30, 0, "MJPEG stream answered 404",
         "no frames for 6 s from 10.1.2.3 (MJPEG stream answered 404)"},
        {"HTTP bytes without pictures", 2, 6000, false, 30, 0, "",
         "no frames for 6 s from 10.1.2.3 (the stream carries no picture)"},
        {"HTTP stream silent", 2, 6000, false, 0, 0, "", "no frames for 6 s from 10.1.2.3 (the stream sends nothing)"},
    };
    for (const Case& c : cases) {
        g_nowMs = 500000;
        CChannelStatus status(FakeClock);
        status.MarkConnected();
        Stream(status, 2, 25, 5);  // frames earlier, before the window of the last seconds
        g_nowMs += 10000;
        if (c.state != 2) status.MarkConnected();
        g_nowMs += 5000;
        for (unsigned i = 0; i < c.packetsNow; ++i) status.CountPacket(1000);
        for (unsigned i = 0; i < c.foreignNow; ++i) status.CountForeign();
        if (*c.failure != '\0') status.SetFailure(c.failure);
        const std::string text = status.Describe(View(c.state, c.sinceFrameMs, c.rtp));
        EXPECT_EQ(text.substr(0, text.find(" | ")), c.expected) << c.name;
    }
}

TEST(ChannelStatusTest, InterleavedRtpNamesTcpAndWhy) {
    g_nowMs = 700000;
    CChannelStatus status(FakeClock);
    status.MarkConnected();
    status.SetKernelDrops(3);  // from an earlier UDP connection's socket
    Stream(status, 2, 25, 5);
    status.CountResync();
    status.CountResync();
    ChannelView view = View(0, 40);
    view.tcpReason = "no UDP arrived";
    const std::string streaming = status.Describe(view);
    EXPECT_NE(streaming.find("fps 1.0 Mbit/s over TCP (no UDP arrived) | "), std::string::npos) << streaming;
    EXPECT_NE(streaming.find("kernel drops n/a,"), std::string::npos) << streaming;
    EXPECT_NE(streaming.find(", resyncs 2"), std::string::npos) << streaming;

    g_nowMs += 7000;
    view = View(2, 7000);
    view.tcpReason = "asked";
    const std::string silent = status.Describe(view);
    EXPECT_EQ(silent.substr(0, silent.find(" | ")), "no frames for 7 s from 10.1.2.3 (no RTP arrives over TCP)");

    const std::string udp = status.Describe(View(2, 7000));
    EXPECT_NE(udp.find("kernel drops 3,"), std::string::npos) << udp;
    EXPECT_EQ(udp.find("resyncs"), std::string::npos) << udp;
}

TEST(ChannelStatusTest, NewConnectionWaitsForItsFirstFrameThenSaysHowLong) {
    g_nowMs = 900000;
    CChannelStatus status(FakeClock);
    EXPECT_EQ(status.Describe(View(3, 0)).rfind("connecting |", 0), 0u);
    status.MarkConnected();
    g_nowMs += 1500;
    EXPECT_EQ(status.Describe(View(0, 1500)).rfind("connected, waiting for the first frame |", 0), 0u);
    g_nowMs += 1500;
    EXPECT_EQ(status.Describe(View(0, 3000)).rfind("connected, no frames for 3 s", 0), 0u);
    ChannelView stopped = View(3, 3000);
    stopped.running = false;
    EXPECT_EQ(status.Describe(stopped).rfind("stopped |", 0), 0u);
}

}  // namespace
}  // namespace kestrel
