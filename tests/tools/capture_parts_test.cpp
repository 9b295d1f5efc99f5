// The capture program's parts that decide what a site engineer reads: the channel status line,
// the command line, and the frame pool it lends the driver.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture/channel_status.h"
#include "capture/frame_file_sink.h"
#include "capture/options.h"
#include "host/recycling_frame_pool.h"

namespace quillon_capture {
namespace {

TEST(ChannelStatusTest, ReadsConditionAndLossCountersTolerantly) {
    struct Case {
        const char* text;
        const char* condition;
        bool losses;
        ChannelLosses expected;
    } cases[] = {
        // The full line, as a streaming channel gives it.
        {"streaming H.264 704x576 25.0 fps 3.9 Mbit/s | packets 12034, gaps 3, frames 250, refused 1, "
         "no buffer 2, kernel drops 4",
         "streaming H.264 704x576 25.0 fps 3.9 Mbit/s", true, {3, 1, 2, 4}},
        // No " | ": all condition, no counters.
        {"connecting: web API login refused (HTTP 401)", "connecting: web API login refused (HTTP 401)",
         false, {}},
        {"", "", false, {}},
        // Counters the program does not know, or that do not read as "name N", are skipped.
        {"streaming | packets 5, jitter 1.5 ms, gaps x, refused 7", "streaming", true, {0, 7, 0, 0}},
        {"streaming | packets 5, frames 2", "streaming", false, {}},
        // Stray spaces around items; an empty item; a number too large for 64 bits.
        {"  no frames  |  gaps 1 ,, kernel drops 99999999999999999999999 ", "no frames", true, {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const ChannelStatus status = ParseChannelStatus(c.text);
        EXPECT_EQ(status.condition, c.condition) << c.text;
        ASSERT_EQ(status.losses.has_value(), c.losses) << c.text;
        if (!c.losses) continue;
        EXPECT_EQ(status.losses->gaps, c.expected.gaps) << c.text;
        EXPECT_EQ(status.losses->refused, c.expected.refused) << c.text;
        EXPECT_EQ(status.losses->noBuffer, c.expected.noBuffer) << c.text;
        EXPECT_EQ(status.losses->kernelDrops, c.expected.kernelDrops) << c.text;
    }
}

ParsedCommand Parse(std::vector<std::string> arguments, std::string* error) {
    ParsedCommand parsed;
    error->clear();
    if (!ParseCommandLine(arguments, &parsed, error)) {
        EXPECT_FALSE(error->empty());
    }
    return parsed;
}

TEST(CaptureOptionsTest, RefusesBadArgumentsWithTheReason) {
    struct Case {
        std::vector<std::string> arguments;
        const char* reason;
    } cases[] = {
        {{}, "no command"},
        {{"record"}, "unknown command 'record'"},
        {{"capture"}, "needs --address HOST or --simulate"},
        {{"capture", "--simulate", "--bogus"}, "unknown option --bogus"},
        {{"capture", "--simulate", "--duration"}, "--duration needs a value"},
        {{"capture", "--simulate", "--duration", "-3"}, "bad value '-3' for --duration"},
        {{"capture", "--simulate", "--fps", "0"}, "bad value '0' for --fps (1 to 60)"},
        {{"capture", "--simulate", "--fps", "25fps"}, "bad value '25fps' for --fps"},
        {{"capture", "--simulate", "--size", "704x"}, "bad value '704x' for --size"},
        {{"capture", "--simulate", "--size", "704x576x2"}, "bad value '704x576x2' for --size"},
        {{"capture", "--simulate", "--codec", "vp8"}, "bad value 'vp8' for --codec (h264, mpeg4 or jpeg)"},
        {{"capture", "--simulate", "--codec", "h264", "--transport", "http"}, "--transport http carries JPEG only"},
        {{"capture", "--simulate", "--jpeg-files"}, "--jpeg-files needs --codec jpeg"},
        {{"capture", "--address", "10.0.0.1", "--port", "65536"}, "bad value '65536' for --port"},
        {{"capture", "--simulate", "--cameras", "99999999999999999999"}, "bad value"},
        {{"io", "--simulate", "--set", "1=on"}, "bad value '1=on' for --set"},
        {{"io", "--simulate", "--outputs", "1", "--set", "2=active"}, "the camera has 1 output(s)"},
        {{"query", "--simulate", "--size", "1x1"}, "unknown option --size"},
    };
    for (const Case& c : cases) {
        std::string error;
        ParsedCommand parsed;
        EXPECT_FALSE(ParseCommandLine(c.arguments, &parsed, &error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(CaptureOptionsTest, TurnsOptionsIntoWhatTheHostConfigures) {
    std::string error;
    ParsedCommand parsed = Parse({"capture", "--simulate", "--transport", "http", "--fps", "30",
                                  "--size", "352x288", "--duration", "2.5", "--fps", "15"},
                                 &error);
    ASSERT_EQ(parsed.command, Command::kCapture) << error;
    const CaptureOptions& capture = parsed.capture;
    EXPECT_EQ(capture.target.camera.codec, kestrel::ipcapture::kCodecJpeg);  // http implies JPEG
    EXPECT_EQ(capture.target.camera.parameters, std::vector<std::string>{"1"});
    EXPECT_EQ(capture.channel.frameInterval, 67u);  // the last --fps counts
    EXPECT_EQ(capture.channel.width, 352u);
    EXPECT_EQ(capture.channel.height, 288u);
    EXPECT_DOUBLE_EQ(capture.seconds, 2.5);

    parsed = Parse({"capture", "--address", "cam.example", "--port", "8080", "--codec", "mpeg4",
                    "--transport", "rtsp"},
                   &error);
    EXPECT_FALSE(parsed.capture.target.simulate);
    EXPECT_EQ(parsed.capture.target.camera.address, "cam.example");
    EXPECT_EQ(parsed.capture.target.camera.port, 8080);
    EXPECT_TRUE(parsed.capture.target.camera.parameters.empty());
    EXPECT_EQ(parsed.capture.channel.frameInterval, 40u);

    parsed = Parse({"io", "--simulate", "--set", "2=active", "--set", "1=inactive"}, &error);
    ASSERT_EQ(parsed.command, Command::kIo) << error;
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> outputs{{2, 2}, {1, 1}};
    EXPECT_EQ(parsed.io.outputs, outputs);

    for (const char* command : {"capture", "query", "io"}) {
        parsed = Parse({command, "--bogus", "--help"}, &error);
        EXPECT_EQ(parsed.command, Command::kHelp);
        EXPECT_NE(parsed.helpText.find(std::string("quillon-capture ") + command), std::string::npos);
    }
}

using Bytes = std::vector<std::uint8_t>;

// Delivers one frame with this code and these bytes to the sink.
void Deliver(CFrameFileSink& sink, std::uint32_t fourCC, const Bytes& bytes) {
    quillon_host::CHostVideoFrame frame(fourCC, std::uint32_t(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), frame.GetData());
    frame.SetDataSize(std::uint32_t(bytes.size()));
    EXPECT_TRUE(sink.DeliverFrame(&frame));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(FrameFileSinkTest, H264FileStartsAtAKeyFrameWithEachDelimiterAheadOfItsAccessUnit) {
    using namespace kestrel::ipcapture;
    const std::string path = (std::filesystem::path(testing::TempDir()) / "sink_test.h264").string();
    CFrameFileSink sink(FrameOutput::kStream, path);
    ASSERT_TRUE(sink.Open());
    // As the driver delivers them: each access unit followed by a delimiter (00 00 01 09 30).
    Deliver(sink, kFourCCH264, {0, 0, 1, 0x41, 0xA0, 0, 0, 1, 9, 0x30});      // before any key frame
    Deliver(sink, kFourCCH264Key, {0, 0, 1, 0x67, 0x11, 0, 0, 1, 0x65, 0xB0, 0, 0, 1, 9, 0x30});  // SPS, IDR
    Deliver(sink, kFourCCH264, {0, 0, 1, 0x41, 0xA1, 0, 0, 1, 9, 0x30});
    sink.Close();
    const Bytes expected{0, 0, 1, 0x67, 0x11, 0, 0, 1, 0x65, 0xB0,  // the key frame first
                         0, 0, 1, 9, 0x30, 0, 0, 1, 0x41, 0xA1};     // the delimiter starts the next one
    EXPECT_EQ(ReadFile(path), expected);
    const SinkCounters counters = sink.Counters();
    EXPECT_EQ(counters.frames, 3u);
    EXPECT_EQ(counters.keyFrames, 1u);
    EXPECT_EQ(counters.skipped, 1u);
    EXPECT_FALSE(counters.writeFailed);
    EXPECT_LE(counters.firstFrameMs, counters.lastFrameMs);
}

TEST(FrameFileSinkTest, JpegPerFrameFilesAndFailuresToWrite) {
    using namespace kestrel::ipcapture;
    const std::filesystem::path folder = std::filesystem::path(testing::TempDir()) / "sink_test_pictures";
    std::filesystem::create_directories(folder);
    CFrameFileSink pictures(FrameOutput::kJpegPerFrame, (folder / "shot").string());
    ASSERT_TRUE(pictures.Open());
    const Bytes picture{0xFF, 0xD8, 0x01, 0xFF, 0xD9};
    Deliver(pictures, kFourCCJpeg, picture);
    Deliver(pictures, kFourCCJpeg, picture);
    EXPECT_EQ(ReadFile((folder / "shot-000001.jpg").string()), picture);
    EXPECT_EQ(ReadFile((folder / "shot-000002.jpg").string()), picture);

    // A folder that does not exist: the stream cannot be created, the pictures cannot be written.
    CFrameFileSink stream(FrameOutput::kStream, (folder / "missing" / "x.mjpeg").string());
    EXPECT_FALSE(stream.Open());
    CFrameFileSink lost(FrameOutput::kJpegPerFrame, (folder / "missing" / "shot").string());
    ASSERT_TRUE(lost.Open());
    Deliver(lost, kFourCCJpeg, picture);
    EXPECT_TRUE(lost.Counters().writeFailed);
}

TEST(RecyclingFramePoolTest, LendsUpToItsLimitAndHandsBackBuffersAsNew) {
    using kestrel::ipcapture::kFourCCH264;
    using kestrel::ipcapture::kFourCCJpeg;
    quillon_host::CRecyclingFramePool pool(2);
    kestrel::ipcapture::IVideoFrame* first = pool.AllocateFrame(kFourCCH264, 4096, "Quillon");
    kestrel::ipcapture::IVideoFrame* second = pool.AllocateFrame(kFourCCH264, 4096, "Quillon");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(pool.AllocateFrame(kFourCCH264, 4096, "Quillon"), nullptr);
    EXPECT_EQ(pool.Refusals(), 1u);
    first->SetDataSize(100);
    first->SetWidth(704);
    first->SetFourCC(kFourCCH264);
    first->Complete();
    pool.ReleaseFrame(first);
    // The same buffer comes back, grown to the larger capacity, with none of its old fields.
    kestrel::ipcapture::IVideoFrame* again = pool.AllocateFrame(kFourCCJpeg, 70000, "Quillon");
    ASSERT_EQ(again, first);
    EXPECT_GE(again->GetCapacity(), 70000u);
    EXPECT_EQ(again->GetDataSize(), 0u);
    EXPECT_EQ(again->GetWidth(), 0u);
    EXPECT_EQ(again->GetFourCC(), kFourCCJpeg);
    EXPECT_FALSE(static_cast<quillon_host::CHostVideoFrame*>(again)->IsComplete());
    again->GetData()[69999] = 1;  // the whole capacity is there
    pool.ReleaseFrame(again);
    pool.ReleaseFrame(second);
    EXPECT_EQ(pool.Outstanding(), 0u);
}

}  // namespace
}  // namespace quillon_capture
