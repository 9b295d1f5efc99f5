#include "media/rtp_source_filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kestrel {
namespace {

constexpr std::uint32_t kCamera = 0x0A000002;
constexpr std::uint16_t kCameraPort = 6970;
constexpr std::uint32_t kStream = 0x1234ABCD;
constexpr std::uint32_t kForged = 0xDEADBEEF;

using V = RTPSourceVerdict;

struct Step {
    std::uint16_t port;
    std::uint32_t ssrc;
    std::uint16_t sequence;
    V verdict;
    std::uint32_t address = kCamera;
};

RTPPacket Packet(std::uint32_t ssrc, std::uint16_t sequence) {
    RTPPacket packet;
    const std::uint8_t wire[4] = {std::uint8_t(ssrc >> 24), std::uint8_t(ssrc >> 16), std::uint8_t(ssrc >> 8),
                                  std::uint8_t(ssrc)};
    std::memcpy(&packet.ssrc, wire, sizeof wire);  // as it stands in the datagram
    packet.sequenceNumber = sequence;
    return packet;
}

void Play(CRTPSourceFilter& filter, const std::vector<Step>& steps, const char* name) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        EXPECT_EQ(filter.Judge({s.address, s.port}, Packet(s.ssrc, s.sequence)), s.verdict)
            << name << ", packet " << i;
    }
}

TEST(RTPSourceFilterTest, OnlyTheSessionsSourceIsTaken) {
    struct Case {
        const char* name;
        RTPSourceExpectation expected;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"port and SSRC named",
         {kCameraPort, true, kStream},
         {{kCameraPort, kStream, 100, V::kAccept},
          {kCameraPort + 2, kStream, 101, V::kForeign},  // another port of the camera
          {kCameraPort, kForged, 102, V::kForeign},      // another SSRC
          {kCameraPort, kStream, 101, V::kAccept, kCamera},
          {kCameraPort, kStream, 102, V::kForeign, kCamera + 1}}},  // another address
        {"SSRC named, port latched from its first packet",
         {0, true, kStream},
         {{kCameraPort + 4, kForged, 7, V::kForeign},
          {kCameraPort, kStream, 8, V::kAccept},
          {kCameraPort + 4, kStream, 9, V::kForeign},
          {kCameraPort, kStream, 40000, V::kAccept}}},  // order and loss are the depacketiser's
        {"nothing named: probation of two packets in sequence",
         {0, false, 0},
         {{kCameraPort, kStream, 65535, V::kProbation},
          {kCameraPort, kStream, 0, V::kAccept},  // across the wrap
          {kCameraPort, kForged, 1, V::kForeign},
          {kCameraPort + 2, kStream, 1, V::kForeign}}},
        {"nothing named: forged packets in between keep the stream on probation, not out",
         {0, false, 0},
         {{kCameraPort, kStream, 10, V::kProbation},
          {kCameraPort + 2, kForged, 5000, V::kProbation},
          {kCameraPort, kStream, 11, V::kProbation},
          {kCameraPort, kStream, 12, V::kAccept},
          {kCameraPort + 2, kForged, 5001, V::kForeign},
          {kCameraPort + 2, kForged, 5002, V::kForeign}}},
        {"port named, SSRC latched",
         {kCameraPort, false, 0},
         {{kCameraPort + 2, kForged, 1, V::kForeign},
          {kCameraPort + 2, kForged, 2, V::kForeign},
          {kCameraPort, kStream, 3, V::kProbation},
          {kCameraPort, kStream, 4, V::kAccept}}},
    };
    for (const Case& c : cases) {
        CRTPSourceFilter filter;
        filter.Reset(kCamera);
        filter.BeginProbe();
        filter.EndProbe();
        filter.Open(c.expected);
        Play(filter, c.steps, c.name);
    }
}

TEST(RTPSourceFilterTest, NothingIsTakenBeforeTheSessionNamesItsStream) {
    CRTPSourceFilter filter;
    filter.Reset(kCamera);
    filter.BeginProbe();
    // One datagram per port must not make a port look taken; a running stream does.
    Play(filter,
         {{kCameraPort, kForged, 9, V::kProbe},
          {kCameraPort, kStream, 20, V::kProbe},
          {kCameraPort, kStream, 21, V::kProbeStream}},
         "probing");
    filter.EndProbe();
    Play(filter, {{kCameraPort, kStream, 22, V::kForeign}, {kCameraPort, 0x777, 1, V::kForeign}}, "waiting");
    // The stream that was already running on the port is an earlier session's, never ours.
    filter.Open({});
    Play(filter,
         {{kCameraPort, kStream, 23, V::kForeign},
          {kCameraPort, kStream, 24, V::kForeign},
          {kCameraPort, 0x777, 2, V::kProbation},
          {kCameraPort, 0x777, 3, V::kAccept}},
         "open");
    // A second Open (the base channel's, after the session's) changes nothing.
    filter.Open({kCameraPort + 2, true, kForged});
    Play(filter, {{kCameraPort, 0x777, 4, V::kAccept}}, "opened twice");
}

TEST(RTPSourceFilterTest, ReconnectionTakesTheRestartedCamerasNewStream) {
    CRTPSourceFilter filter;
    filter.Reset(kCamera);
    filter.BeginProbe();
    filter.EndProbe();
    filter.Open({kCameraPort, true, kStream});
    Play(filter, {{kCameraPort, kStream, 1, V::kAccept}, {kCameraPort, 0x5555, 2, V::kForeign}}, "first session");
    // The camera restarted: a new session, a new SSRC from a new port.
    filter.Reset(kCamera);
    filter.BeginProbe();
    filter.EndProbe();
    filter.Open({kCameraPort + 10, true, 0x5555});
    Play(filter, {{kCameraPort + 10, 0x5555, 900, V::kAccept}, {kCameraPort, kStream, 2, V::kForeign}},
         "second session");
}

}  // namespace
}  // namespace kestrel
