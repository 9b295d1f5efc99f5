// Depacketisers and the HTTP JPEG parser on the test clips, beside a plain copy of the same
// payload bytes: the payload is copied twice by design (into the frame buffer, then into the
// host's frame), so a third of memcpy's rate is the goal.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_host.h"
#include "media/h264_rtp_media_parser.h"
#include "media/jpeg_media_parser.h"
#include "media/jpeg_rtp_media_parser.h"
#include "media/mpeg4_rtp_media_parser.h"
#include "rtppack/rtppack.h"

namespace {

using namespace kestrel;

// One frame, its buffer kept between deliveries, as a host's pool recycles its buffers.
class CReusingPool final : public ipcapture::IFramePool {
public:
    void* Destroy(unsigned int) override { return nullptr; }
    std::uint32_t GetFrameCount() override { return 1; }
    ipcapture::IVideoFrame* AllocateFrame(std::uint32_t, std::uint32_t capacity, const char*) override {
        if (frame.data.size() < capacity) frame.data.resize(capacity);
        return &frame;
    }
    std::uint32_t GetFreeFrameCount() override { return 1; }
    std::uint32_t GetMaxCapacity() override { return 0; }
    void Trim() override {}
    void ReleaseFrame(ipcapture::IVideoFrame*) override {}
    fuzz_host::CFrame frame;
};

using CPoolDriver = testing_support::TPoolDriver<CReusingPool>;

// Takes every frame without looking at it, as a host that queues the buffer would.
class CAcceptingChannel final : public IMediaParserClient, public IMediaReceiver {
public:
    bool OnFrame(ipcapture::IVideoFrame*, std::uint32_t, std::uint32_t) override { return ++frames != 0; }
    std::pair<std::uint32_t, std::uint32_t> GetPictureSize() override { return {704, 576}; }
    std::uint64_t frames = 0;
};

rtppack::Bytes Clip(const char* name) { return rtppack::ReadFile(std::string(QUILLON_TESTDATA_DIR) + "/" + name); }

std::vector<rtppack::Packet> H264Packets() {
    std::vector<rtppack::Packet> all;
    for (const auto& unit : rtppack::SplitH264AccessUnits(Clip("h264_704x576.264")))
        for (auto& packet : rtppack::PacketiseH264(unit, 0, {1400, true})) all.push_back(std::move(packet));
    return all;
}

std::vector<rtppack::Packet> JpegPackets() {
    std::vector<rtppack::Packet> all;
    for (const auto& picture : rtppack::SplitJpegPictures(Clip("jpeg_704x576_q50.mjpeg"))) {
        rtppack::JpegOptions options;
        options.q = 50;
        std::vector<rtppack::Packet> packets;
        if (rtppack::PacketiseJpeg(picture, 0, options, packets))
            for (auto& packet : packets) all.push_back(std::move(packet));
    }
    return all;
}

std::vector<rtppack::Packet> Mpeg4Packets() {
    std::vector<rtppack::Packet> all;
    for (const auto& frame : rtppack::SplitMpeg4Frames(Clip("mpeg4_704x576.m4v")))
        for (auto& packet : rtppack::PacketiseMpeg4(frame, 0, 1400)) all.push_back(std::move(packet));
    return all;
}

std::vector<RTPPacket> AsRtp(const std::vector<rtppack::Packet>& packets) {
    std::vector<RTPPacket> rtp(packets.size());
    for (std::size_t i = 0; i < packets.size(); ++i) {
        rtp[i].marker = packets[i].marker;
        rtp[i].payload = packets[i].payload.data();
        rtp[i].payloadLength = static_cast<std::uint32_t>(packets[i].payload.size());
    }
    return rtp;
}

void Report(benchmark::State& state, std::size_t packets, std::size_t bytes) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * packets));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

std::size_t PayloadBytes(const std::vector<RTPPacket>& packets) {
    std::size_t bytes = 0;
    for (const RTPPacket& packet : packets) bytes += packet.payloadLength;
    return bytes;
}

template <typename Parser>
void Depacketise(benchmark::State& state, std::vector<rtppack::Packet> (*make)()) {
    const auto source = make();
    auto packets = AsRtp(source);
    CPoolDriver driver;
    CAcceptingChannel channel;
    Parser parser(&driver, "Quillon");
    parser.SetClient(&channel);
    std::uint16_t sequence = 0;
    for (auto _ : state) {
        for (RTPPacket& packet : packets) {
            packet.sequenceNumber = sequence++;
            parser.ProcessPacket(packet);
        }
    }
    if (channel.frames == 0) state.SkipWithError("no frame delivered");
    Report(state, packets.size(), PayloadBytes(packets));
}

void CopyPayloads(benchmark::State& state, std::vector<rtppack::Packet> (*make)()) {
    const auto source = make();
    const auto packets = AsRtp(source);
    std::vector<std::uint8_t> target(PayloadBytes(packets));
    for (auto _ : state) {
        std::size_t at = 0;
        for (const RTPPacket& packet : packets) {
            std::memcpy(target.data() + at, packet.payload, packet.payloadLength);
            at += packet.payloadLength;
        }
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    Report(state, packets.size(), target.size());
}

void H264Depacketiser(benchmark::State& state) { Depacketise<CH264RTPMediaParser>(state, H264Packets); }
void H264Memcpy(benchmark::State& state) { CopyPayloads(state, H264Packets); }
void JpegDepacketiser(benchmark::State& state) { Depacketise<CJpegRTPMediaParser>(state, JpegPackets); }
void JpegMemcpy(benchmark::State& state) { CopyPayloads(state, JpegPackets); }
void Mpeg4Depacketiser(benchmark::State& state) { Depacketise<CMpeg4RTPMediaParser>(state, Mpeg4Packets); }
void Mpeg4Memcpy(benchmark::State& state) { CopyPayloads(state, Mpeg4Packets); }

constexpr std::size_t kHttpBlock = 8192;

void HttpJpegParser(benchmark::State& state) {
    const rtppack::Bytes body = Clip("mjpeg_352x288_multipart.bin");
    CPoolDriver driver;
    CAcceptingChannel channel;
    CJpegMediaParser parser(&driver);
    parser.SetClient(&channel);
    for (auto _ : state)
        for (std::size_t at = 0; at < body.size(); at += kHttpBlock)
            parser.Parse(body.data() + at, std::min(kHttpBlock, body.size() - at));
    if (channel.frames == 0) state.SkipWithError("no frame delivered");
    Report(state, (body.size() + kHttpBlock - 1) / kHttpBlock, body.size());
}

void HttpJpegMemcpy(benchmark::State& state) {
    const rtppack::Bytes body = Clip("mjpeg_352x288_multipart.bin");
    std::vector<std::uint8_t> target(body.size());
    for (auto _ : state) {
        for (std::size_t at = 0; at < body.size(); at += kHttpBlock)
            std::memcpy(target.data() + at, body.data() + at, std::min(kHttpBlock, body.size() - at));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    Report(state, (body.size() + kHttpBlock - 1) / kHttpBlock, body.size());
}

BENCHMARK(H264Depacketiser);
BENCHMARK(H264Memcpy);
BENCHMARK(JpegDepacketiser);
BENCHMARK(JpegMemcpy);
BENCHMARK(Mpeg4Depacketiser);
BENCHMARK(Mpeg4Memcpy);
BENCHMARK(HttpJpegParser);
BENCHMARK(HttpJpegMemcpy);

}  // namespace

BENCHMARK_MAIN();
