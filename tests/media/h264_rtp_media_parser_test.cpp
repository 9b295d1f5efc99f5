#include "media/h264_rtp_media_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "media/h264_sequence_parameter_set.h"
#include "media/test_packet_feed.h"

namespace kestrel {
namespace {

using rtppack::AccessUnit;
using rtppack::Bytes;
using testing_support::CPoolDriver;
using testing_support::CRecordingChannel;
using testing_support::PacketFeed;

const Bytes kDelimiter = {0x00, 0x00, 0x01, 0x09, 0x30};

bool HoldsKeyUnit(const AccessUnit& unit) {
    for (const Bytes& nal : unit.nalUnits) {
        const int type = nal[0] & 0x1F;
        if (type == 5 || type == 7 || type == 8) return true;
    }
    return false;
}

Bytes Delivered(const AccessUnit& unit) {
    Bytes expected = rtppack::ToAnnexB(unit);
    expected.insert(expected.end(), kDelimiter.begin(), kDelimiter.end());
    return expected;
}

struct Clip {
    const char* file;
    std::uint32_t width, height;
};
const Clip kClips[] = {{"h264_704x576.264", 704, 576}, {"h264_352x288.264", 352, 288},
                       {"h264_704x480.264", 704, 480}, {"h264_352x240.264", 352, 240},
                       {"h264_1280x720.264", 1280, 720}};

class H264Fixture : public ::testing::Test {
protected:
    H264Fixture() { parser.SetClient(&channel); }
    CPoolDriver driver;
    CRecordingChannel channel;
    CH264RTPMediaParser parser{&driver, "Quillon"};
};

TEST_F(H264Fixture, EveryAccessUnitComesBackWholeInEveryPacketForm) {
    // MTU 10 sends even the parameter sets as FU-A fragments.
    const rtppack::H264Options forms[] = {{1400, true}, {1400, false}, {500, true}, {120, false}, {10, false}};
    for (const Clip& clip : kClips) {
        const std::vector<AccessUnit> units = rtppack::SplitH264AccessUnits(testing_support::ReadTestData(clip.file));
        ASSERT_GT(units.size(), 25u) << clip.file;
        for (const rtppack::H264Options& form : forms) {
            SCOPED_TRACE(std::string(clip.file) + " mtu " + std::to_string(form.mtu));
            CH264RTPMediaParser fresh(&driver, "Quillon");
            fresh.SetClient(&channel);
            channel.frames.clear();
            PacketFeed feed(65500);  // the sequence wraps inside every clip
            for (std::size_t i = 0; i < units.size(); ++i)
                feed.Send(fresh, rtppack::PacketiseH264(units[i], std::uint32_t(i * 3600), form));
            ASSERT_EQ(channel.frames.size(), units.size());
            for (std::size_t i = 0; i < units.size(); ++i) {
                const auto& frame = channel.frames[i];
                ASSERT_EQ(frame.data, Delivered(units[i])) << "frame " << i;
                EXPECT_EQ(frame.fourCC, HoldsKeyUnit(units[i]) ? ipcapture::kFourCCH264Key : ipcapture::kFourCCH264);
                EXPECT_EQ(frame.width, clip.width);
                EXPECT_EQ(frame.height, clip.height);
            }
        }
    }
    EXPECT_EQ(driver.pool.Outstanding(), 0u);
}

TEST_F(H264Fixture, LossDropsFramesUntilTheNextKeyFrame) {
    const auto units = rtppack::SplitH264AccessUnits(testing_support::ReadTestData("h264_704x576.264"));
    std::vector<std::vector<rtppack::Packet>> packets;
    for (const AccessUnit& unit : units) packets.push_back(rtppack::PacketiseH264(unit, 0, {1400, true}));
    const std::size_t damaged = 5;  // a P frame of the first second
    ASSERT_FALSE(HoldsKeyUnit(units[damaged]));
    ASSERT_GT(packets[damaged].size(), 1u);

    PacketFeed feed(0);
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (i == damaged) {
            feed.Skip(1);  // its first packet is lost
            packets[i].erase(packets[i].begin());
        }
        feed.Send(parser, packets[i]);
    }
    std::set<std::size_t> expected;
    std::size_t nextKey = damaged + 1;
    while (!HoldsKeyUnit(units[nextKey])) ++nextKey;
    for (std::size_t i = 0; i < units.size(); ++i)
        if (i < damaged || i >= nextKey) expected.insert(i);
    ASSERT_EQ(channel.frames.size(), expected.size());
    std::size_t at = 0;
    for (std::size_t i : expected) EXPECT_EQ(channel.frames[at++].data, Delivered(units[i])) << "unit " << i;
}

TEST_F(H264Fixture, ARefusedFrameWaitsForTheNextKeyFrame) {
    const auto units = rtppack::SplitH264AccessUnits(testing_support::ReadTestData("h264_352x288.264"));
    PacketFeed feed(0);
    feed.Send(parser, rtppack::PacketiseH264(units[0], 0, {}));
    channel.accepting = false;
    feed.Send(parser, rtppack::PacketiseH264(units[1], 0, {}));
    channel.accepting = true;
    std::size_t sent = 2;
    for (; !HoldsKeyUnit(units[sent]); ++sent) feed.Send(parser, rtppack::PacketiseH264(units[sent], 0, {}));
    feed.Send(parser, rtppack::PacketiseH264(units[sent], 0, {}));
    ASSERT_EQ(channel.frames.size(), 3u);  // the first, the refused one, the next key frame
    EXPECT_EQ(channel.frames[2].data, Delivered(units[sent]));
}

// Removes the parameter sets from every access unit but the first `keep`.
std::vector<AccessUnit> WithoutParameterSets(std::vector<AccessUnit> units, std::size_t keep) {
    for (std::size_t i = keep; i < units.size(); ++i) {
        auto& nals = units[i].nalUnits;
        nals.erase(std::remove_if(nals.begin(), nals.end(),
                                  [](const Bytes& nal) { return (nal[0] & 0x1F) == 7 || (nal[0] & 0x1F) == 8; }),
                   nals.end());
    }
    return units;
}

Bytes WithParameterSetsInFront(const AccessUnit& unit, const Bytes& sps, const Bytes& pps) {
    AccessUnit full = unit;
    full.nalUnits.insert(full.nalUnits.begin(), {sps, pps});
    return Delivered(full);
}

TEST_F(H264Fixture, AnIdrWithoutParameterSetsGetsTheStreamsOwnOrOursFromTheConfiguredSize) {
    const auto original = rtppack::SplitH264AccessUnits(testing_support::ReadTestData("h264_704x576.264"));
    auto first = [&](int type) {
        for (const Bytes& nal : original[0].nalUnits)
            if ((nal[0] & 0x1F) == type) return nal;
        return Bytes();
    };
    const Bytes streamSps = first(7);
    const Bytes streamPps = first(8);
    ASSERT_FALSE(streamSps.empty() || streamPps.empty());
    const Bytes ownSps = BuildH264SequenceParameterSet(704, 576);
    const Bytes fixedPps = {0x68, 0xCE, 0x3C, 0x80};

    // MTU 10: the parameter sets that the stream sends once come as FU-A fragments.
    const rtppack::H264Options forms[] = {{1400, true}, {10, false}};
    for (const auto& [form, keep] : {std::pair{forms[0], 0}, std::pair{forms[0], 1}, std::pair{forms[1], 1}}) {
        SCOPED_TRACE(std::string(keep ? "stream sent them once" : "stream never sent them") + ", mtu " +
                     std::to_string(form.mtu));
        const auto units = WithoutParameterSets(original, keep);
        CH264RTPMediaParser fresh(&driver, "Quillon");
        fresh.SetClient(&channel);
        channel.frames.clear();
        PacketFeed feed(0);
        for (const AccessUnit& unit : units) feed.Send(fresh, rtppack::PacketiseH264(unit, 0, form));
        ASSERT_EQ(channel.frames.size(), units.size());
        // The first unit's leading SEI goes while the parser waits for a key packet: start at 1.
        for (std::size_t i = 1; i < units.size(); ++i) {
            if (!HoldsKeyUnit(units[i])) continue;
            const Bytes expected = keep ? WithParameterSetsInFront(units[i], streamSps, streamPps)
                                        : WithParameterSetsInFront(units[i], ownSps, fixedPps);
            EXPECT_EQ(channel.frames[i].data, expected) << "unit " << i;
            EXPECT_EQ(channel.frames[i].fourCC, ipcapture::kFourCCH264Key);
        }
    }
}

std::size_t IndexOfType(const AccessUnit& unit, int type) {
    for (std::size_t i = 0; i < unit.nalUnits.size(); ++i)
        if ((unit.nalUnits[i][0] & 0x1F) == type) return i;
    return unit.nalUnits.size();
}

// Cameras that repeat the PPS in front of some pictures, or send it without the SPS.
TEST_F(H264Fixture, AUnitWithAPpsButNoSpsTakesTheStreamsLastSps) {
    auto units = rtppack::SplitH264AccessUnits(testing_support::ReadTestData("h264_352x288.264"));
    const std::size_t spsAt = IndexOfType(units[0], 7), ppsAt = IndexOfType(units[0], 8);
    ASSERT_LT(spsAt, ppsAt);
    ASSERT_LT(ppsAt, units[0].nalUnits.size());
    const Bytes pps = units[0].nalUnits[ppsAt];
    std::size_t keyAfter = 2;
    while (!HoldsKeyUnit(units[keyAfter])) ++keyAfter;
    ASSERT_FALSE(HoldsKeyUnit(units[1]));

    std::vector<AccessUnit> sent = units;
    sent[1].nalUnits.insert(sent[1].nalUnits.begin(), pps);  // a P picture behind a PPS
    ASSERT_LT(IndexOfType(units[keyAfter], 7), units[keyAfter].nalUnits.size());
    auto& key = sent[keyAfter].nalUnits;
    key.erase(key.begin() + IndexOfType(sent[keyAfter], 7));  // an IDR with its PPS, no SPS
    PacketFeed feed(0);
    for (const AccessUnit& unit : sent) feed.Send(parser, rtppack::PacketiseH264(unit, 0, {1400, false}));

    ASSERT_EQ(channel.frames.size(), units.size());
    EXPECT_EQ(channel.frames[1].data, Delivered(sent[1]));
    EXPECT_EQ(channel.frames[1].fourCC, ipcapture::kFourCCH264Key);
    EXPECT_EQ(channel.frames[1].width, 352u);
    EXPECT_EQ(channel.frames[1].height, 288u);
    // The stream's SPS goes back in front of the PPS, and no second PPS follows.
    EXPECT_EQ(channel.frames[keyAfter].data, Delivered(units[keyAfter]));
    for (std::size_t i = 2; i < units.size(); ++i) EXPECT_EQ(channel.frames[i].width, 352u) << "unit " << i;
}

TEST_F(H264Fixture, AStreamWithoutAnySpsTakesTheConfiguredSize) {
    auto units = rtppack::SplitH264AccessUnits(testing_support::ReadTestData("h264_352x288.264"));
    const Bytes pps = units[0].nalUnits[IndexOfType(units[0], 8)];
    for (AccessUnit& unit : units) {
        const std::size_t spsAt = IndexOfType(unit, 7);
        if (spsAt < unit.nalUnits.size()) unit.nalUnits.erase(unit.nalUnits.begin() + spsAt);
    }
    ASSERT_FALSE(HoldsKeyUnit(units[1]));
    AccessUnit withPps = units[1];
    withPps.nalUnits.insert(withPps.nalUnits.begin(), pps);
    units[1] = withPps;
    PacketFeed feed(0);
    for (const AccessUnit& unit : units) feed.Send(parser, rtppack::PacketiseH264(unit, 0, {1400, true}));

    ASSERT_EQ(channel.frames.size(), units.size());
    // The IDR gets our SPS for the configured 704x576 in front of the stream's PPS.
    AccessUnit first = units[0];
    first.nalUnits.insert(first.nalUnits.begin() + IndexOfType(first, 8), BuildH264SequenceParameterSet(704, 576));
    EXPECT_EQ(channel.frames[0].data, Delivered(first));
    EXPECT_EQ(channel.frames[1].data, Delivered(withPps));
    for (const auto& frame : channel.frames) {
        EXPECT_EQ(frame.width, 704u);
        EXPECT_EQ(frame.height, 576u);
    }
}

// Written from RFC 6184 alone, so that a misreading shared with our packetiser shows.
TEST_F(H264Fixture, HandWrittenAggregateAndFragmentsMakeTheAnnexBFrames) {
    const Bytes sps = {0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xB0, 0x12, 0x6C, 0x04, 0x40, 0x00,
                       0x00, 0x03, 0x00, 0x40, 0x00, 0x00, 0x0C, 0x83, 0xC5, 0x8B, 0x92};  // 704x576
    const Bytes pps = {0x68, 0xCB, 0x83, 0xCB, 0x20};
    Bytes stapA = {0x78};  // STAP-A: F 0, NRI 3, type 24
    stapA.insert(stapA.end(), {0x00, 0x17});  // 23 bytes: the SPS
    stapA.insert(stapA.end(), sps.begin(), sps.end());
    stapA.insert(stapA.end(), {0x00, 0x05});  // 5 bytes: the PPS
    stapA.insert(stapA.end(), pps.begin(), pps.end());
    stapA.insert(stapA.end(), {0x00, 0x04,               // 4 bytes: an IDR slice
                               0x65, 0x88, 0x84, 0x21}); // NAL header: NRI 3, type 5
    const Bytes fuStart = {0x5C,        // FU indicator: NRI 2, type 28
                           0x81,        // FU header: start, type 1 (non-IDR slice)
                           0x9A, 0x02}; // the first slice bytes
    const Bytes fuMiddle = {0x5C, 0x01, 0x33, 0x44};  // neither start nor end
    const Bytes fuEnd = {0x5C, 0x41, 0x55};           // end, type 1
    const Bytes idrStart = {0x7C, 0x85, 0x88, 0x80};  // NRI 3; start, type 5: IDR alone
    const Bytes idrEnd = {0x7C, 0x45, 0x10};

    PacketFeed feed(65535);
    feed.Send(parser, rtppack::Packet{true, 0, stapA});
    feed.Send(parser, {rtppack::Packet{false, 0, fuStart}, rtppack::Packet{false, 0, fuMiddle},
                       rtppack::Packet{true, 0, fuEnd}});
    feed.Send(parser, {rtppack::Packet{false, 0, idrStart}, rtppack::Packet{true, 0, idrEnd}});

    ASSERT_EQ(channel.frames.size(), 3u);
    Bytes key = {0x00, 0x00, 0x01};
    key.insert(key.end(), sps.begin(), sps.end());
    key.insert(key.end(), {0x00, 0x00, 0x01});
    key.insert(key.end(), pps.begin(), pps.end());
    const Bytes idrSlice = {0x00, 0x00, 0x01, 0x65, 0x88, 0x84, 0x21};
    Bytes first = key;
    first.insert(first.end(), idrSlice.begin(), idrSlice.end());
    first.insert(first.end(), kDelimiter.begin(), kDelimiter.end());
    const Bytes second = {0x00, 0x00, 0x01, 0x41,  // NAL header rebuilt: NRI 2, type 1
                          0x9A, 0x02, 0x33, 0x44, 0x55, 0x00, 0x00, 0x01, 0x09, 0x30};
    Bytes third = key;  // the stream's parameter sets go in front of a lone IDR
    third.insert(third.end(), {0x00, 0x00, 0x01, 0x65, 0x88, 0x80, 0x10});
    third.insert(third.end(), kDelimiter.begin(), kDelimiter.end());
    EXPECT_EQ(channel.frames[0].data, first);
    EXPECT_EQ(channel.frames[1].data, second);
    EXPECT_EQ(channel.frames[2].data, third);
    const std::uint32_t codes[] = {ipcapture::kFourCCH264Key, ipcapture::kFourCCH264, ipcapture::kFourCCH264Key};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(channel.frames[i].fourCC, codes[i]);
        EXPECT_EQ(channel.frames[i].width, 704u);
        EXPECT_EQ(channel.frames[i].height, 576u);
    }
}

TEST_F(H264Fixture, MalformedOrUnsupportedPacketsDropTheAccessUnit) {
    const auto units = rtppack::SplitH264AccessUnits(testing_support::ReadTestData("h264_352x288.264"));
    const std::vector<Bytes> bad = {
        {0x18, 0x00, 0x10, 0x67},        // STAP-A unit longer than the packet
        {0x18, 0x00},                     // STAP-A too short
        {0x18, 0x00, 0x00, 0x67, 0x42},   // STAP-A unit of size 0
        {0x19, 0x00, 0x02, 0x00, 0x02},   // STAP-B
        {0x1A, 0x00}, {0x1B, 0x00},       // MTAP16, MTAP24
        {0x1C, 0x85},                     // FU-A too short
        {0x1D, 0x85, 0x00, 0x00},         // FU-B
        {0x00, 0x01}, {0x1E}, {0x1F}, {}, // NAL types 0, 30, 31, empty
    };
    for (const Bytes& payload : bad) {
        CH264RTPMediaParser fresh(&driver, "Quillon");
        fresh.SetClient(&channel);
        channel.frames.clear();
        PacketFeed feed(0);
        feed.Send(fresh, rtppack::PacketiseH264(units[0], 0, {}));
        auto next = rtppack::PacketiseH264(units[1], 0, {});
        next.insert(next.begin(), rtppack::Packet{false, 0, payload});
        feed.Send(fresh, next);
        EXPECT_EQ(channel.frames.size(), 1u) << "payload of " << payload.size() << " bytes";
    }
}

}  // namespace
}  // namespace kestrel
