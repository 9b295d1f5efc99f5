#include "media/jpeg_rtp_media_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "media/test_packet_feed.h"

namespace kestrel {
namespace {

using rtppack::Bytes;
using testing_support::CPoolDriver;
using testing_support::CRecordingChannel;
using testing_support::PacketFeed;

// Every segment of `picture` with the given marker, whole.
std::vector<Bytes> Segments(const Bytes& picture, std::uint8_t marker) {
    std::vector<Bytes> segments;
    for (std::size_t i = 2; i + 4 <= picture.size();) {
        if (picture[i] != 0xFF) break;
        const std::size_t length = (picture[i + 2] << 8) | picture[i + 3];
        if (picture[i + 1] == marker) segments.emplace_back(picture.begin() + i, picture.begin() + i + 2 + length);
        if (picture[i + 1] == 0xDA) break;
        i += 2 + length;
    }
    return segments;
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

class JpegFixture : public ::testing::Test {
protected:
    JpegFixture() { parser.SetClient(&channel); }
    CPoolDriver driver;
    CRecordingChannel channel;
    CJpegRTPMediaParser parser{&driver, "Quillon"};
};

TEST_F(JpegFixture, RebuiltPicturesCarryTheOriginalTablesScanAndRestartInterval) {
    struct Case {
        const char* file;
        int q;
        bool sendTables;
    };
    const Case cases[] = {
        {"jpeg_704x576_q50.mjpeg", 50, true},   {"jpeg_352x288_q75.mjpeg", 75, true},
        {"jpeg_704x480_q30.mjpeg", 30, true},   {"jpeg_352x240_q90.mjpeg", 90, true},
        {"jpeg_704x576_q50.mjpeg", 255, true},  {"jpeg_352x288_q75.mjpeg", 200, false},
        {"jpeg_352x288_q60_restart.mjpeg", 60, true}, {"jpeg_352x288_q60_restart.mjpeg", 255, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " Q " + std::to_string(c.q));
        const auto pictures = rtppack::SplitJpegPictures(testing_support::ReadTestData(c.file));
        ASSERT_GE(pictures.size(), 2u);
        CJpegRTPMediaParser fresh(&driver, "Quillon");
        fresh.SetClient(&channel);
        channel.frames.clear();
        PacketFeed feed(65534);
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            rtppack::JpegOptions options;
            options.mtu = 900;
            options.q = c.q;
            options.sendTables = c.sendTables || i == 0;  // later frames reuse the tables of that Q
            options.sendEoi = i % 2 == 1;
            std::vector<rtppack::Packet> packets;
            ASSERT_TRUE(rtppack::PacketiseJpeg(pictures[i], 0, options, packets));
            feed.Send(fresh, packets);
        }
        ASSERT_EQ(channel.frames.size(), pictures.size());
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            const Bytes& rebuilt = channel.frames[i].data;
            rtppack::JpegPicture original, ours;
            ASSERT_TRUE(rtppack::ParseJpegPicture(pictures[i], original));
            ASSERT_TRUE(rtppack::ParseJpegPicture(rebuilt, ours)) << "frame " << i;
            EXPECT_EQ(ours.width, original.width);
            EXPECT_EQ(ours.height, original.height);
            EXPECT_EQ(ours.restartInterval, original.restartInterval);
            EXPECT_EQ(ours.lumaTable, original.lumaTable);
            EXPECT_EQ(ours.chromaTable, original.chromaTable);
            EXPECT_EQ(ours.scan, original.scan);
            EXPECT_EQ(Bytes(rebuilt.end() - 2, rebuilt.end()), (Bytes{0xFF, 0xD9}));
            EXPECT_NE(rebuilt[rebuilt.size() - 4], 0xFF);  // one EOI, not two
            for (const Bytes& huffman : Segments(pictures[i], 0xC4)) EXPECT_TRUE(Contains(rebuilt, huffman));
            EXPECT_EQ(channel.frames[i].fourCC, ipcapture::kFourCCJpeg);
            EXPECT_EQ(channel.frames[i].width, original.width);
        }
    }
    EXPECT_EQ(driver.pool.Outstanding(), 0u);
}

TEST(JpegTablesTest, QualityScalingFollowsTheReferenceFormula) {
    const auto q50 = CJpegRTPMediaParser::TablesForQ(50);
    EXPECT_EQ(q50.luma[0], 16);   // factor 100: the Annex K tables unchanged
    EXPECT_EQ(q50.luma[1], 11);   // zig-zag position 1 is natural position 1
    EXPECT_EQ(q50.luma[2], 12);   // zig-zag position 2 is natural position 8
    EXPECT_EQ(q50.chroma[63], 99);
    EXPECT_EQ(CJpegRTPMediaParser::TablesForQ(0).luma, CJpegRTPMediaParser::TablesForQ(1).luma);
    EXPECT_EQ(CJpegRTPMediaParser::TablesForQ(99).luma, CJpegRTPMediaParser::TablesForQ(127).luma);
    EXPECT_EQ(CJpegRTPMediaParser::TablesForQ(1).luma[63], 255);  // limited to 255
    EXPECT_EQ(CJpegRTPMediaParser::TablesForQ(99).luma[0], 1);    // limited to 1
}

TEST_F(JpegFixture, DamagedFramesAreDroppedAndTheNextOneComesThrough) {
    const auto pictures = rtppack::SplitJpegPictures(testing_support::ReadTestData("jpeg_352x288_q75.mjpeg"));
    auto packetise = [&](const Bytes& picture, rtppack::JpegOptions options) {
        std::vector<rtppack::Packet> packets;
        EXPECT_TRUE(rtppack::PacketiseJpeg(picture, 0, options, packets));
        return packets;
    };
    rtppack::JpegOptions inBand;
    inBand.mtu = 900;
    inBand.q = 255;
    struct Case {
        const char* name;
        std::size_t lost;  // index of the packet lost on the way, or none
        std::function<void(std::vector<rtppack::Packet>&)> damage;
    };
    const std::size_t kNone = ~std::size_t(0);
    const auto intact = [](auto&) {};
    const Case cases[] = {
        {"first fragment lost", 0, intact},
        {"middle fragment lost", 2, intact},
        {"table length not 128", kNone, [](auto& packets) { packets[0].payload[11] = 0x70; }},
        {"table length 0xFFFF, past the packet", kNone,
         [](auto& packets) { packets[0].payload[10] = packets[0].payload[11] = 0xFF; }},
        {"width 0", kNone, [](auto& packets) { packets[0].payload[6] = 0; }},
        {"payload of 8 bytes", kNone, [](auto& packets) { packets[0].payload.resize(8); }},
        {"reused tables never sent", kNone, [](auto& packets) {
             packets[0].payload[5] = 250;  // a Q whose tables never came
             packets[0].payload[10] = packets[0].payload[11] = 0;
         }},
    };
    for (const Case& c : cases) {
        CJpegRTPMediaParser fresh(&driver, "Quillon");
        fresh.SetClient(&channel);
        channel.frames.clear();
        PacketFeed feed(0);
        auto damaged = packetise(pictures[0], inBand);
        c.damage(damaged);
        for (std::size_t i = 0; i < damaged.size(); ++i) {
            if (i == c.lost)
                feed.Skip(1);
            else
                feed.Send(fresh, damaged[i]);
        }
        feed.Send(fresh, packetise(pictures[1], inBand));
        ASSERT_EQ(channel.frames.size(), 1u) << c.name;
        rtppack::JpegPicture ours, original;
        ASSERT_TRUE(rtppack::ParseJpegPicture(channel.frames[0].data, ours));
        ASSERT_TRUE(rtppack::ParseJpegPicture(pictures[1], original));
        EXPECT_EQ(ours.scan, original.scan) << c.name;
    }
}

TEST_F(JpegFixture, AFrameOverTheLimitIsDropped) {
    PacketFeed feed(0);
    Bytes first = {0, 0, 0, 0, 1, 50, 44, 36};
    first.resize(1400, 0x11);
    feed.Send(parser, rtppack::Packet{false, 0, first});
    for (std::size_t bytes = first.size(); bytes <= CJpegRTPMediaParser::kMaxFrameBytes; bytes += 1392) {
        Bytes next = {0, 0, 0, 1, 1, 50, 44, 36};
        next.resize(1400, 0x22);
        feed.Send(parser, rtppack::Packet{false, 0, next});
    }
    Bytes last = {0, 0, 0, 2, 1, 50, 44, 36, 0xFF, 0xD9};
    feed.Send(parser, rtppack::Packet{true, 0, last});
    EXPECT_TRUE(channel.frames.empty());
}

// Written from RFC 2435 alone, so that a misreading shared with our packetiser shows: a 16x16
// picture in two packets, Q 255 with its tables in the first.
Bytes FirstPacketOfType(std::uint8_t type) {
    Bytes packet = {
        0x00,              // type-specific
        0x00, 0x00, 0x00,  // fragment offset 0
        type,              // type
        0xFF,              // Q 255: tables in band
        0x02, 0x02,        // width 2 x 8, height 2 x 8
    };
    if (type >= 64 && type <= 127) {
        const Bytes restart = {0x00, 0x01,   // restart interval 1
                               0xFF, 0xFF};  // F = L = 1, count 0x3FFF
        packet.insert(packet.end(), restart.begin(), restart.end());
    }
    const Bytes tableHeader = {0x00,         // MBZ
                               0x00,         // precision: both tables 8-bit
                               0x00, 0x80};  // length 128
    packet.insert(packet.end(), tableHeader.begin(), tableHeader.end());
    for (int i = 0; i < 64; ++i) packet.push_back(static_cast<std::uint8_t>(i + 1));   // luma
    for (int i = 0; i < 64; ++i) packet.push_back(static_cast<std::uint8_t>(i + 65));  // chroma
    packet.insert(packet.end(), {0x12, 0x34, 0xFF, 0x00});  // scan data, a stuffed 0xFF in it
    return packet;
}

TEST_F(JpegFixture, HeadersRebuiltFromAHandWrittenStreamOfEachType) {
    struct Case {
        std::uint8_t type;
        std::uint8_t lumaSampling;  // 0x21: 4:2:2, 0x22: 4:2:0
    };
    // Types 64 to 127 are 0 to 63 with restart markers; every type but 0 and 64 is 4:2:0.
    const Case cases[] = {{0, 0x21}, {1, 0x22}, {64, 0x21}, {65, 0x22}, {128, 0x22}, {192, 0x22}, {255, 0x22}};
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        CJpegRTPMediaParser fresh(&driver, "Quillon");
        fresh.SetClient(&channel);
        channel.frames.clear();
        PacketFeed feed(7);
        feed.Send(fresh, rtppack::Packet{false, 0, FirstPacketOfType(c.type)});
        Bytes second = {0x00, 0x00, 0x00, 0x04, c.type, 0xFF, 0x02, 0x02};  // offset 4
        if (c.type >= 64 && c.type <= 127) second.insert(second.end(), {0x00, 0x01, 0xFF, 0xFF});
        second.insert(second.end(), {0x56, 0x78});
        feed.Send(fresh, rtppack::Packet{true, 0, second});
        ASSERT_EQ(channel.frames.size(), 1u);
        const Bytes& jpeg = channel.frames[0].data;

        Bytes head = {0xFF, 0xD8,               // SOI
                      0xFF, 0xDB, 0x00, 0x43,   // DQT, length 67
                      0x00};                    // 8-bit table 0
        for (int i = 0; i < 64; ++i) head.push_back(static_cast<std::uint8_t>(i + 1));
        head.insert(head.end(), {0xFF, 0xDB, 0x00, 0x43, 0x01});  // DQT, table 1
        for (int i = 0; i < 64; ++i) head.push_back(static_cast<std::uint8_t>(i + 65));
        head.insert(head.end(), {
            0xFF, 0xC0, 0x00, 0x11, 0x08,  // SOF0, length 17, 8-bit samples
            0x00, 0x10, 0x00, 0x10, 0x03,  // height 16, width 16, 3 components
            0x00, c.lumaSampling, 0x00,    // Y: sampling, table 0
            0x01, 0x11, 0x01,              // Cb: 1x1, table 1
            0x02, 0x11, 0x01,              // Cr: 1x1, table 1
        });
        ASSERT_GT(jpeg.size(), head.size());
        EXPECT_EQ(Bytes(jpeg.begin(), jpeg.begin() + head.size()), head);

        // The four Annex K Huffman tables: class and number, length of each segment.
        std::size_t at = head.size();
        const std::uint8_t tables[][2] = {{0x00, 0x1F}, {0x10, 0xB5}, {0x01, 0x1F}, {0x11, 0xB5}};
        for (const auto& table : tables) {
            ASSERT_LE(at + 5, jpeg.size());
            EXPECT_EQ(Bytes(jpeg.begin() + at, jpeg.begin() + at + 5), (Bytes{0xFF, 0xC4, 0x00, table[1], table[0]}));
            at += 2 + table[1];
        }
        Bytes tail;
        if (c.type >= 64 && c.type <= 127) tail = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x01};  // DRI, interval 1
        tail.insert(tail.end(), {0xFF, 0xDA, 0x00, 0x0C, 0x03,  // SOS, 3 components
                                 0x00, 0x00, 0x01, 0x11, 0x02, 0x11, 0x00, 0x3F, 0x00,
                                 0x12, 0x34, 0xFF, 0x00, 0x56, 0x78,  // both packets' scan data
                                 0xFF, 0xD9});                        // EOI
        EXPECT_EQ(Bytes(jpeg.begin() + std::min(at, jpeg.size()), jpeg.end()), tail);
        EXPECT_EQ(channel.frames[0].width, 16u);
        EXPECT_EQ(channel.frames[0].height, 16u);
    }
}

}  // namespace
}  // namespace kestrel
