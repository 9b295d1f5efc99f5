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

}  // namespace
}  // namespace kestrel
