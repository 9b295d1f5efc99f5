#include "rtppack/rtppack.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using rtppack::Bytes;

Bytes TestFile(const std::string& name) {
    return rtppack::ReadFile(std::string(QUILLON_TESTDATA_DIR) + "/" + name);
}

// Rebuilds NAL units from RFC 6184 packets, the straightforward way.
std::vector<Bytes> NalUnitsOf(const std::vector<rtppack::Packet>& packets) {
    std::vector<Bytes> nals;
    for (const rtppack::Packet& packet : packets) {
        const Bytes& p = packet.payload;
        const int type = p[0] & 0x1F;
        if (type == 24) {
            for (std::size_t at = 1; at + 2 <= p.size();) {
                const std::size_t size = p[at] << 8 | p[at + 1];
                nals.emplace_back(p.begin() + at + 2, p.begin() + at + 2 + size);
                at += 2 + size;
            }
        } else if (type == 28) {
            if (p[1] & 0x80) nals.push_back({static_cast<std::uint8_t>((p[0] & 0xE0) | (p[1] & 0x1F))});
            nals.back().insert(nals.back().end(), p.begin() + 2, p.end());
        } else {
            nals.push_back(p);
        }
    }
    return nals;
}

TEST(RtpPackTest, SplitsTestClipsIntoTheirFrames) {
    struct Case {
        const char* file;
        std::size_t frames;
    } cases[] = {
        {"h264_704x576.264", 50},
        {"h264_704x480.264", 60},  // four slices per picture
        {"h264_1280x720.264", 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Bytes stream = TestFile(c.file);
        const auto units = rtppack::SplitH264AccessUnits(stream);
        ASSERT_EQ(units.size(), c.frames);
        EXPECT_TRUE(units[0].IsKey());
        EXPECT_EQ(units[0].nalUnits[0][0] & 0x1F, 7);  // SPS first
        EXPECT_FALSE(units[1].IsKey());
        EXPECT_TRUE(units[c.frames / 2].IsKey());  // one key frame a second
    }
    EXPECT_EQ(rtppack::SplitMpeg4Frames(TestFile("mpeg4_352x288.m4v")).size(), 50u);
    EXPECT_EQ(rtppack::SplitJpegPictures(TestFile("jpeg_704x576_q50.mjpeg")).size(), 6u);
}

TEST(RtpPackTest, Mpeg4FramesCarryTheirHeadersAndCoverTheStream) {
    const Bytes stream = TestFile("mpeg4_704x576.m4v");
    const auto frames = rtppack::SplitMpeg4Frames(stream);
    Bytes joined;
    for (const Bytes& frame : frames) joined.insert(joined.end(), frame.begin(), frame.end());
    EXPECT_EQ(joined, stream);
    const Bytes vos{0, 0, 1, 0xB0};
    EXPECT_TRUE(std::equal(vos.begin(), vos.end(), frames[0].begin()));
    EXPECT_TRUE(std::equal(vos.begin(), vos.end(), frames[25].begin()));  // next key frame
    EXPECT_FALSE(std::equal(vos.begin(), vos.end(), frames[1].begin()));
}

TEST(RtpPackTest, H264PacketsRebuildEveryNalUnitWithinTheMtu) {
    const auto units = rtppack::SplitH264AccessUnits(TestFile("h264_704x576.264"));
    for (std::size_t mtu : {100u, 1400u, 65000u}) {
        for (bool aggregate : {false, true}) {
            SCOPED_TRACE(mtu);
            rtppack::H264Options options;
            options.mtu = mtu;
            options.aggregateParameterSets = aggregate;
            for (const auto& unit : units) {
                const auto packets = rtppack::PacketiseH264(unit, 90000, options);
                ASSERT_FALSE(packets.empty());
                for (const auto& packet : packets) {
                    EXPECT_LE(packet.payload.size(), mtu);
                    EXPECT_EQ(packet.marker, &packet == &packets.back());
                }
                EXPECT_EQ(NalUnitsOf(packets), unit.nalUnits);
            }
            // SPS, PPS and SEI share one STAP-A only when aggregating.
            EXPECT_EQ(rtppack::PacketiseH264(units[0], 0, options)[0].payload[0] & 0x1F, aggregate ? 24 : 7);
        }
    }
}

TEST(RtpPackTest, JpegTestPicturesUseTheScaledStandardTables) {
    struct Case {
        const char* file;
        int q;
    } cases[] = {{"jpeg_704x576_q50.mjpeg", 50}, {"jpeg_352x288_q75.mjpeg", 75},
                 {"jpeg_704x480_q30.mjpeg", 30}, {"jpeg_352x240_q90.mjpeg", 90}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        for (const Bytes& picture : rtppack::SplitJpegPictures(TestFile(c.file))) {
            std::vector<rtppack::Packet> packets;
            rtppack::JpegOptions options;
            options.q = c.q;
            ASSERT_TRUE(rtppack::PacketiseJpeg(picture, 0, options, packets));
            options.q = c.q + 1;
            EXPECT_FALSE(rtppack::PacketiseJpeg(picture, 0, options, packets));
        }
    }
}

TEST(RtpPackTest, JpegPacketsCarryTheScanAtTheirOffsets) {
    for (const char* file : {"jpeg_704x576_q50.mjpeg", "jpeg_352x288_q60_restart.mjpeg"}) {
        SCOPED_TRACE(file);
        const Bytes picture = rtppack::SplitJpegPictures(TestFile(file))[0];
        rtppack::JpegPicture parsed;
        ASSERT_TRUE(rtppack::ParseJpegPicture(picture, parsed));
        const std::size_t restartHeader = parsed.restartInterval ? 4 : 0;
        std::vector<rtppack::Packet> packets;
        rtppack::JpegOptions options;
        options.mtu = 1000;
        ASSERT_TRUE(rtppack::PacketiseJpeg(picture, 0, options, packets));
        Bytes scan;
        for (const auto& packet : packets) {
            const Bytes& p = packet.payload;
            ASSERT_LE(p.size(), 1000u);
            const std::size_t offset = p[1] << 16 | p[2] << 8 | p[3];
            EXPECT_EQ(offset, scan.size());
            EXPECT_EQ(p[4], parsed.type + (restartHeader ? 64 : 0));
            EXPECT_EQ(p[5], 255);
            EXPECT_EQ(p[6] * 8, parsed.width);
            std::size_t header = 8 + restartHeader + (offset == 0 ? 4 + 128 : 0);
            scan.insert(scan.end(), p.begin() + header, p.end());
        }
        EXPECT_EQ(scan, parsed.scan);
        EXPECT_TRUE(packets.back().marker);
    }
}

TEST(RtpPackTest, RtpStreamNumbersDatagramsAcrossTheWrap) {
    rtppack::RtpStream stream(96, 0x01020304, 0xFFFF);
    rtppack::Packet packet;
    packet.marker = true;
    packet.timestamp = 0xA0B0C0D0;
    packet.payload = {0x42};
    EXPECT_EQ(stream.Datagram(packet),
              (Bytes{0x80, 0xE0, 0xFF, 0xFF, 0xA0, 0xB0, 0xC0, 0xD0, 1, 2, 3, 4, 0x42}));
    EXPECT_EQ(stream.Datagram(packet)[3], 0x00);
    EXPECT_EQ(stream.NextSequence(), 1);
}

}  // namespace
