#include "media/mpeg4_rtp_media_parser.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "media/test_packet_feed.h"

namespace kestrel {
namespace {

using rtppack::Bytes;
using testing_support::CPoolDriver;
using testing_support::CRecordingChannel;
using testing_support::PacketFeed;

// The byte behind the frame's VOP start code tells intra-coded (below 0x40) from the rest.
bool IsIntra(const Bytes& frame) {
    const Bytes vop = {0, 0, 1, 0xB6};
    auto at = std::search(frame.begin(), frame.end(), vop.begin(), vop.end());
    return at + 4 < frame.end() && at[4] < 0x40;
}

// Frames that begin at the video object layer: streams that send no VOS or VO start codes.
std::vector<Bytes> StartingAtTheLayer(std::vector<Bytes> frames) {
    for (Bytes& frame : frames) {
        for (std::size_t i = 0; i + 4 <= frame.size(); ++i) {
            if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && (frame[i + 3] & 0xF0) == 0x20) {
                frame.erase(frame.begin(), frame.begin() + i);
                break;
            }
        }
    }
    return frames;
}

class Mpeg4Fixture : public ::testing::Test {
protected:
    CPoolDriver driver;
    CRecordingChannel channel;

    std::vector<testing_support::RecordedFrame> Run(const std::vector<std::vector<rtppack::Packet>>& frames,
                                                    std::size_t lostFrame = ~std::size_t(0)) {
        CMpeg4RTPMediaParser parser(&driver, "Quillon");
        parser.SetClient(&channel);
        channel.frames.clear();
        PacketFeed feed(65530);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            for (std::size_t k = 0; k < frames[i].size(); ++k) {
                if (i == lostFrame && k == 0)
                    feed.Skip(1);
                else
                    feed.Send(parser, frames[i][k]);
            }
        }
        return channel.frames;
    }
};

TEST_F(Mpeg4Fixture, EveryFrameComesBackWithTheHeaderInFrontOfKeyFrames) {
    struct Clip {
        const char* file;
        std::uint32_t width, height;
    };
    const Clip clips[] = {{"mpeg4_704x576.m4v", 704, 576}, {"mpeg4_352x288.m4v", 352, 288},
                          {"mpeg4_704x480.m4v", 704, 480}, {"mpeg4_352x240.m4v", 352, 240}};
    ASSERT_TRUE(CMpegHeaderReader::Shared().Available());
    for (const Clip& clip : clips) {
        const auto plain = rtppack::SplitMpeg4Frames(testing_support::ReadTestData(clip.file));
        ASSERT_GT(plain.size(), 25u);
        for (bool withoutVos : {false, true}) {
            const auto frames = withoutVos ? StartingAtTheLayer(plain) : plain;
            for (std::size_t mtu : {1400u, 200u}) {
                SCOPED_TRACE(std::string(clip.file) + " mtu " + std::to_string(mtu) + (withoutVos ? " from VOL" : ""));
                std::vector<std::vector<rtppack::Packet>> packets;
                for (const Bytes& frame : frames) packets.push_back(rtppack::PacketiseMpeg4(frame, 0, mtu));
                const auto delivered = Run(packets);
                ASSERT_EQ(delivered.size(), frames.size());
                for (std::size_t i = 0; i < frames.size(); ++i) {
                    ASSERT_EQ(delivered[i].data, frames[i]) << "frame " << i;
                    EXPECT_EQ(delivered[i].fourCC, IsIntra(frames[i]) ? ipcapture::kFourCCMpeg4Key : ipcapture::kFourCCMpeg4);
                    EXPECT_EQ(delivered[i].width, clip.width);
                    EXPECT_EQ(delivered[i].height, clip.height);
                }
            }
        }
    }
    EXPECT_EQ(driver.pool.Outstanding(), 0u);
}

TEST_F(Mpeg4Fixture, ALostPacketDropsFramesUntilTheNextKeyFrame) {
    const auto frames = rtppack::SplitMpeg4Frames(testing_support::ReadTestData("mpeg4_704x576.m4v"));
    std::vector<std::vector<rtppack::Packet>> packets;
    for (const Bytes& frame : frames) packets.push_back(rtppack::PacketiseMpeg4(frame, 0, 1000));
    const std::size_t damaged = 3;
    ASSERT_FALSE(IsIntra(frames[damaged]));
    std::size_t nextKey = damaged + 1;
    while (!IsIntra(frames[nextKey])) ++nextKey;
    const auto delivered = Run(packets, damaged);
    ASSERT_EQ(delivered.size(), frames.size() - (nextKey - damaged));
    EXPECT_EQ(delivered[damaged].data, frames[nextKey]);
}

TEST_F(Mpeg4Fixture, NothingBeforeTheFirstKeyFrameAndNoKeyFrameWithoutTheHeaderReader) {
    const auto frames = rtppack::SplitMpeg4Frames(testing_support::ReadTestData("mpeg4_352x288.m4v"));
    std::size_t firstP = 0;
    while (IsIntra(frames[firstP])) ++firstP;
    EXPECT_TRUE(Run({rtppack::PacketiseMpeg4(frames[firstP], 0, 1400)}).empty());

    const CMpegHeaderReader missing(nullptr);
    CMpeg4RTPMediaParser parser(&driver, "Quillon", missing);
    parser.SetClient(&channel);
    channel.frames.clear();
    PacketFeed feed(0);
    for (const Bytes& frame : frames) feed.Send(parser, rtppack::PacketiseMpeg4(frame, 0, 1400));
    EXPECT_TRUE(channel.frames.empty());
}

TEST_F(Mpeg4Fixture, AFrameOverTheLimitIsDroppedEvenWithItsMarker) {
    Bytes frame = {0, 0, 1, 0xB6, 0x10};
    frame.resize(CMpeg4RTPMediaParser::kMaxFrameBytes + 1, 0x55);
    Bytes header = rtppack::SplitMpeg4Frames(testing_support::ReadTestData("mpeg4_352x288.m4v"))[0];
    header.insert(header.end(), frame.begin(), frame.end());  // a real header, then an oversized VOP
    EXPECT_TRUE(Run({{rtppack::Packet{true, 0, header}}}).empty());
}

}  // namespace
}  // namespace kestrel
