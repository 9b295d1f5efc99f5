// The three RTP depacketisers under reordered and repeated packets: any packet that does not
// directly follow the one before breaks the frame it falls in, and the stream resumes at the
// next frame the codec can start from (every JPEG frame; an H.264 or MPEG-4 key frame).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/h264_rtp_media_parser.h"
#include "media/jpeg_rtp_media_parser.h"
#include "media/mpeg4_rtp_media_parser.h"
#include "media/test_packet_feed.h"

namespace kestrel {
namespace {

using rtppack::Bytes;
using rtppack::Packet;
using testing_support::CPoolDriver;
using testing_support::CRecordingChannel;

struct Stream {
    const char* name;
    std::function<std::unique_ptr<CRTPMediaParser>(IDriver*)> makeParser;
    std::vector<std::vector<Packet>> frames;
    std::vector<bool> key;  // frames the parser can start from
};

template <typename Parser>
std::function<std::unique_ptr<CRTPMediaParser>(IDriver*)> Maker() {
    return [](IDriver* driver) { return std::make_unique<Parser>(driver, "Quillon"); };
}

bool IsIntraMpeg4(const Bytes& frame) {
    const Bytes vop = {0, 0, 1, 0xB6};
    const auto at = std::search(frame.begin(), frame.end(), vop.begin(), vop.end());
    return at + 4 < frame.end() && at[4] < 0x40;
}

std::vector<Stream> Streams() {
    std::vector<Stream> streams(3);
    streams[0] = {"H.264", Maker<CH264RTPMediaParser>(), {}, {}};
    for (const auto& unit : rtppack::SplitH264AccessUnits(testing_support::ReadTestData("h264_352x288.264"))) {
        streams[0].frames.push_back(rtppack::PacketiseH264(unit, 0, {300, true}));
        streams[0].key.push_back(unit.IsKey());
    }
    streams[1] = {"JPEG", Maker<CJpegRTPMediaParser>(), {}, {}};
    for (const Bytes& picture : rtppack::SplitJpegPictures(testing_support::ReadTestData("jpeg_352x288_q75.mjpeg"))) {
        rtppack::JpegOptions options;
        options.mtu = 300;
        std::vector<Packet> packets;
        if (!rtppack::PacketiseJpeg(picture, 0, options, packets)) return {};
        streams[1].frames.push_back(packets);
        streams[1].key.push_back(true);
    }
    streams[2] = {"MPEG-4", Maker<CMpeg4RTPMediaParser>(), {}, {}};
    for (const Bytes& frame : rtppack::SplitMpeg4Frames(testing_support::ReadTestData("mpeg4_352x288.m4v"))) {
        streams[2].frames.push_back(rtppack::PacketiseMpeg4(frame, 0, 300));
        streams[2].key.push_back(IsIntraMpeg4(frame));
    }
    return streams;
}

// One packet on the wire: the payload and the sequence number it was sent with.
struct Sent {
    const Packet* packet;
    std::uint16_t sequence;
};

std::vector<Bytes> Deliveries(const Stream& stream, const std::vector<Sent>& wire) {
    CPoolDriver driver;
    CRecordingChannel channel;
    const auto parser = stream.makeParser(&driver);
    parser->SetClient(&channel);
    for (const Sent& sent : wire) {
        RTPPacket rtp;
        rtp.marker = sent.packet->marker;
        rtp.sequenceNumber = sent.sequence;
        rtp.payload = sent.packet->payload.data();
        rtp.payloadLength = static_cast<std::uint32_t>(sent.packet->payload.size());
        parser->ProcessPacket(rtp);
    }
    std::vector<Bytes> delivered;
    for (const auto& frame : channel.frames) delivered.push_back(frame.data);
    return delivered;
}

// A frame of at least four packets to disturb; in a stream of key and other frames, one that
// is not a key frame and is followed by another such, so that the loss until the next key
// frame shows.
std::size_t DisturbedFrame(const Stream& stream) {
    const bool everyFrameKey = std::all_of(stream.key.begin(), stream.key.end(), [](bool key) { return key; });
    for (std::size_t i = 1; i + 2 < stream.frames.size(); ++i)
        if (stream.frames[i].size() >= 4 && (everyFrameKey || (!stream.key[i] && !stream.key[i + 1]))) return i;
    return 0;
}

struct Disorder {
    const char* name;
    bool breaksTheFrame;  // false: the frame itself is complete before the disorder
    // Rewrites the packets of the disturbed frame as they arrive; sequence numbers stay theirs.
    std::function<void(std::vector<Sent>&)> apply;
};

const Disorder kDisorders[] = {
    {"two packets swapped", true, [](std::vector<Sent>& f) { std::swap(f[1], f[2]); }},
    {"a packet repeated at once", true, [](std::vector<Sent>& f) { f.insert(f.begin() + 2, f[1]); }},
    {"a packet repeated late", true, [](std::vector<Sent>& f) { f.insert(f.begin() + 3, f[1]); }},
    {"the frame's first packet late", true, [](std::vector<Sent>& f) {
         const Sent first = f[0];
         f.erase(f.begin());
         f.insert(f.begin() + 2, first);
     }},
    {"the marker packet repeated", false, [](std::vector<Sent>& f) { f.push_back(f.back()); }},
};

TEST(RTPDepacketiserDisorderTest, ExactlyTheFramesTheSequenceRuleBreaksAreLost) {
    const auto streams = Streams();
    ASSERT_EQ(streams.size(), 3u);
    for (const Stream& stream : streams) {
        const std::size_t disturbed = DisturbedFrame(stream);
        ASSERT_NE(disturbed, 0u) << stream.name;
        std::vector<std::vector<Sent>> inOrder(stream.frames.size());
        std::uint16_t sequence = 65530;  // the numbers wrap on the way
        for (std::size_t i = 0; i < stream.frames.size(); ++i)
            for (const Packet& packet : stream.frames[i]) inOrder[i].push_back({&packet, sequence++});
        auto flatten = [](const std::vector<std::vector<Sent>>& frames) {
            std::vector<Sent> wire;
            for (const auto& frame : frames) wire.insert(wire.end(), frame.begin(), frame.end());
            return wire;
        };
        const std::vector<Bytes> reference = Deliveries(stream, flatten(inOrder));
        ASSERT_EQ(reference.size(), stream.frames.size()) << stream.name;

        for (const Disorder& disorder : kDisorders) {
            SCOPED_TRACE(std::string(stream.name) + ": " + disorder.name);
            auto wire = inOrder;
            disorder.apply(wire[disturbed]);
            std::vector<Bytes> expected;
            bool resumed = true;
            for (std::size_t i = 0; i < stream.frames.size(); ++i) {
                if (i > disturbed && stream.key[i]) resumed = true;
                if (resumed) expected.push_back(reference[i]);
                if (i == disturbed) {
                    if (disorder.breaksTheFrame) expected.pop_back();
                    resumed = false;
                }
            }
            const std::vector<Bytes> delivered = Deliveries(stream, flatten(wire));
            ASSERT_EQ(delivered.size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(delivered[i], expected[i]) << "frame " << i;
        }
    }
}

}  // namespace
}  // namespace kestrel
