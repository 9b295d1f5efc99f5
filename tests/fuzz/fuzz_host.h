// The host side the frame-producing fuzzers need: a driver lending one reusable frame and a
// channel that reads every byte of each frame it gets, so ASan sees a frame overrun.
#ifndef QUILLON_TESTS_FUZZ_FUZZ_HOST_H
#define QUILLON_TESTS_FUZZ_FUZZ_HOST_H

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/rtp_packet.h"
#include "../support/pool_driver.h"
#include "runtime/driver_interface.h"
#include "runtime/frame_record.h"

namespace fuzz_host {

using namespace kestrel;

class CFrame final : public ipcapture::IVideoFrame {
public:
    void* Destroy(unsigned int) override { return nullptr; }
    std::uint32_t GetCapacity() override { return std::uint32_t(data.size()); }
    std::uint8_t* GetData() override { return data.data(); }
    std::uint32_t GetDataSize() override { return size; }
    void SetDataSize(std::uint32_t bytes) override { size = bytes; }
    void Complete() override {}
    std::uint64_t GetTimestamp() override { return 0; }
    void SetTimestamp(std::uint64_t) override {}
    std::uint32_t GetFlags() override { return 0; }
    void SetFlags(std::uint32_t) override {}
    void SetFourCC(std::uint32_t) override {}
    std::uint32_t GetFourCC() override { return 0; }
    void SetHeight(std::uint32_t) override {}
    std::uint32_t GetHeight() override { return 0; }
    void SetWidth(std::uint32_t) override {}
    std::uint32_t GetWidth() override { return 0; }
    void SetSizeClass(std::uint32_t) override {}

    std::vector<std::uint8_t> data;
    std::uint32_t size = 0;
};

class CPool final : public ipcapture::IFramePool {
public:
    void* Destroy(unsigned int) override { return nullptr; }
    std::uint32_t GetFrameCount() override { return 1; }
    ipcapture::IVideoFrame* AllocateFrame(std::uint32_t, std::uint32_t capacity,
                                          const char*) override {
        frame.data.assign(capacity, 0);  // exactly what was asked for
        frame.size = 0;
        return &frame;
    }
    std::uint32_t GetFreeFrameCount() override { return 1; }
    std::uint32_t GetMaxCapacity() override { return 0; }
    void Trim() override {}
    void ReleaseFrame(ipcapture::IVideoFrame*) override {}

    CFrame frame;
};

using CDriver = testing_support::TPoolDriver<CPool>;

class CChannel final : public IMediaParserClient, public IMediaReceiver {
public:
    bool OnFrame(ipcapture::IVideoFrame* frame, std::uint32_t, std::uint32_t) override {
        if (frame->GetDataSize() > frame->GetCapacity()) std::abort();
        volatile std::uint8_t sink = 0;
        const std::uint8_t* data = frame->GetData();
        for (std::uint32_t i = 0; i < frame->GetDataSize(); ++i) sink = sink ^ data[i];
        (void)sink;
        accept = !accept;  // refusals take their own path
        return accept;
    }
    std::pair<std::uint32_t, std::uint32_t> GetPictureSize() override { return {352, 288}; }

    bool accept = false;
};

// Feeds `data` as blocks whose sizes come from its first byte, the remainder being the stream.
template <typename Consume>
void InBlocks(const std::uint8_t* data, std::size_t size, Consume consume) {
    if (size == 0) return;
    const std::size_t block = std::size_t(data[0] % 64) + 1;
    for (std::size_t at = 1; at < size; at += block) consume(data + at, std::min(block, size - at));
}

// Feeds `data` as RTP packets to `parser`: each is a 3-byte record (payload length, 16 bits;
// flags: bit 0 the marker, bit 1 a lost packet before it) followed by its payload.
template <typename Parser>
void InPackets(const std::uint8_t* data, std::size_t size, Parser& parser) {
    std::uint16_t sequence = 0;
    for (std::size_t at = 0; at + 3 <= size;) {
        const std::size_t length = std::min<std::size_t>((data[at] << 8) | data[at + 1], size - at - 3);
        const std::uint8_t flags = data[at + 2];
        // A copy of exactly the payload, so ASan sees any read past it.
        std::vector<std::uint8_t> payload(data + at + 3, data + at + 3 + length);
        RTPPacket packet;
        packet.marker = flags & 1;
        sequence = static_cast<std::uint16_t>(sequence + 1 + ((flags >> 1) & 1));
        packet.sequenceNumber = sequence;
        packet.payload = payload.data();
        packet.payloadLength = static_cast<std::uint32_t>(length);
        parser.ProcessPacket(packet);
        at += 3 + length;
    }
}

}  // namespace fuzz_host

#endif
