#include "media/rtp_packet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A fixed header: V=2, PT 96, sequence 0x1234, timestamp 0x01020304, SSRC 0xA1B2C3D4.
Bytes Header(std::uint8_t byte0 = 0x80, std::uint8_t byte1 = 0x60) {
    return {byte0, byte1, 0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0xA1, 0xB2, 0xC3, 0xD4};
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct ParseCase {
    const char* name;
    Bytes datagram;
    bool valid;
    std::uint32_t headerLength;  // where the payload starts
    std::uint32_t payloadLength;
    std::uint32_t csrcCount;
    std::uint16_t extensionLength;
    std::uint32_t paddingLength;
};

class RTPPacketParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(RTPPacketParseTest, ReadsHeaderLayout) {
    const ParseCase& c = GetParam();
    RTPPacket packet;
    ASSERT_EQ(ParseRTPPacket(c.datagram.data(), c.datagram.size(), packet), c.valid);
    if (!c.valid) {
        EXPECT_EQ(packet.payload, nullptr);
        EXPECT_EQ(packet.payloadLength, 0u);
        return;
    }
    EXPECT_EQ(packet.payload, c.datagram.data() + c.headerLength);
    EXPECT_EQ(packet.payloadLength, c.payloadLength);
    EXPECT_EQ(packet.csrcCount, c.csrcCount);
    EXPECT_EQ(packet.csrcList, c.csrcCount ? c.datagram.data() + 12 : nullptr);
    EXPECT_EQ(packet.extensionLength, c.extensionLength);
    EXPECT_EQ(packet.paddingLength, c.paddingLength);
    EXPECT_EQ(packet.padding, c.paddingLength != 0);
}

const Bytes kOnePayloadByte{0xEE};

INSTANTIATE_TEST_SUITE_P(
    Table, RTPPacketParseTest,
    testing::Values(
        ParseCase{"HeaderOnly", Header(), false, 0, 0, 0, 0, 0},  // 12 bytes: no payload
        ParseCase{"OnePayloadByte", Concat(Header(), kOnePayloadByte), true, 12, 1, 0, 0, 0},
        ParseCase{"Version1", Concat(Header(0x40), kOnePayloadByte), false, 0, 0, 0, 0, 0},
        ParseCase{"Version3", Concat(Header(0xC0), kOnePayloadByte), false, 0, 0, 0, 0, 0},
        ParseCase{"TwoCsrcs", Concat(Header(0x82), Bytes(8 + 3, 0x11)), true, 20, 3, 2, 0, 0},
        // CC=15 claims 60 bytes of CSRCs, only 8 there.
        ParseCase{"CsrcsPastEnd", Concat(Header(0x8F), Bytes(8, 0x11)), false, 0, 0, 0, 0, 0},
        ParseCase{"CsrcsExactlyFillDatagram", Concat(Header(0x81), Bytes(4, 0x11)), true, 16, 0, 1, 0, 0},
        // X=1, profile 0xBEDE, one extension word, then 2 payload bytes.
        ParseCase{"OneExtensionWord",
                  Concat(Header(0x90), {0xBE, 0xDE, 0x00, 0x01, 0x10, 0x20, 0x30, 0x40, 0xAA, 0xBB}), true, 20, 2,
                  0, 1, 0},
        // Extension length 0x0100 words: the high byte matters (1024 bytes of extension).
        ParseCase{"ExtensionLengthAbove255",
                  Concat(Concat(Header(0x90), {0xBE, 0xDE, 0x01, 0x00}), Bytes(1024 + 5, 0x33)), true, 1040, 5, 0,
                  256, 0},
        // Length 0xFFFF words runs far past the datagram; a 16-bit header length would wrap.
        ParseCase{"ExtensionLengthWrapsSixteenBits",
                  Concat(Concat(Header(0x9F), Bytes(60, 0)), Concat({0xBE, 0xDE, 0xFF, 0xFF}, Bytes(64, 0x33))),
                  false, 0, 0, 0, 0, 0},
        ParseCase{"ExtensionHeaderTruncated", Concat(Header(0x90), {0xBE, 0xDE, 0x00}), false, 0, 0, 0, 0, 0},
        ParseCase{"ExtensionDataTruncated", Concat(Header(0x90), {0xBE, 0xDE, 0x00, 0x02, 1, 2, 3, 4}), false, 0, 0, 0,
                  0, 0},
        ParseCase{"CsrcAndExtension",
                  Concat(Header(0x91), {0, 0, 0, 1, 0xBE, 0xDE, 0x00, 0x01, 9, 9, 9, 9, 0x55}), true, 24, 1, 1, 1, 0},
        // P=1: 4 payload bytes, then 3 padding octets whose last one counts them.
        ParseCase{"PaddingRemoved", Concat(Header(0xA0), {1, 2, 3, 4, 0, 0, 3}), true, 12, 4, 0, 0, 3},
        ParseCase{"PaddingIsWholePayload", Concat(Header(0xA0), {0, 0, 3}), true, 12, 0, 0, 0, 3},
        ParseCase{"PaddingCountLargerThanPayload", Concat(Header(0xA0), {1, 2, 9}), false, 0, 0, 0, 0, 0},
        ParseCase{"PaddingCountZero", Concat(Header(0xA0), {1, 2, 0}), false, 0, 0, 0, 0, 0},
        // The padding count may not reach back into the extension.
        ParseCase{"PaddingReachesIntoExtension",
                  Concat(Header(0xB0), {0xBE, 0xDE, 0x00, 0x01, 1, 2, 3, 4, 0x05}), false, 0, 0, 0, 0, 0}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(RTPPacketTest, FieldsKeepTheirByteOrder) {
    const Bytes datagram = Concat(Header(0x90, 0xE0), {0xBE, 0xDE, 0x00, 0x00, 0x77});
    RTPPacket packet;
    ASSERT_TRUE(ParseRTPPacket(datagram.data(), datagram.size(), packet));
    EXPECT_TRUE(packet.marker);
    EXPECT_EQ(packet.payloadType, 0x60);
    EXPECT_EQ(packet.sequenceNumber, 0x1234);
    EXPECT_EQ(packet.timestamp, 0x01020304u);
    // SSRC and extension profile are kept as the wire has them.
    const auto* ssrc = reinterpret_cast<const std::uint8_t*>(&packet.ssrc);
    EXPECT_EQ(Bytes(ssrc, ssrc + 4), Bytes({0xA1, 0xB2, 0xC3, 0xD4}));
    const auto* profile = reinterpret_cast<const std::uint8_t*>(&packet.extensionProfile);
    EXPECT_EQ(Bytes(profile, profile + 2), Bytes({0xBE, 0xDE}));
    EXPECT_EQ(packet.extensionData, datagram.data() + 16);
    EXPECT_EQ(packet.payload[0], 0x77);
}

TEST(RTPSequenceTest, ComparesAcrossTheWrap) {
    struct Case {
        std::uint16_t a, b;
        bool newer;
        int distance;  // from b to a
    };
    const Case cases[] = {
        {1, 0, true, 1},
        {0, 1, false, -1},
        {5, 5, false, 0},
        {0, 0xFFFF, true, 1},           // the wrap itself
        {3, 0xFFFE, true, 5},
        {0xFFFF, 0, false, -1},
        {0x7FFF, 0, true, 0x7FFF},      // the farthest ahead
        {0x8000, 0, false, -0x8000},    // half way round counts as behind
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SequenceNewer(c.a, c.b), c.newer) << c.a << " vs " << c.b;
        EXPECT_EQ(SequenceDistance(c.b, c.a), c.distance) << c.a << " vs " << c.b;
    }
}

}  // namespace
}  // namespace kestrel
