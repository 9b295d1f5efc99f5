#include "media/mpeg_header_reader.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "media_test_host.h"
#include "platform/dynamic_library.h"

namespace kestrel {
namespace {

// The test binary stands where the driver library would: the header reader lies beside it.
TEST(MpegHeaderReaderTest, LoadsTheLibraryBesideTheModuleOnce) {
    const rtppack::Bytes key = rtppack::SplitMpeg4Frames(
        testing_support::ReadTestData("mpeg4_704x480.m4v")).at(0);
    std::vector<const CMpegHeaderReader*> seen(4);
    std::vector<std::thread> threads;
    for (auto& reader : seen) {
        threads.emplace_back([&reader] { reader = &CMpegHeaderReader::Shared(); });
    }
    for (auto& thread : threads) thread.join();
    for (const CMpegHeaderReader* reader : seen) EXPECT_EQ(reader, seen[0]);

    ASSERT_TRUE(seen[0]->Available()) << "no header reader in " << platform::OwnModuleFolder();
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    EXPECT_TRUE(seen[0]->ReadPictureSize(key.data(), key.size(), width, height));
    EXPECT_EQ(width, 704u);
    EXPECT_EQ(height, 480u);
    EXPECT_FALSE(seen[0]->ReadPictureSize(key.data(), 10, width, height));
}

TEST(MpegHeaderReaderTest, MissingLibraryOrFunctionIsNull) {
    EXPECT_EQ(platform::CDynamicLibrary::Load(platform::OwnModuleFolder() + "no-such-library"),
              nullptr);
    const CMpegHeaderReader missing(nullptr);
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    const std::uint8_t header[] = {0, 0, 1, 0x20};
    EXPECT_FALSE(missing.Available());
    EXPECT_FALSE(missing.ReadPictureSize(header, sizeof header, width, height));
}

}  // namespace
}  // namespace kestrel
