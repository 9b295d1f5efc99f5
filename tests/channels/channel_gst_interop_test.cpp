// The RTSP channels against GStreamer's RTSP server: the simulated camera's web API names the
// GStreamer server's port as the stream's RTSP port, so the session and the RTP come from an
// independent implementation. Runs inside tests/rtsp/gst_rtsp_peer.py, with or without its --tcp
// (servers that carry RTP only inside the RTSP connection and answer a UDP SETUP with 461).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <tuple>

#include "camsim/camera_simulator.h"
#include "driver/quillon_driver.h"
#include "host/reference_host.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using namespace ipcapture;

// The codec, and host parameter 2, the RTSP transport.
class ChannelGstInteropTest : public ::testing::TestWithParam<std::tuple<std::uint32_t, const char*>> {};

TEST_P(ChannelGstInteropTest, FramesFromGStreamersServer) {
    if (const char* missing = std::getenv("QUILLON_RTSP_PEER_MISSING")) GTEST_SKIP() << missing;
    const char* ports = std::getenv("QUILLON_RTSP_PEER");
    ASSERT_NE(ports, nullptr) << "run through gst_rtsp_peer.py";
    const std::uint32_t codec = std::get<0>(GetParam());
    const std::string transport = std::get<1>(GetParam());
    const bool tcpOnly = std::getenv("QUILLON_RTSP_PEER_TCP") != nullptr;
    unsigned openPort = 0, digestPort = 0, basicPort = 0, h264Port = 0;
    std::istringstream(ports) >> openPort >> digestPort >> basicPort >> h264Port;
    const bool h264 = codec == kCodecH264;
    if (h264 && h264Port == 0) GTEST_SKIP() << "no H.264 encoder for GStreamer";

    camsim::CameraConfig config;
    config.mediaDir = QUILLON_TESTDATA_DIR;
    camsim::CameraSimulator camera(config);
    ASSERT_TRUE(camera.Start());
    // H.264 comes from the camera's first stream, JPEG from its second.
    ASSERT_TRUE(camera.Settings().Apply(
        "<DeviceInfo><StreamingSetting><StreamingChannelList><StreamingChannelEntry><channelID>" +
        std::string(h264 ? "1" : "2") + "</channelID><TransportSetting><rtspPortNo>" +
        std::to_string(h264 ? h264Port : openPort) +
        "</rtspPortNo></TransportSetting></StreamingChannelEntry></StreamingChannelList></StreamingSetting>"
        "</DeviceInfo>"));

    quillon_host::HostCameraConfig host;
    host.port = camera.WebPort();
    host.codec = codec;
    host.parameters = {"(none)", transport};
    quillon_host::CHostDebugSink debug;
    quillon_host::CHostFramePool pool(64);
    quillon_host::CHostDriverSettings settings(host);
    CQuillonDriver quillon;
    IIPCaptureDriverEx& face = quillon;
    ASSERT_TRUE(face.Init(&debug, &pool, &settings));
    quillon_host::CRecordingSink sink;
    quillon_host::CHostChannelSettings channelSettings(quillon_host::HostChannelConfig{352, 288, 200, 50});
    IIPVideoCapture* capture = face.GetVideoCapture();
    ASSERT_TRUE(capture->StartChannel(0, &sink, &channelSettings));
    const bool arrived = sink.WaitForFrames(3, 20s);
    char text[256] = {};
    std::uint32_t state = 0, reserved = 0;
    capture->GetChannelState(0, &state, &reserved, text, sizeof text);
    ASSERT_TRUE(arrived) << text;
    const char* expected = transport == "tcp" ? " over TCP (asked) |" : tcpOnly ? " over TCP (UDP refused) |" : nullptr;
    if (expected != nullptr) {
        EXPECT_NE(std::string(text).find(expected), std::string::npos) << text;
    } else {
        EXPECT_EQ(std::string(text).find(" over TCP"), std::string::npos) << text;
    }
    for (const auto& frame : sink.Frames()) {
        EXPECT_EQ(frame.width, h264 ? 320u : 160u);  // what the server sends, not what was asked
        EXPECT_EQ(frame.height, h264 ? 240u : 120u);
        ASSERT_GT(frame.data.size(), 4u);
        if (h264) {
            EXPECT_TRUE(frame.fourCC == kFourCCH264Key || frame.fourCC == kFourCCH264);
            continue;
        }
        EXPECT_EQ(frame.fourCC, kFourCCJpeg);
        EXPECT_EQ(frame.data[0], 0xFF);
        EXPECT_EQ(frame.data[1], 0xD8);
        EXPECT_EQ(frame.data[frame.data.size() - 2], 0xFF);
        EXPECT_EQ(frame.data.back(), 0xD9);
    }
    EXPECT_TRUE(capture->StopChannel(0));
    face.Uninit();
}

INSTANTIATE_TEST_SUITE_P(CodecsAndTransports, ChannelGstInteropTest,
                         ::testing::Combine(::testing::Values(kCodecJpeg, kCodecH264),
                                            ::testing::Values("auto", "tcp")));

}  // namespace
}  // namespace kestrel
