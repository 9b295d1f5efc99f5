// Every driver thread runs on a stack of platform::kThreadStackBytes. The deepest work those
// threads do, fed the worst a camera can send, must fit, with the sanitizers' larger frames too.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "media/h264_sequence_parameter_set.h"
#include "platform/thread.h"
#include "rtsp/digest_auth.h"
#include "webapi/cisco_client.h"
#include "webapi/webapi_documents.h"

namespace kestrel {
namespace {

std::string Repeated(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) result += text;
    return result;
}

void ReadCameraAnswers() {
    CCiscoClient client;
    STREAMING_SETTING setting;
    const std::string entry =
        "<StreamingChannelEntry><channelID>1</channelID><TransportSetting><rtspPortNo>554</rtspPortNo>"
        "</TransportSetting><VideoSetting><videoCodecType>H.264</videoCodecType></VideoSetting>"
        "</StreamingChannelEntry>";
    EXPECT_TRUE(client.ReadStreamingSetting(
        "<DeviceInfo><StreamingSetting><StreamingChannelList>" + Repeated(entry, 32) +
            "</StreamingChannelList></StreamingSetting></DeviceInfo>",
        setting));
    // Nesting as deep as a hostile camera likes: the readers must neither recurse into it nor
    // fail on anything but the document itself.
    const int depth = 20000;
    client.ReadStreamingSetting(
        "<DeviceInfo><StreamingSetting>" + Repeated("<a>", depth) + Repeated("</a>", depth) +
            "</StreamingSetting></DeviceInfo>",
        setting);
}

void ReadParameterSet() {
    // Baseline 704x576, as x264 writes it.
    const std::vector<std::uint8_t> sps = {0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xB0, 0x12, 0x6C,
                                           0x04, 0x40, 0x00, 0x00, 0x03, 0x00, 0x40, 0x00, 0x00,
                                           0x0C, 0x83, 0xC5, 0x8B, 0x92};
    std::uint32_t width = 0, height = 0;
    EXPECT_TRUE(ReadH264SequenceParameterSet(sps.data(), sps.size(), width, height));
    EXPECT_EQ(width, 704u);
}

void AnswerDigest() {
    const std::string nonce = Repeated("n", 4096);
    DigestInput input{DigestAlgorithm::kSha256Sess, "user", "realm", "password", "DESCRIBE",
                      "rtsp://10.1.2.3/stream", nonce, "00000001", "cnonce"};
    EXPECT_EQ(ComputeDigestResponse(input).size(), 64u);
}

TEST(ThreadStackTest, DeepestPathsFitTheStackEveryDriverThreadGets) {
    platform::Thread thread;
    ASSERT_TRUE(thread.Start([] {
        ReadCameraAnswers();
        ReadParameterSet();
        AnswerDigest();
    }));
    EXPECT_TRUE(thread.Join());
}

}  // namespace
}  // namespace kestrel
