#include "media/jpeg_media_parser.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "media_test_host.h"

namespace kestrel {
namespace {

using rtppack::Bytes;
using testing_support::CPoolDriver;
using testing_support::CRecordingChannel;
using testing_support::ReadTestData;

const std::size_t kBlockSizes[] = {1, 2, 3, 7, 64, 4096, 8192, 1 << 20};

struct Parsed {
    std::vector<testing_support::RecordedFrame> frames;
    std::size_t mostBuffered = 0;
};

Parsed ParseInBlocks(const Bytes& stream, std::size_t blockSize) {
    CPoolDriver driver;
    CRecordingChannel channel;
    CJpegMediaParser parser(&driver);
    parser.SetClient(&channel);
    Parsed parsed;
    for (std::size_t at = 0; at < stream.size(); at += blockSize) {
        parser.Parse(stream.data() + at, std::min(blockSize, stream.size() - at));
        parsed.mostBuffered = std::max(parsed.mostBuffered, parser.BufferedBytes());
    }
    parsed.frames = channel.frames;
    EXPECT_EQ(driver.pool.Outstanding(), 0u);
    return parsed;
}

void ExpectPictures(const Parsed& parsed, const std::vector<Bytes>& pictures, std::uint32_t width,
                    std::uint32_t height) {
    ASSERT_EQ(parsed.frames.size(), pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(parsed.frames[i].fourCC, ipcapture::kFourCCJpeg);
        EXPECT_EQ(parsed.frames[i].width, width);
        EXPECT_EQ(parsed.frames[i].height, height);
        EXPECT_EQ(parsed.frames[i].capacity, pictures[i].size());
        EXPECT_TRUE(parsed.frames[i].data == pictures[i]);
    }
}

TEST(JpegMediaParserTest, DeliversEveryPictureOfStreamsInBlocksOfAnySize) {
    struct Clip {
        const char* file;
        std::uint32_t width, height;
    };
    const Clip kClips[] = {
        {"mjpeg_352x288_multipart.bin", 352, 288},  // part headers and boundaries between
        {"jpeg_704x576_q50.mjpeg", 704, 576},       // back to back
        {"jpeg_352x288_q60_restart.mjpeg", 352, 288},  // restart markers in the scan
        {"jpeg_704x480_q30.mjpeg", 704, 480},
    };
    for (const Clip& clip : kClips) {
        const Bytes stream = ReadTestData(clip.file);
        ASSERT_FALSE(stream.empty()) << clip.file;
        const std::vector<Bytes> pictures = rtppack::SplitJpegPictures(stream);
        ASSERT_GE(pictures.size(), 4u);
        for (std::size_t blockSize : kBlockSizes) {
            SCOPED_TRACE(std::string(clip.file) + " in blocks of " + std::to_string(blockSize));
            ExpectPictures(ParseInBlocks(stream, blockSize), pictures, clip.width, clip.height);
        }
    }
}

Bytes FirstPicture(const char* file) { return rtppack::SplitJpegPictures(ReadTestData(file)).at(0); }

// An APP1 segment holding a complete picture of its own, as EXIF thumbnails are.
Bytes WithThumbnail(const Bytes& picture, const Bytes& thumbnail) {
    const std::size_t length = 2 + 6 + thumbnail.size();
    Bytes app1 = {0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length),  // APP1, length
                  'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), thumbnail.begin(), thumbnail.end());
    Bytes result(picture.begin(), picture.begin() + 2);  // SOI
    result.insert(result.end(), app1.begin(), app1.end());
    result.insert(result.end(), picture.begin() + 2, picture.end());
    return result;
}

TEST(JpegMediaParserTest, ThumbnailInsideAnApplicationSegmentNeitherSplitsNorReplacesPicture) {
    const Bytes thumbnail = FirstPicture("jpeg_352x240_q90.mjpeg");
    const Bytes picture = WithThumbnail(FirstPicture("jpeg_704x576_q50.mjpeg"), thumbnail);
    Bytes stream = {'-', '-', 'b', '\r', '\n', '\r', '\n'};
    stream.insert(stream.end(), picture.begin(), picture.end());
    stream.insert(stream.end(), picture.begin(), picture.end());
    for (std::size_t blockSize : kBlockSizes) {
        SCOPED_TRACE(blockSize);
        ExpectPictures(ParseInBlocks(stream, blockSize), {picture, picture}, 704, 576);
    }
}

TEST(JpegMediaParserTest, MarkerAtTheEndOfABlockOrAcrossTwoIsSeen) {
    const Bytes picture = FirstPicture("jpeg_352x288_q75.mjpeg");
    Bytes stream = picture;
    stream.insert(stream.end(), picture.begin(), picture.end());
    // Cut just before, inside and after the end-of-image marker, and inside the next
    // start-of-image marker.
    for (std::size_t cut = picture.size() - 3; cut <= picture.size() + 2; ++cut) {
        SCOPED_TRACE(cut);
        CPoolDriver driver;
        CRecordingChannel channel;
        CJpegMediaParser parser(&driver);
        parser.SetClient(&channel);
        parser.Parse(stream.data(), cut);
        parser.Parse(stream.data() + cut, stream.size() - cut);
        ExpectPictures({channel.frames, 0}, {picture, picture}, 352, 288);
    }
}

// The scan skips entropy-coded data many bytes at a time: the end of image must be seen
// wherever it falls, among stuffed bytes (FF 00) and fill bytes (FF FF) right before it.
TEST(JpegMediaParserTest, EndOfImageIsSeenAtEveryOffsetAmongStuffedAndFillBytes) {
    const Bytes picture = FirstPicture("jpeg_352x288_q75.mjpeg");
    for (std::size_t padding = 0; padding < 600; ++padding) {
        Bytes padded(picture.begin(), picture.end() - 2);
        const std::uint8_t pattern[] = {0xFF, 0x00, 0x11};  // a lone 0xFF last is fill
        for (std::size_t i = 0; i < padding; ++i) padded.push_back(pattern[i % 3]);
        padded.insert(padded.end(), {0xFF, 0xD9});
        Bytes stream = padded;
        stream.insert(stream.end(), picture.begin(), picture.end());
        for (std::size_t blockSize : {std::size_t(61), stream.size()}) {
            SCOPED_TRACE("padding " + std::to_string(padding) + ", blocks of " + std::to_string(blockSize));
            ExpectPictures(ParseInBlocks(stream, blockSize), {padded, picture}, 352, 288);
        }
    }
}

TEST(JpegMediaParserTest, DeliversNothingWithoutACompleteBaselinePicture) {
    const Bytes baseline = FirstPicture("jpeg_352x288_q75.mjpeg");
    Bytes progressive = baseline;
    for (std::size_t i = 0; i + 1 < progressive.size(); ++i) {
        if (progressive[i] == 0xFF && progressive[i + 1] == 0xC0) {
            progressive[i + 1] = 0xC2;
            break;
        }
    }
    const Bytes endOnly(baseline.begin() + 2, baseline.end());
    Bytes truncatedSegment = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x01, 0xFF, 0xD9};  // length 1
    const Bytes kCases[] = {progressive, endOnly, truncatedSegment};
    for (const Bytes& stream : kCases) {
        for (std::size_t blockSize : kBlockSizes) {
            EXPECT_TRUE(ParseInBlocks(stream, blockSize).frames.empty());
        }
    }
}

TEST(JpegMediaParserTest, StreamWithoutMarkersStaysBoundedAndResynchronises) {
    const Bytes picture = FirstPicture("jpeg_704x576_q50.mjpeg");
    const Bytes noise(CHttpMediaParser::kMaxBufferedBytes + 100000, 0x5A);
    Bytes outside = noise;  // no marker at all
    outside.insert(outside.end(), picture.begin(), picture.end());
    Bytes unfinished = {0xFF, 0xD8};  // a picture that never ends
    unfinished.insert(unfinished.end(), noise.begin(), noise.end());
    unfinished.insert(unfinished.end(), picture.begin(), picture.end());
    for (const Bytes& stream : {outside, unfinished}) {
        const Parsed parsed = ParseInBlocks(stream, 8192);
        EXPECT_LE(parsed.mostBuffered, CHttpMediaParser::kMaxBufferedBytes + 8192);
        ExpectPictures(parsed, {picture}, 704, 576);
    }
}

TEST(JpegMediaParserTest, PicturesAreDroppedWithoutDriverOrFrame) {
    const Bytes picture = FirstPicture("jpeg_352x288_q75.mjpeg");
    CRecordingChannel channel;
    CJpegMediaParser noDriver(nullptr);
    noDriver.SetClient(&channel);
    noDriver.Parse(picture.data(), picture.size());
    CPoolDriver driver;
    CJpegMediaParser noClient(&driver);
    noClient.Parse(picture.data(), picture.size());
    EXPECT_TRUE(channel.frames.empty());
    EXPECT_EQ(driver.pool.Allocated(), 0u);
}

}  // namespace
}  // namespace kestrel
