#include "brindle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

struct RealHeader {
    const char* what;
    const char* hex;  // VOS start code up to the first VOP start code, as an encoder wrote it
    std::int32_t width;
    std::int32_t height;
};

// Sequence headers written by FFmpeg's MPEG-4 encoder.
const RealHeader kRealHeaders[] = {
    {"CIF, 25 Hz, simple profile",
     "000001b001000001b58913000001000000012000c48d8800cd0b04241443000001b24c61766335392e33372e31"
     "3030000001b3001007",
     352, 288},
    {"4CIF",
     "000001b001000001b58913000001000000012000c48d8800cd1604481443000001b24c61766335392e33372e31"
     "3030000001b3001007",
     704, 576},
    {"1080p",
     "000001b001000001b58913000001000000012000c48d8800cd3c04871443000001b24c61766335392e33372e31"
     "3030000001b3001007",
     1920, 1080},
    {"NTSC 29.97 Hz, B-frames: layer identifier, 16:11 pixel aspect, VOL control parameters",
     "000001b0f1000001b5a913000001000000012008d4f9010d0ba98516843c14103f000001b24c61766335392e33"
     "372e313030000001b3001007",
     720, 480},
    {"extended pixel aspect ratio 7:5",
     "000001b001000001b58913000001000000012000c4f8382d88002d0584121443000001b24c61766335392e3337"
     "2e313030000001b3001007",
     176, 144},
};

std::int32_t Parse(const Bytes& bytes, std::size_t length, std::int32_t& width,
                   std::int32_t& height) {
    // A copy of exactly `length` bytes, so that a read past the end is caught by ASan.
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[length ? length : 1]);
    std::copy(bytes.begin(), bytes.begin() + length, exact.get());
    return ParseMpegHeader(exact.get(), static_cast<std::int32_t>(length), &width, &height);
}

TEST(ParseMpegHeaderTest, ReadsSizeOfRealHeaders) {
    for (const RealHeader& header : kRealHeaders) {
        SCOPED_TRACE(header.what);
        std::int32_t width = 0;
        std::int32_t height = 0;
        const Bytes bytes = FromHex(header.hex);
        EXPECT_GT(Parse(bytes, bytes.size(), width, height), 0);
        EXPECT_EQ(width, header.width);
        EXPECT_EQ(height, header.height);
    }
}

// Offset just past the height's marker bit: every byte the reader needs.
std::size_t BytesNeeded(const Bytes& bytes) {
    std::int32_t width = 0;
    std::int32_t height = 0;
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        if (Parse(bytes, length, width, height) > 0) return length;
    }
    return bytes.size() + 1;
}

TEST(ParseMpegHeaderTest, EveryTruncationFailsAndLeavesOutputs) {
    for (const RealHeader& header : kRealHeaders) {
        SCOPED_TRACE(header.what);
        const Bytes bytes = FromHex(header.hex);
        const std::size_t needed = BytesNeeded(bytes);
        ASSERT_LE(needed, bytes.size());
        for (std::size_t length = 0; length < needed; ++length) {
            std::int32_t width = -7;
            std::int32_t height = -7;
            EXPECT_EQ(Parse(bytes, length, width, height), 0) << length;
            EXPECT_EQ(width, -7);
            EXPECT_EQ(height, -7);
        }
    }
}

TEST(ParseMpegHeaderTest, FindsLayerWithoutSequenceStartCodeAndBehindFrameData) {
    const Bytes header = FromHex(kRealHeaders[0].hex);
    const Bytes layerOnly(header.begin() + 15, header.end());  // from 00 00 01 20
    Bytes behindNoise = {0x00, 0x00, 0x01, 0xB6, 0x10, 0x00, 0x00, 0x00, 0x01};
    behindNoise.insert(behindNoise.end(), header.begin(), header.end());
    for (const Bytes& bytes : {layerOnly, behindNoise}) {
        std::int32_t width = 0;
        std::int32_t height = 0;
        EXPECT_GT(Parse(bytes, bytes.size(), width, height), 0);
        EXPECT_EQ(width, 352);
        EXPECT_EQ(height, 288);
    }
}

// Writes a video object layer header field by field, most significant bit first.
class CVolWriter {
public:
    CVolWriter() : m_bytes{0x00, 0x00, 0x01, 0x20} {}
    CVolWriter& Put(std::uint32_t value, unsigned bits) {
        while (bits--) {
            if (m_bit % 8 == 0) m_bytes.push_back(0);
            if (value >> bits & 1) m_bytes.back() |= 0x80 >> (m_bit % 8);
            ++m_bit;
        }
        return *this;
    }
    Bytes Finish() {
        Put(0, (8 - m_bit % 8) % 8);
        return m_bytes;
    }

private:
    Bytes m_bytes;
    unsigned m_bit = 0;
};

struct LayerOptions {
    const char* what;
    bool layerIdentifier;
    std::uint32_t verid;
    std::uint32_t aspectRatio;
    bool controlParameters;
    bool vbv;
    std::uint32_t shape;
    std::uint32_t resolution;
    bool fixedRate;
    unsigned incrementBits;
    bool readable;
};

Bytes WriteLayer(const LayerOptions& o, std::uint32_t width, std::uint32_t height) {
    CVolWriter w;
    w.Put(0, 1).Put(1, 8);  // random_accessible_vol, video_object_type_indication
    w.Put(o.layerIdentifier, 1);
    if (o.layerIdentifier) w.Put(o.verid, 4).Put(1, 3);
    w.Put(o.aspectRatio, 4);
    if (o.aspectRatio == 0xF) w.Put(0x55, 8).Put(0x33, 8);
    w.Put(o.controlParameters, 1);
    if (o.controlParameters) {
        w.Put(1, 2).Put(1, 1).Put(o.vbv, 1);  // chroma_format, low_delay
        if (o.vbv) {
            w.Put(0x7FFF, 15).Put(1, 1).Put(0, 15).Put(1, 1);  // bit rate
            w.Put(0x1234, 15).Put(1, 1).Put(5, 3);             // buffer size
            w.Put(0x7FF, 11).Put(1, 1).Put(0, 15).Put(1, 1);   // occupancy
        }
    }
    w.Put(o.shape, 2);
    if (o.shape == 3 && o.verid != 1) w.Put(0, 4);
    w.Put(1, 1).Put(o.resolution, 16).Put(1, 1);
    w.Put(o.fixedRate, 1);
    if (o.fixedRate) w.Put(0, o.incrementBits);
    if (o.shape == 0) w.Put(1, 1).Put(width, 13).Put(1, 1).Put(height, 13).Put(1, 1);
    w.Put(0x12345, 20);  // interlaced and the rest: not read
    return w.Finish();
}

TEST(ParseMpegHeaderTest, StepsOverEveryOptionalFieldBeforeTheSize) {
    const LayerOptions kCases[] = {
        {"plain", false, 1, 1, false, false, 0, 25, false, 0, true},
        {"layer identifier", true, 2, 1, false, false, 0, 25, false, 0, true},
        {"extended pixel aspect", false, 1, 0xF, false, false, 0, 25, false, 0, true},
        {"control parameters without VBV", false, 1, 1, true, false, 0, 25, false, 0, true},
        {"control parameters with VBV", true, 1, 0xF, true, true, 0, 30000, false, 0, true},
        {"fixed rate, 25: 5 increment bits", false, 1, 1, false, false, 0, 25, true, 5, true},
        {"fixed rate, 16: 4 increment bits", false, 1, 1, false, false, 0, 16, true, 4, true},
        {"fixed rate, 1: at least 1 bit", false, 1, 1, false, false, 0, 1, true, 1, true},
        {"fixed rate, 65535: 16 bits", false, 1, 1, true, true, 0, 65535, true, 16, true},
        {"binary shape carries no size", false, 1, 1, false, false, 1, 25, false, 0, false},
        {"binary-only shape", false, 1, 1, false, false, 2, 25, false, 0, false},
        {"grayscale shape with extension", true, 2, 1, false, false, 3, 25, false, 0, false},
        {"time increment resolution 0 is forbidden", false, 1, 1, false, false, 0, 0, false, 0,
         false},
    };
    for (const LayerOptions& options : kCases) {
        SCOPED_TRACE(options.what);
        const Bytes bytes = WriteLayer(options, 1280, 960);
        std::int32_t width = 0;
        std::int32_t height = 0;
        EXPECT_EQ(Parse(bytes, bytes.size(), width, height) > 0, options.readable);
        if (options.readable) {
            EXPECT_EQ(width, 1280);
            EXPECT_EQ(height, 960);
        }
    }
}

TEST(ParseMpegHeaderTest, RejectsUnusableInput) {
    const LayerOptions plain = {"", false, 1, 1, false, false, 0, 25, false, 0, true};
    const Bytes zeroWidth = WriteLayer(plain, 0, 576);
    Bytes brokenMarker = FromHex(kRealHeaders[0].hex);
    brokenMarker[26] ^= 0x04;  // the marker bit between width and height
    const Bytes noLayer = FromHex("000001b001000001b58913000001b6105555");
    for (const Bytes& bytes : {zeroWidth, brokenMarker, noLayer}) {
        std::int32_t width = 0;
        std::int32_t height = 0;
        EXPECT_EQ(Parse(bytes, bytes.size(), width, height), 0);
    }
    const Bytes good = FromHex(kRealHeaders[0].hex);
    std::int32_t value = 0;
    EXPECT_EQ(ParseMpegHeader(nullptr, 10, &value, &value), 0);
    EXPECT_EQ(ParseMpegHeader(good.data(), -1, &value, &value), 0);
    EXPECT_EQ(ParseMpegHeader(good.data(), static_cast<std::int32_t>(good.size()), nullptr, &value),
              0);
}

}  // namespace
