#include "media/mpeg_media_parser.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "media_test_host.h"

namespace kestrel {
namespace {

using rtppack::Bytes;
using testing_support::CPoolDriver;
using testing_support::CRecordingChannel;
using testing_support::ReadTestData;

const std::size_t kBlockSizes[] = {1, 2, 7, 4096, 65536, 1 << 20};
constexpr std::uint8_t kVop = 0xB6;

bool IsVop(const Bytes& frame) {
    return frame.size() > 4 && frame[0] == 0 && frame[1] == 0 && frame[2] == 1 && frame[3] == kVop;
}

struct Parsed {
    std::vector<testing_support::RecordedFrame> frames;
    std::size_t mostBuffered = 0;
};

Parsed ParseInBlocks(const Bytes& stream, std::size_t blockSize,
                     const CMpegHeaderReader& reader = CMpegHeaderReader::Shared()) {
    CPoolDriver driver;
    CRecordingChannel channel;
    CMpegMediaParser parser(&driver, reader);
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

// Every frame but the last (which no following start code ends): key frames with their
// sequence header, as the stream carries them, the others alone.
void ExpectFrames(const Parsed& parsed, const std::vector<Bytes>& frames, std::uint32_t width,
                  std::uint32_t height) {
    ASSERT_EQ(parsed.frames.size() + 1, frames.size());
    for (std::size_t i = 0; i < parsed.frames.size(); ++i) {
        SCOPED_TRACE(i);
        const bool key = !IsVop(frames[i]);
        EXPECT_EQ(parsed.frames[i].fourCC,
                  key ? ipcapture::kFourCCMpeg4Key : ipcapture::kFourCCMpeg4);
        EXPECT_EQ(parsed.frames[i].width, width);
        EXPECT_EQ(parsed.frames[i].height, height);
        EXPECT_EQ(parsed.frames[i].capacity,
                  FrameCapacity(static_cast<std::uint32_t>(frames[i].size())));
        EXPECT_TRUE(parsed.frames[i].data == frames[i]);
    }
}

TEST(MpegMediaParserTest, DeliversEveryFrameOfStreamsInBlocksOfAnySize) {
    struct Clip {
        const char* file;
        std::uint32_t width, height;
    };
    const Clip kClips[] = {
        {"mpeg4_704x576.m4v", 704, 576},
        {"mpeg4_352x240.m4v", 352, 240},
    };
    for (const Clip& clip : kClips) {
        const Bytes stream = ReadTestData(clip.file);
        const std::vector<Bytes> frames = rtppack::SplitMpeg4Frames(stream);
        ASSERT_GE(frames.size(), 50u) << clip.file;
        for (std::size_t blockSize : kBlockSizes) {
            SCOPED_TRACE(std::string(clip.file) + " in blocks of " + std::to_string(blockSize));
            ExpectFrames(ParseInBlocks(stream, blockSize), frames, clip.width, clip.height);
        }
    }
}

// The stream with every sequence header cut to begin at `firstCode` (B5 visual object, 00
// video object, 20 video object layer), as cameras without a VOS start code send it.
Bytes HeadersFrom(const std::vector<Bytes>& frames, std::uint8_t firstCode,
                  std::vector<Bytes>& cutFrames) {
    Bytes stream;
    cutFrames.clear();
    for (const Bytes& frame : frames) {
        Bytes cut = frame;
        if (!IsVop(frame)) {
            for (std::size_t i = 0; i + 3 < frame.size(); ++i) {
                if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 &&
                    frame[i + 3] == firstCode) {
                    cut.assign(frame.begin() + static_cast<std::ptrdiff_t>(i), frame.end());
                    break;
                }
            }
        }
        stream.insert(stream.end(), cut.begin(), cut.end());
        cutFrames.push_back(cut);
    }
    return stream;
}

TEST(MpegMediaParserTest, SequenceHeaderMayStartWithoutSequenceStartCode) {
    const std::vector<Bytes> frames = rtppack::SplitMpeg4Frames(ReadTestData("mpeg4_352x288.m4v"));
    for (std::uint8_t firstCode : {0xB5, 0x00, 0x20}) {
        SCOPED_TRACE(int(firstCode));
        std::vector<Bytes> cutFrames;
        const Bytes stream = HeadersFrom(frames, firstCode, cutFrames);
        ASSERT_LT(stream.size(), ReadTestData("mpeg4_352x288.m4v").size());
        for (std::size_t blockSize : {std::size_t(3), std::size_t(4096)}) {
            ExpectFrames(ParseInBlocks(stream, blockSize), cutFrames, 352, 288);
        }
    }
}

Bytes Join(std::vector<Bytes>::const_iterator begin, std::vector<Bytes>::const_iterator end) {
    Bytes stream;
    for (auto frame = begin; frame != end; ++frame) {
        stream.insert(stream.end(), frame->begin(), frame->end());
    }
    return stream;
}

std::size_t NextKeyFrame(const std::vector<Bytes>& frames, std::size_t from) {
    while (from < frames.size() && IsVop(frames[from])) ++from;
    return from;
}

TEST(MpegMediaParserTest, WaitsForAKeyFrameWhoseSizeCanBeRead) {
    const std::vector<Bytes> frames = rtppack::SplitMpeg4Frames(ReadTestData("mpeg4_352x288.m4v"));
    const std::size_t second = NextKeyFrame(frames, 1);
    ASSERT_LT(second, frames.size());
    const std::vector<Bytes> fromSecond(frames.begin() + second, frames.end());

    // P-VOPs before the first header: dropped.
    const Bytes startsWithP = Join(frames.begin() + 1, frames.end());
    ExpectFrames(ParseInBlocks(startsWithP, 4096), fromSecond, 352, 288);

    // A first key frame whose layer header is broken: its whole group is dropped.
    std::vector<Bytes> broken = frames;
    Bytes& header = broken[0];
    const std::uint8_t layerStart[] = {0, 0, 1, 0x20};
    const auto layer =
        std::search(header.begin(), header.end(), std::begin(layerStart), std::end(layerStart));
    ASSERT_NE(layer, header.end());
    std::fill(layer + 4, layer + 12, std::uint8_t(0));  // zero marker bits: unreadable
    ExpectFrames(ParseInBlocks(Join(broken.begin(), broken.end()), 4096), fromSecond, 352, 288);

    // Without the header reader nothing can be delivered at all.
    const CMpegHeaderReader missing(nullptr);
    EXPECT_TRUE(ParseInBlocks(Join(frames.begin(), frames.end()), 4096, missing).frames.empty());
}

TEST(MpegMediaParserTest, StreamWithoutStartCodesStaysBoundedAndResynchronises) {
    const Bytes stream = ReadTestData("mpeg4_352x288.m4v");
    const std::vector<Bytes> frames = rtppack::SplitMpeg4Frames(stream);
    const Bytes noise(CHttpMediaParser::kMaxBufferedBytes + 100000, 0x5A);
    Bytes afterNoise = noise;
    afterNoise.insert(afterNoise.end(), stream.begin(), stream.end());
    // A header whose VOP never comes, then noise: dropped, then the real stream.
    Bytes unfinishedHeader(frames[0].begin(), frames[0].begin() + 30);
    unfinishedHeader.insert(unfinishedHeader.end(), afterNoise.begin(), afterNoise.end());
    for (const Bytes& input : {afterNoise, unfinishedHeader}) {
        const Parsed parsed = ParseInBlocks(input, 8192);
        EXPECT_LE(parsed.mostBuffered, CHttpMediaParser::kMaxBufferedBytes + 8192);
        ExpectFrames(parsed, frames, 352, 288);
    }
}

}  // namespace
}  // namespace kestrel
