#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsp/interleaved_reader.h"

namespace kestrel {
namespace {

using namespace std::string_literals;

// A `$` frame: mark, channel, 16-bit length, then an RTP-looking payload of `length` bytes.
std::string Frame(unsigned channel, std::size_t length, char fill = 'x') {
    std::string frame = {'$', char(channel), char(length >> 8), char(length & 0xFF)};
    std::string payload(length, fill);
    if (length > 0) payload[0] = char(0x80);  // version 2
    return frame + payload;
}

const std::string kAnswer = "RTSP/1.0 200 OK\r\nCSeq: 7\r\n\r\n";
const std::string kAnswerWithBody = "RTSP/1.0 200 OK\r\nCSeq: 8\r\nContent-Length: 4\r\n\r\nabcd";
const std::string kServerRequest = "GET_PARAMETER rtsp://cam/ RTSP/1.0\r\nCSeq: 2\r\n\r\n";

// Each item as "F<channel>:<length>" or "M:<first line>".
std::string Describe(const InterleavedItem& item) {
    if (item.kind == InterleavedItem::Kind::kFrame) {
        return "F" + std::to_string(item.channel) + ":" + std::to_string(item.data.size());
    }
    return "M:" + std::string(item.data.substr(0, item.data.find('\r')));
}

std::vector<std::string> Drain(CInterleavedReader& reader) {
    std::vector<std::string> items;
    InterleavedItem item;
    while (reader.Next(item)) items.push_back(Describe(item));
    return items;
}

// Feeds `bytes` in pieces of `piece` bytes, taking the items after each piece.
std::vector<std::string> Feed(CInterleavedReader& reader, const std::string& bytes, std::size_t piece) {
    std::vector<std::string> items;
    for (std::size_t i = 0; i < bytes.size(); i += piece) {
        reader.Append(std::string_view(bytes).substr(i, piece));
        for (const std::string& item : Drain(reader)) items.push_back(item);
    }
    return items;
}

TEST(InterleavedReaderTest, SplitsFramesAndMessagesHoweverTheBytesArrive) {
    struct Case {
        const char* comment;
        std::string bytes;
        std::vector<std::string> items;
        std::uint64_t resyncs;
    };
    const Case cases[] = {
        {"several frames in one read", Frame(0, 1400) + Frame(0, 12) + Frame(1, 28),
         {"F0:1400", "F0:12", "F1:28"}, 0},
        {"the largest frame", Frame(0, 0xFFFF), {"F0:65535"}, 0},
        {"an answer between frames", Frame(0, 100) + kAnswer + Frame(0, 100), {"F0:100", "M:RTSP/1.0 200 OK", "F0:100"}, 0},
        {"an answer with a body whose bytes look like a frame",
         Frame(0, 20) + "RTSP/1.0 200 OK\r\nCSeq: 8\r\nContent-Length: 5\r\n\r\n$\x01\x00\x01\x80"s + Frame(1, 8),
         {"F0:20", "M:RTSP/1.0 200 OK", "F1:8"}, 0},
        {"a server's request between frames", Frame(0, 50) + kServerRequest + Frame(1, 40),
         {"F0:50", "M:GET_PARAMETER rtsp://cam/ RTSP/1.0", "F1:40"}, 0},
        {"line ends between items are no garbage", kAnswer + "\r\n" + Frame(0, 30) + "\r\n" + Frame(0, 30),
         {"M:RTSP/1.0 200 OK", "F0:30", "F0:30"}, 0},
        {"a channel not set up is still one frame", Frame(5, 64) + Frame(0, 64), {"F5:64", "F0:64"}, 0},
        {"garbage between frames", Frame(0, 40) + "\x01\x02garbage\xff" + Frame(0, 40), {"F0:40", "F0:40"}, 1},
        {"frame length too short: the rest of the packet is skipped",
         Frame(0, 40).substr(0, 3) + char(20) + Frame(0, 40).substr(4) + Frame(0, 16),
         {"F0:20", "F0:16"}, 1},
        {"in step a frame is taken whatever its payload",
         "$\x00\x00\x10"s + std::string(16, '\x11') + Frame(1, 16), {"F0:16", "F1:16"}, 0},
        {"while resynchronising, a mark of a channel not seen in step is skipped",
         Frame(0, 8) + "junk" + "$\x07\x00\x04\x80" "abc"s + Frame(0, 16), {"F0:8", "F0:16"}, 1},
        {"while resynchronising, a mark before a payload of no RTP version is skipped",
         Frame(0, 8) + "junk" + "$\x00\x00\x04\x11" "abc"s + Frame(0, 16), {"F0:8", "F0:16"}, 1},
        {"zero frame length", "$\x00\x00\x00"s + Frame(0, 16), {"F0:16"}, 1},
        {"a status line that is none", "RTSP/x\r\n\r\n" + Frame(0, 16), {"F0:16"}, 1},
        {"an answer whose Content-Length is unreadable",
         "RTSP/1.0 200 OK\r\nContent-Length: ten\r\n\r\n" + Frame(0, 16), {"F0:16"}, 1},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {c.bytes.size(), std::size_t(1), std::size_t(7), std::size_t(1024)}) {
            CInterleavedReader reader;
            reader.ExpectChannel(0);  // as the client does for the channels it asks for
            reader.ExpectChannel(1);
            EXPECT_EQ(Feed(reader, c.bytes, piece), c.items) << c.comment << ", pieces of " << piece;
            EXPECT_EQ(reader.Resyncs(), c.resyncs) << c.comment << ", pieces of " << piece;
            EXPECT_EQ(reader.Buffered(), 0u) << c.comment << ", pieces of " << piece;
        }
    }
}

TEST(InterleavedReaderTest, WaitsForAnIncompleteItemAndNeverHoldsMoreThanOneItem) {
    CInterleavedReader reader;
    reader.ExpectChannel(0);
    // A frame's header alone, then most of its payload: nothing yet, nothing lost.
    const std::string frame = Frame(0, 3000);
    reader.Append(frame.substr(0, 4));
    EXPECT_TRUE(Drain(reader).empty());
    reader.Append(frame.substr(4, 2000));
    EXPECT_TRUE(Drain(reader).empty());
    reader.Append(frame.substr(2004) + kAnswerWithBody.substr(0, 10));
    EXPECT_EQ(Drain(reader), std::vector<std::string>({"F0:3000"}));
    reader.Append(kAnswerWithBody.substr(10));
    EXPECT_EQ(Drain(reader), std::vector<std::string>({"M:RTSP/1.0 200 OK"}));

    // Text that never ends a line, or a message that never ends, is given up past its bound
    // instead of growing the buffer.
    for (const std::string& endless :
         {std::string("RTSP/1.0 200 OK") + std::string(CInterleavedReader::kMaxLineLength, 'k'),
          "RTSP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(CInterleavedReader::kMaxMessageSize, 'b')}) {
        CInterleavedReader bounded;
        bounded.ExpectChannel(0);
        for (std::size_t i = 0; i < endless.size(); i += 1000) {
            bounded.Append(std::string_view(endless).substr(i, 1000));
            Drain(bounded);
            ASSERT_LE(bounded.Buffered(), CInterleavedReader::kMaxMessageSize + 1000);
        }
        bounded.Append(Frame(0, 16));
        EXPECT_EQ(Drain(bounded), std::vector<std::string>({"F0:16"}));
        EXPECT_EQ(bounded.Resyncs(), 1u);
    }
}

}  // namespace
}  // namespace kestrel
