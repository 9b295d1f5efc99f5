// Live video from the simulated camera through the real driver, for every codec and transport.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "channels/common_rtsp_channel.h"
#include "channel_fixture.h"
#include "driver/quillon_driver.h"

namespace kestrel::testing_support {
namespace {

using namespace std::chrono_literals;
using namespace ipcapture;
using quillon_host::HostCameraConfig;
using quillon_host::HostChannelConfig;

struct CodecCase {
    const char* name;
    const char* clip;  // the testdata file the simulator streams for 704x576
    std::uint32_t codec;
    const char* transport;  // host parameter 1
    std::uint32_t keyCode;
    std::uint32_t otherCode;
    std::size_t cameraStream;  // index in the camera's stream list
    const char* cameraCodec;
};

class DriverStreamingTest : public ChannelTest, public ::testing::WithParamInterface<CodecCase> {};

using Bytes = std::vector<std::uint8_t>;

Bytes ReadClip(const std::string& name) {
    std::ifstream file(std::string(QUILLON_TESTDATA_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The NAL units of an Annex B stream, without their start codes.
std::vector<Bytes> NalUnits(const Bytes& stream) {
    std::vector<Bytes> units;
    std::size_t start = std::string::npos;
    for (std::size_t i = 0; i + 2 < stream.size(); ++i) {
        if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1) continue;
        if (start != std::string::npos) {
            std::size_t end = i;
            while (end > start && stream[end - 1] == 0) --end;  // a four-byte start code's zero
            units.emplace_back(stream.begin() + long(start), stream.begin() + long(end));
        }
        start = i + 3;
        i += 2;
    }
    if (start != std::string::npos) units.emplace_back(stream.begin() + long(start), stream.end());
    return units;
}

// Every frame carries the clip's own bytes: whole H.264 NAL units, or a run of the file.
void ExpectFramesFromClip(const CodecCase& c, const std::vector<quillon_host::ReceivedFrame>& frames) {
    if (*c.clip == '\0') return;  // RTP JPEG pictures are rebuilt from their scan, not copied
    const Bytes clip = ReadClip(c.clip);
    ASSERT_FALSE(clip.empty()) << c.clip;
    if (c.codec == kCodecH264) {
        const std::vector<Bytes> units = NalUnits(clip);
        const std::set<Bytes> known(units.begin(), units.end());
        for (const auto& frame : frames) {
            for (const Bytes& unit : NalUnits(frame.data)) {
                const bool delimiter = (unit[0] & 31) == 9;  // the depacketiser writes its own
                EXPECT_TRUE(delimiter || known.count(unit)) << "NAL type " << (unit[0] & 31);
            }
        }
        return;
    }
    for (const auto& frame : frames) {
        EXPECT_NE(std::search(clip.begin(), clip.end(), frame.data.begin(), frame.data.end()), clip.end());
    }
}

bool IsJpegPicture(const quillon_host::ReceivedFrame& frame) {
    const auto& data = frame.data;
    return data.size() > 4 && data[0] == 0xFF && data[1] == 0xD8 && data[data.size() - 2] == 0xFF &&
           data.back() == 0xD9;
}

TEST_P(DriverStreamingTest, FramesOfTheCodecArriveAndTheCameraIsSetUpForThem) {
    const CodecCase& c = GetParam();
    StartCamera();
    HostCameraConfig host;
    host.port = camera->WebPort();
    host.codec = c.codec;
    host.parameters = {c.transport};
    quillon_host::CHostDebugSink debug;
    quillon_host::CHostFramePool pool(256);
    quillon_host::CHostDriverSettings settings(host);
    CQuillonDriver quillon;
    IIPCaptureDriverEx& face = quillon;
    ASSERT_TRUE(face.Init(&debug, &pool, &settings));
    IIPVideoCapture* capture = face.GetVideoCapture();
    quillon_host::CHostChannelSettings channelSettings(HostChannelConfig{704, 576, 40, 50});

    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(capture->StartChannel(0, &sink, &channelSettings));
    ASSERT_TRUE(sink.WaitForFrames(10, 15s)) << "frames: " << sink.Frames().size();
    std::uint32_t state = 9, reserved = 9;
    char text[256] = {};
    ASSERT_TRUE(capture->GetChannelState(0, &state, &reserved, text, sizeof text));
    EXPECT_EQ(state, 0u);
    EXPECT_EQ(std::string(text).rfind("streaming ", 0), 0u) << text;
    std::cout << c.name << ": first 10 frames after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count()
              << " ms; " << text << "\n";

    const auto frames = sink.Frames();
    EXPECT_EQ(frames.front().fourCC, c.keyCode);  // a stream starts at a key frame
    for (const auto& frame : frames) {
        EXPECT_TRUE(frame.fourCC == c.keyCode || frame.fourCC == c.otherCode);
        EXPECT_EQ(frame.width, 704u);
        EXPECT_EQ(frame.height, 576u);
        EXPECT_EQ(frame.sizeClass, 4u);
        EXPECT_TRUE(frame.complete);
        if (c.codec == kCodecJpeg) {
            EXPECT_TRUE(IsJpegPicture(frame));
        }
        if (c.codec == kCodecH264) {
            ASSERT_GE(frame.data.size(), 5u);
            EXPECT_EQ(frame.data[0] | frame.data[1], 0);  // an Annex B start code
            EXPECT_EQ(frame.data[2], 1);
        }
    }

    ExpectFramesFromClip(c, frames);

    const camsim::StreamProfile stream = camera->Settings().Streams()[c.cameraStream];
    EXPECT_EQ(stream.videoCodecType, c.cameraCodec);
    EXPECT_EQ(stream.width, 704u);
    EXPECT_EQ(stream.height, 576u);
    EXPECT_EQ(stream.frameRate, std::string(c.transport) == "1" ? 15u : 25u);

    EXPECT_TRUE(capture->StopChannel(0));
    face.Uninit();
    std::size_t online = 0, stopped = 0;
    for (const auto& record : debug.Messages()) {
        online += record.text == "kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online";
        stopped += record.text ==
                   "kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is offline. Channel was stopped";
    }
    EXPECT_EQ(online, 1u);
    EXPECT_EQ(stopped, 1u);
    EXPECT_EQ(sink.SignalLostCount(), 0u);
    EXPECT_EQ(pool.Outstanding(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCodec, DriverStreamingTest,
    ::testing::Values(CodecCase{"H264", "h264_704x576.264", kCodecH264, "", kFourCCH264Key, kFourCCH264, 0, "4"},
                      CodecCase{"Mpeg4", "mpeg4_704x576.m4v", kCodecMpeg4, "", kFourCCMpeg4Key, kFourCCMpeg4, 0, "1"},
                      CodecCase{"JpegRtsp", "", kCodecJpeg, "0", kFourCCJpeg, kFourCCJpeg, 1, "2"},
                      CodecCase{"JpegHttp", "jpeg_704x576_q50.mjpeg", kCodecJpeg, "1", kFourCCJpeg, kFourCCJpeg, 0, "2"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel::testing_support
