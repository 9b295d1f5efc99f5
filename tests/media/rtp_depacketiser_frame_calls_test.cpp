// What each RTP depacketiser asks of the host's pool and frames, and in which order: the
// capacity it asks for, the picture fields and size class it sets, the bytes in place before
// Complete, and every lent frame given back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/h264_rtp_media_parser.h"
#include "media/jpeg_rtp_media_parser.h"
#include "media/mpeg4_rtp_media_parser.h"
#include "media/recording_frame_pool.h"
#include "media/test_packet_feed.h"

namespace kestrel {
namespace {

using rtppack::Bytes;
using testing_support::CCallRecordingChannel;
using testing_support::CRecordingPoolDriver;
using testing_support::PacketFeed;
using Calls = std::vector<std::string>;

struct Delivery {
    std::string fourCC;
    std::uint32_t capacity;
    std::uint32_t width, height, sizeClass, dataSize;
};

std::string Call(const char* name, std::uint32_t value) { return std::string(name) + " " + std::to_string(value); }

// The order every frame of the H.264 and MPEG-4 depacketisers goes through.
Calls FullDelivery(const Delivery& d) {
    return {"AllocateFrame " + d.fourCC + " " + std::to_string(d.capacity) + " Quillon",
            Call("SetWidth", d.width), Call("SetHeight", d.height), Call("SetSizeClass", d.sizeClass),
            Call("SetDataSize", d.dataSize), "SetFourCC " + d.fourCC, "Complete", "OnFrame", "ReleaseFrame"};
}

// The JPEG depacketiser names the code only when it asks for the frame.
Calls JpegDelivery(const Delivery& d) {
    return {"AllocateFrame JPEG " + std::to_string(d.capacity) + " Quillon", Call("SetDataSize", d.dataSize),
            Call("SetWidth", d.width), Call("SetHeight", d.height), Call("SetSizeClass", d.sizeClass),
            "Complete", "OnFrame", "ReleaseFrame"};
}

Calls Joined(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(RTPDepacketiserFrameCallsTest, H264AsksForTheFrameCapacityClassPlusHeadroomAndFillsItBeforeComplete) {
    struct Clip {
        const char* file;
        std::uint32_t width, height, sizeClass;
    };
    for (const Clip& clip : {Clip{"h264_352x288.264", 352, 288, 2}, Clip{"h264_704x576.264", 704, 576, 4}}) {
        SCOPED_TRACE(clip.file);
        const auto units = rtppack::SplitH264AccessUnits(testing_support::ReadTestData(clip.file));
        ASSERT_TRUE(units[0].IsKey() && !units[1].IsKey() && !units[2].IsKey());
        CRecordingPoolDriver driver;
        CCallRecordingChannel channel(driver.pool);
        CH264RTPMediaParser parser(&driver, "Quillon");
        parser.SetClient(&channel);
        PacketFeed feed(0);
        for (std::size_t i = 0; i < 3; ++i) {
            driver.pool.lending = i != 1;  // the pool has no frame for the second unit
            feed.Send(parser, rtppack::PacketiseH264(units[i], 0, {1400, true}));
        }
        auto delivery = [&](std::size_t i, const char* fourCC) {
            const auto bytes = static_cast<std::uint32_t>(rtppack::ToAnnexB(units[i]).size());
            return Delivery{fourCC, FrameCapacity(bytes) + 40960, clip.width, clip.height, clip.sizeClass,
                            bytes + 5};  // behind it the access unit delimiter 00 00 01 09 30
        };
        // A frame the pool cannot lend is lost alone: the next P picture still comes.
        const Calls expected = Joined({FullDelivery(delivery(0, "H264")),
                                       {"AllocateFrame I264 " + std::to_string(delivery(1, "I264").capacity) + " Quillon"},
                                       FullDelivery(delivery(2, "I264"))});
        EXPECT_EQ(driver.pool.calls, expected);
    }
}

TEST(RTPDepacketiserFrameCallsTest, Mpeg4AsksForTheFrameCapacityClassAndFillsItBeforeComplete) {
    const auto frames = rtppack::SplitMpeg4Frames(testing_support::ReadTestData("mpeg4_704x576.m4v"));
    CRecordingPoolDriver driver;
    CCallRecordingChannel channel(driver.pool);
    CMpeg4RTPMediaParser parser(&driver, "Quillon");
    parser.SetClient(&channel);
    PacketFeed feed(0);
    for (std::size_t i = 0; i < 3; ++i) {
        driver.pool.lending = i != 1;
        feed.Send(parser, rtppack::PacketiseMpeg4(frames[i], 0, 1400));
    }
    auto delivery = [&](std::size_t i, const char* fourCC) {
        const auto bytes = static_cast<std::uint32_t>(frames[i].size());
        return Delivery{fourCC, FrameCapacity(bytes), 704, 576, 4, bytes};
    };
    const Calls expected = Joined({FullDelivery(delivery(0, "DIVX")),
                                   {"AllocateFrame DIVI " + std::to_string(delivery(1, "DIVI").capacity) + " Quillon"},
                                   FullDelivery(delivery(2, "DIVI"))});
    EXPECT_EQ(driver.pool.calls, expected);
}

TEST(RTPDepacketiserFrameCallsTest, JpegAsksForTheScanDataPlusHeaderRoomAndSetsTheSizeClass) {
    struct Case {
        std::uint8_t widthBy8, heightBy8;
        std::uint32_t sizeClass;
    };
    const Case cases[] = {
        {44, 36, 2},  // 352x288
        {88, 72, 4},  // 704x576
        {88, 30, 3},  // 704x240: wider than twice its height
        {160, 45, 4}, // 1280x360: wide, but 1024 or more across
    };
    for (const Case& c : cases) {
        CRecordingPoolDriver driver;
        CCallRecordingChannel channel(driver.pool);
        CJpegRTPMediaParser parser(&driver, "Quillon");
        parser.SetClient(&channel);
        Bytes packet = {0x00, 0x00, 0x00, 0x00,      // type-specific, fragment offset 0
                        0x01, 0x32,                  // type 1 (4:2:0), Q 50
                        c.widthBy8, c.heightBy8};
        packet.resize(8 + 100, 0x11);  // 100 bytes of scan data
        PacketFeed feed(0);
        feed.Send(parser, rtppack::Packet{true, 0, packet});
        // SOI 2, two DQT of 69, SOF0 19, DHT 33 + 183 + 33 + 183, SOS 14; the scan; EOI 2.
        const std::uint32_t dataSize = 2 + 2 * 69 + 19 + 2 * 33 + 2 * 183 + 14 + 100 + 2;
        const Delivery d{"JPEG", 100 + 1024, c.widthBy8 * 8u, c.heightBy8 * 8u, c.sizeClass, dataSize};
        EXPECT_EQ(driver.pool.calls, JpegDelivery(d)) << int(c.widthBy8) << "x" << int(c.heightBy8);
    }
}

}  // namespace
}  // namespace kestrel
