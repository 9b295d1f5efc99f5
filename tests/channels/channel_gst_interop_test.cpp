// The JPEG RTSP channel against GStreamer's RTSP server: the simulated camera's web API names the
// GStreamer server's port as its second stream's RTSP port, so the session and the RTP come from
// an independent implementation. Runs inside tests/rtsp/gst_rtsp_peer.py.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "camsim/camera_simulator.h"
#include "driver/quillon_driver.h"
#include "host/reference_host.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using namespace ipcapture;

// Host parameter 2, the RTSP transport: automatic (UDP first), or RTP inside the RTSP connection.
class ChannelGstInteropTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ChannelGstInteropTest, JpegFramesFromGStreamersServer) {
    if (const char* missing = std::getenv("QUILLON_RTSP_PEER_MISSING")) GTEST_SKIP() << missing;
    const char* ports = std::getenv("QUILLON_RTSP_PEER");
    ASSERT_NE(ports, nullptr) << "run through gst_rtsp_peer.py";
    unsigned openPort = 0;
    std::istringstream(ports) >> openPort;

    camsim::CameraConfig config;
    config.mediaDir = QUILLON_TESTDATA_DIR;
    camsim::CameraSimulator camera(config);
    ASSERT_TRUE(camera.Start());
    ASSERT_TRUE(camera.Settings().Apply(
        "<DeviceInfo><StreamingSetting><StreamingChannelList><StreamingChannelEntry><channelID>2</channelID>"
        "<TransportSetting><rtspPortNo>" + std::to_string(openPort) +
        "</rtspPortNo></TransportSetting></StreamingChannelEntry></StreamingChannelList></StreamingSetting>"
        "</DeviceInfo>"));

    quillon_host::HostCameraConfig host;
    host.port = camera.WebPort();
    host.codec = kCodecJpeg;
    host.parameters = {"(none)", GetParam()};
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
    EXPECT_EQ(std::string(text).find(" over TCP (asked) |") != std::string::npos, std::string(GetParam()) == "tcp")
        << text;
    for (const auto& frame : sink.Frames()) {
        EXPECT_EQ(frame.fourCC, kFourCCJpeg);
        EXPECT_EQ(frame.width, 160u);  // what the server sends, not what was asked
        EXPECT_EQ(frame.height, 120u);
        ASSERT_GT(frame.data.size(), 4u);
        EXPECT_EQ(frame.data[0], 0xFF);
        EXPECT_EQ(frame.data[1], 0xD8);
        EXPECT_EQ(frame.data[frame.data.size() - 2], 0xFF);
        EXPECT_EQ(frame.data.back(), 0xD9);
    }
    EXPECT_TRUE(capture->StopChannel(0));
    face.Uninit();
}

INSTANTIATE_TEST_SUITE_P(Transports, ChannelGstInteropTest, ::testing::Values("auto", "tcp"));

}  // namespace
}  // namespace kestrel
