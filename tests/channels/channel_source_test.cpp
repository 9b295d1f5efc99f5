// Media that is not the session's: datagrams forged from another port of the camera's address.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "camsim/net.h"
#include "channel_fixture.h"
#include "channels/common_rtsp_channel.h"

namespace kestrel::testing_support {
namespace {

using namespace std::chrono_literals;
using namespace ipcapture;

constexpr CHANNEL_PARAMS kPal{40, 50, 704, 576};

// The number after `key` in the simulator's one stream entry; 0 when absent.
unsigned StreamField(const std::string& streams, const std::string& key) {
    const std::size_t at = streams.find(key + "=");
    return at == std::string::npos ? 0 : unsigned(std::stoul(streams.substr(at + key.size() + 1)));
}

// One RTP/JPEG datagram that is a whole 8x8 picture by itself.
std::vector<std::uint8_t> ForgedPicture(std::uint16_t sequence, std::uint32_t timestamp) {
    return {
        0x80, 0x80 | 26,                                      // V=2; marker, PT 26 (JPEG)
        std::uint8_t(sequence >> 8), std::uint8_t(sequence),  // sequence number
        std::uint8_t(timestamp >> 24), std::uint8_t(timestamp >> 16), std::uint8_t(timestamp >> 8),
        std::uint8_t(timestamp),
        0xDE, 0xAD, 0xBE, 0xEF,  // SSRC
        0x00, 0x00, 0x00, 0x00,  // type-specific, fragment offset 0
        0x01, 50, 1, 1,          // type 1, Q 50, 8x8 pixels
        0x12, 0x34, 0x56, 0x78, 0xFF, 0xD9,  // scan data and end of image
    };
}

class ForgedMediaTest : public ChannelTest {};

TEST_F(ForgedMediaTest, ForgedPicturesFromAnotherPortReachNoHostAndTheStreamKeepsEveryFrame) {
    StartCamera();
    CJpegRtspChannel channel(0, &driver, &sink);
    ASSERT_TRUE(channel.Start(&kPal));
    ASSERT_TRUE(sink.WaitForFrames(5, 15s)) << channel.GetStatusText();
    const std::uint16_t client = std::uint16_t(StreamField(camera->Execute("streams"), ":client"));
    ASSERT_NE(client, 0);

    camsim::UdpSocket forger;  // the camera's address, another port
    ASSERT_TRUE(forger.Bind(0));
    std::mt19937 random(7);
    for (int i = 0; i < 20; ++i) {
        const auto datagram = ForgedPicture(std::uint16_t(random()), random());
        ASSERT_TRUE(forger.SendTo(datagram.data(), datagram.size(), {camsim::kLoopback, client}));
        std::this_thread::sleep_for(15ms);  // among the real stream's packets
    }
    // Every frame the camera sent reaches the host once the stream holds still.
    camera->Execute("pause 3");
    std::this_thread::sleep_for(500ms);
    const unsigned sent = StreamField(camera->Execute("streams"), ":frames");
    const auto frames = sink.Frames();
    EXPECT_EQ(frames.size(), sent);
    for (const auto& frame : frames) EXPECT_EQ(frame.width, 704u);
    EXPECT_NE(channel.GetStatusText().find("foreign 20,"), std::string::npos) << channel.GetStatusText();
}

}  // namespace
}  // namespace kestrel::testing_support
