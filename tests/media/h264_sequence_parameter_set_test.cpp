#include "media/h264_sequence_parameter_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes BehindStartCode(const Bytes& nal) {
    Bytes stream = {0x00, 0x00, 0x01};
    stream.insert(stream.end(), nal.begin(), nal.end());
    return stream;
}

struct RealSpsCase {
    const char* what;
    Bytes nal;  // NAL header included, as on the wire (with emulation prevention bytes)
    std::uint32_t width, height;
};

// Parameter sets written by x264 (through ffmpeg) for a test picture of the named size; the
// fields that decide the size are those ffmpeg's trace_headers filter reports.
const RealSpsCase kRealParameterSets[] = {
    // Baseline 704x576: 44x36 macroblocks, no cropping.
    {"baseline 704x576",
     {0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xB0, 0x12, 0x6C, 0x04, 0x40, 0x00, 0x00, 0x03, 0x00, 0x40,
      0x00, 0x00, 0x0C, 0x83, 0xC5, 0x8B, 0x92},
     704, 576},
    // High 4:2:0 1920x1080 progressive: 120x68 macroblocks, crop bottom 4 (2 lines each).
    {"high 1080p",
     {0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9, 0x40, 0x78, 0x02, 0x27, 0xE5, 0xC0, 0x44, 0x00, 0x00, 0x03,
      0x00, 0x04, 0x00, 0x00, 0x03, 0x00, 0xC8, 0x3C, 0x60, 0xC6, 0x58},
     1920, 1080},
    // High 4:2:0 1920x1080 interlaced (MBAFF): frame_mbs_only 0, 34 map units of two
    // macroblock rows, crop bottom 2 in units of 4 lines.
    {"high 1080i",
     {0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9, 0x40, 0x78, 0x04, 0x4F, 0xDE, 0x02, 0x20, 0x00, 0x00, 0x03,
      0x00, 0x20, 0x00, 0x00, 0x06, 0x43, 0xE2, 0xC5, 0xB2, 0xC0},
     1920, 1080},
    // High 10 Intra (AVC-Intra 50) 1440x1080 interlaced, 4:2:0 with scaling lists 1, 2 and 6.
    {"high 10 intra 1080i with scaling lists",
     {0x67, 0x6E, 0x10, 0x28, 0xA6, 0xD4, 0x20, 0x32, 0x33, 0x0C, 0x71, 0x18, 0x88, 0x62, 0x10, 0x19,
      0x19, 0x86, 0x38, 0x8C, 0x44, 0x30, 0x21, 0x02, 0x56, 0x4E, 0x6E, 0x61, 0x87, 0x3E, 0x73, 0x4D,
      0x98, 0x0C, 0x03, 0x06, 0x9C, 0x0B, 0x73, 0xE6, 0xC0, 0xB5, 0x18, 0x63, 0x0D, 0x39, 0xE0, 0x5B,
      0x02, 0xD4, 0xC6, 0x19, 0x1A, 0x79, 0x8C, 0x32, 0x34, 0x24, 0xF0, 0x16, 0x81, 0x13, 0xF7, 0x87,
      0x08, 0x00, 0x00, 0x03, 0x00, 0x08, 0x00, 0x00, 0x03, 0x01, 0x94, 0x20},
     1440, 1080},
    // High 4:2:2 720x486: 45x31 macroblocks, crop bottom 10 in units of 1 line.
    {"high 4:2:2 720x486",
     {0x67, 0x7A, 0x00, 0x1E, 0xBC, 0xD9, 0x40, 0xB4, 0x3F, 0xF8, 0xBC, 0x04, 0x40, 0x00, 0x00, 0x03,
      0x00, 0x40, 0x00, 0x00, 0x0C, 0x83, 0xC5, 0x8B, 0x65, 0x80},
     720, 486},
    // High 4:2:2 Intra (AVC-Intra 100) 1920x1080 with scaling lists 1, 2 and 6, crop bottom 8.
    {"high 4:2:2 intra 1080p with scaling lists",
     {0x67, 0x7A, 0x10, 0x29, 0xB6, 0xD4, 0x20, 0x22, 0x33, 0x19, 0xC6, 0x63, 0x23, 0x21, 0x01, 0x11,
      0x98, 0xCE, 0x33, 0x19, 0x18, 0x21, 0x02, 0x56, 0xB9, 0x3D, 0x7D, 0x7E, 0x4F, 0xE3, 0x3F, 0x11,
      0xF1, 0x9E, 0x08, 0xB8, 0x8C, 0x54, 0x43, 0xC0, 0x78, 0x02, 0x27, 0xE2, 0x70, 0x11, 0x00, 0x00,
      0x03, 0x00, 0x01, 0x00, 0x00, 0x03, 0x00, 0x32, 0x84},
     1920, 1080},
    // High 4:4:4 Predictive 1900x1078: 119x68 macroblocks, crop right 4 and bottom 10, in
    // units of 1 pixel.
    {"high 4:4:4 cropped",
     {0x67, 0xF4, 0x00, 0x28, 0x91, 0x9B, 0x28, 0x0E, 0xE0, 0x44, 0xF2, 0xC5, 0xE0, 0x22, 0x00, 0x00,
      0x03, 0x00, 0x02, 0x00, 0x00, 0x03, 0x00, 0x64, 0x1E, 0x30, 0x63, 0x2C},
     1900, 1078},
    // High, monochrome (chroma_format_idc 0) 1918x1078: crop right 2, bottom 10, 1 pixel each.
    {"high monochrome cropped",
     {0x67, 0x64, 0x00, 0x28, 0xF3, 0x65, 0x01, 0xE0, 0x08, 0x9E, 0xE2, 0xF0, 0x16, 0xC8, 0x00, 0x00,
      0x03, 0x00, 0x08, 0x00, 0x00, 0x03, 0x01, 0x90, 0x78, 0xC1, 0x8C, 0xB0},
     1918, 1078},
    // High 4:4:4 640x480 cropped to 632, written by hand (ffmpeg reads it back the same):
    // 12 scaling lists, of which list 0 (16 entries: one delta -8, the default matrix), list 8
    // (64 entries, deltas 8 then -2..2 repeating) and list 11 (deltas 4, 3, -2, -13: ends at
    // a 0) are present. A reader that stops after 8 lists takes list 8's deltas for the size.
    {"high 4:4:4 with twelve scaling lists",
     {0x67, 0xF4, 0x00, 0x28, 0x91, 0xB0, 0x88, 0x08, 0x41, 0xD1, 0x0A, 0xE8, 0x85, 0x74, 0x42, 0xBA,
      0x21, 0x5D, 0x10, 0xAE, 0x88, 0x57, 0x44, 0x2B, 0xA2, 0x15, 0xD1, 0x0A, 0xE8, 0x85, 0x74, 0x42,
      0xBA, 0x21, 0x5D, 0x11, 0x06, 0x28, 0x6F, 0x68, 0x0A, 0x03, 0xDE, 0x27, 0x40},
     632, 480},
};

TEST(H264SequenceParameterSetTest, RealParameterSetsGiveTheDisplayedSize) {
    for (const RealSpsCase& sps : kRealParameterSets) {
        SCOPED_TRACE(sps.what);
        std::uint32_t width = 0, height = 0;
        ASSERT_TRUE(ReadH264SequenceParameterSet(sps.nal.data(), sps.nal.size(), width, height));
        EXPECT_EQ(width, sps.width);
        EXPECT_EQ(height, sps.height);

        // The same inside a byte stream, behind other NAL units.
        Bytes stream = BehindStartCode({0x09, 0x10});  // access unit delimiter
        const Bytes behind = BehindStartCode(sps.nal);
        stream.insert(stream.end(), behind.begin(), behind.end());
        const Bytes pps = BehindStartCode({0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0});
        stream.insert(stream.end(), pps.begin(), pps.end());
        width = height = 0;
        ASSERT_TRUE(ReadH264PictureSize(stream.data(), stream.size(), width, height));
        EXPECT_EQ(width, sps.width);
        EXPECT_EQ(height, sps.height);
    }
}

TEST(H264SequenceParameterSetTest, OwnParameterSetsReadBackAtEverySize) {
    struct Size {
        std::uint32_t width, height;
    };
    for (const Size& size : {Size{704, 576}, Size{1920, 1080}, Size{352, 240}, Size{16, 16},
                             Size{4096, 2160}, Size{2, 2}, Size{1366, 768}}) {
        const Bytes sps = BuildH264SequenceParameterSet(size.width, size.height);
        ASSERT_FALSE(sps.empty());
        std::uint32_t width = 0, height = 0;
        ASSERT_TRUE(ReadH264SequenceParameterSet(sps.data(), sps.size(), width, height)) << size.width;
        EXPECT_EQ(width, size.width);
        EXPECT_EQ(height, size.height);
    }
    EXPECT_TRUE(BuildH264SequenceParameterSet(0, 576).empty());
    EXPECT_TRUE(BuildH264SequenceParameterSet(704, 0).empty());
}

TEST(H264SequenceParameterSetTest, OwnParameterSetsForTheCommonSizes) {
    struct Case {
        std::uint32_t width, height;
        Bytes nal;
    };
    const Case cases[] = {
        // Baseline, level 4.0, poc type 2, one reference, 44x36 macroblocks, no cropping.
        {704, 576, {0x67, 0x42, 0x80, 0x28, 0xDA, 0x02, 0xC0, 0x49, 0x10}},
        // 120x68 macroblocks, cropping on: right 0, bottom 4 (8 lines).
        {1920, 1080, {0x67, 0x42, 0x80, 0x28, 0xDA, 0x01, 0xE0, 0x08, 0x97, 0x95}},
    };
    for (const Case& c : cases) EXPECT_EQ(BuildH264SequenceParameterSet(c.width, c.height), c.nal) << c.width;
}

TEST(H264SequenceParameterSetTest, EmulationPreventionBytesAreNotReadAsData) {
    // A 704x576 SPS whose RBSP starts 42 00 00 02 (level 0, seq_parameter_set_id 63): on the
    // wire 00 00 02 must be escaped as 00 00 03 02.
    const Bytes stream = {0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x00, 0x03, 0x02, 0x05, 0xA0, 0x2C, 0x04, 0x91};
    std::uint32_t width = 0, height = 0;
    ASSERT_TRUE(ReadH264PictureSize(stream.data(), stream.size(), width, height));
    EXPECT_EQ(width, 704u);
    EXPECT_EQ(height, 576u);
}

// Writes the fields of a hostile parameter set, Exp-Golomb codes included.
class FieldWriter {
public:
    FieldWriter& Bits(std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) m_bits.push_back((value >> i) & 1);
        return *this;
    }
    FieldWriter& Ue(std::uint64_t value) {
        const std::uint64_t code = value + 1;
        int length = 0;
        while ((code >> length) > 1) ++length;
        return Bits(0, length).Bits(code, length + 1);
    }
    FieldWriter& Se(std::int64_t value) {
        return Ue(value > 0 ? std::uint64_t(2 * value - 1) : std::uint64_t(-2 * value));
    }
    // NAL header 0x67, the fields, the trailing bits; no zero pairs arise in these tests.
    Bytes Nal() {
        Bits(1, 1);
        while (m_bits.size() % 8 != 0) m_bits.push_back(0);
        Bytes nal = {0x67};
        for (std::size_t i = 0; i < m_bits.size(); i += 8) {
            std::uint8_t byte = 0;
            for (std::size_t j = 0; j < 8; ++j) byte = static_cast<std::uint8_t>(byte << 1 | m_bits[i + j]);
            nal.push_back(byte);
        }
        return nal;
    }

private:
    std::vector<std::uint8_t> m_bits;
};

// High profile 4:2:0 up to the scaling lists, then list 0 with `delta` as its first entry.
FieldWriter HighWithScalingDelta(std::int64_t delta) {
    FieldWriter w;
    w.Bits(100, 8).Bits(0, 8).Bits(40, 8).Ue(0);  // profile, flags, level, id
    w.Ue(1).Ue(0).Ue(0).Bits(0, 1);              // chroma 4:2:0, bit depths, bypass
    w.Bits(1, 1).Bits(1, 1).Se(delta);            // matrix present, list 0 present, delta
    w.Se(0).Se(0).Se(-8 - delta);                 // entries that end the list (next 0)
    w.Bits(0, 7);                                 // lists 1 to 7 absent
    return w;
}

FieldWriter& SizeFields(FieldWriter& w, std::uint32_t widthMbs, std::uint32_t heightUnits) {
    w.Ue(0).Ue(2).Ue(1).Bits(0, 1);  // frame_num bits, poc type 2, one reference, no gaps
    return w.Ue(widthMbs - 1).Ue(heightUnits - 1).Bits(1, 1).Bits(1, 1);  // frame_mbs_only, 8x8
}

TEST(H264SequenceParameterSetTest, HostileParameterSetsAreRefused) {
    FieldWriter inRange = HighWithScalingDelta(-128);
    const Bytes accepted = SizeFields(inRange, 40, 30).Bits(0, 1).Bits(0, 1).Nal();
    std::uint32_t width = 0, height = 0;
    ASSERT_TRUE(ReadH264SequenceParameterSet(accepted.data(), accepted.size(), width, height));
    EXPECT_EQ(width, 640u);
    EXPECT_EQ(height, 480u);

    struct Case {
        const char* what;
        Bytes nal;
    };
    auto withDelta = [](std::int64_t delta) {
        FieldWriter w = HighWithScalingDelta(delta);
        return SizeFields(w, 40, 30).Bits(0, 1).Bits(0, 1).Nal();
    };
    auto withCrop = [](std::uint64_t right, std::uint64_t bottom) {
        FieldWriter w;
        w.Bits(66, 8).Bits(0, 8).Bits(30, 8).Ue(0);
        return SizeFields(w, 2, 2).Bits(1, 1).Ue(0).Ue(right).Ue(0).Ue(bottom).Bits(0, 1).Nal();
    };
    auto withChroma = [](std::uint64_t chromaFormat) {
        FieldWriter w;
        w.Bits(100, 8).Bits(0, 8).Bits(40, 8).Ue(0).Ue(chromaFormat).Ue(0).Ue(0).Bits(0, 2);
        return SizeFields(w, 40, 30).Bits(0, 2).Nal();
    };
    const Case cases[] = {
        {"scaling delta above 127", withDelta(128)},
        {"scaling delta below -128", withDelta(-129)},
        {"scaling delta near 2^31 (signed overflow when added)", withDelta(2147483647)},
        {"scaling delta near -2^31", withDelta(-2147483647)},
        {"crop wider than the picture", withCrop(16, 0)},
        {"crop taller than the picture", withCrop(0, 16)},
        {"crop offset near 2^32", withCrop(4294967294u, 0)},
        {"chroma_format_idc 4", withChroma(4)},
        {"Exp-Golomb code of 33 bits", FieldWriter().Bits(66, 8).Bits(0, 8).Bits(30, 8).Bits(0, 40).Nal()},
        {"cut before frame_mbs_only_flag", Bytes(accepted.begin(), accepted.end() - 2)},
        {"NAL header only", Bytes{0x67}},
        {"not a sequence parameter set", Bytes{0x68, 0xCE, 0x3C, 0x80}},
    };
    for (const Case& c : cases) {
        width = height = 0;
        EXPECT_FALSE(ReadH264SequenceParameterSet(c.nal.data(), c.nal.size(), width, height)) << c.what;
        const Bytes stream = BehindStartCode(c.nal);
        EXPECT_FALSE(ReadH264PictureSize(stream.data(), stream.size(), width, height)) << c.what;
    }
    const Bytes noSps = BehindStartCode({0x65, 0x88, 0x84});
    EXPECT_FALSE(ReadH264PictureSize(noSps.data(), noSps.size(), width, height));
}

}  // namespace
}  // namespace kestrel
