#include "runtime/frame_record.h"

#include <gtest/gtest.h>

#include "host/reference_host.h"

namespace kestrel {
namespace {

TEST(FrameRecordTest, SizeClassFollowsWidthAndFlatness) {
    struct Case {
        std::uint32_t width, height, sizeClass;
    };
    const Case cases[] = {
        {352, 288, 2}, {704, 288, 3}, {704, 576, 4}, {1280, 720, 4},
        {400, 300, 2}, {401, 300, 4}, {1000, 400, 3}, {1024, 400, 4},
        {352, 120, 3},  // flat and narrow is still a half-height field
        {0, 0, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FrameSizeClass(c.width, c.height), c.sizeClass) << c.width << "x" << c.height;
    }
}

TEST(FrameRecordTest, CapacityRoundsUpToTheClasses) {
    struct Case {
        std::uint32_t bytes, capacity;
    };
    const Case cases[] = {
        {0, 4096},      {4096, 4096},     {4097, 16384},   {16384, 16384},
        {16385, 32768}, {32768, 32768},   {32769, 131072}, {40000, 131072},
        {131072, 131072}, {200000, 200000},
    };
    for (const Case& c : cases) EXPECT_EQ(FrameCapacity(c.bytes), c.capacity) << c.bytes;
}

TEST(FrameRecordTest, LentFrameIsGivenBackAndCompletedInOrder) {
    quillon_host::CHostFramePool pool(1);
    {
        CLentFrame frame(&pool, ipcapture::kFourCCH264, 4096);
        ASSERT_TRUE(frame);
        EXPECT_EQ(pool.LastSource(), "Quillon");
        CLentFrame refused(&pool, ipcapture::kFourCCH264, 4096);  // the pool is exhausted
        EXPECT_FALSE(refused);
        CompleteFrame(frame.get(), 704, 288, 1234, ipcapture::kFourCCH264Key);
        auto* host = static_cast<quillon_host::CHostVideoFrame*>(frame.get());
        EXPECT_EQ(host->GetWidth(), 704u);
        EXPECT_EQ(host->GetHeight(), 288u);
        EXPECT_EQ(host->SizeClass(), 3u);
        EXPECT_EQ(host->GetDataSize(), 1234u);
        EXPECT_EQ(host->GetFourCC(), ipcapture::kFourCCH264Key);
        EXPECT_TRUE(host->IsComplete());
    }
    EXPECT_EQ(pool.Outstanding(), 0u);
    CLentFrame noPool(nullptr, ipcapture::kFourCCJpeg, 4096);
    EXPECT_FALSE(noPool);
}

TEST(FrameRecordTest, FourCharacterCodesKeepTheFirstCharacterLowest) {
    const std::uint8_t expected[] = {'H', '2', '6', '4'};
    std::uint32_t code = ipcapture::kFourCCH264Key;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(std::uint8_t(code >> (8 * i)), expected[i]);
}

}  // namespace
}  // namespace kestrel
