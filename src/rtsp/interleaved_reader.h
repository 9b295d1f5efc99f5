// Splits the bytes of an RTSP connection that also carries the media (RFC 2326 section 10.12)
// into `$`-framed packets and RTSP messages (answers, and requests a server may send).
// Bytes that are neither are skipped up to the next place where a packet or a message could
// begin; each such run counts once as a resynchronisation. In step (right after an item) a
// frame header is taken as it stands, whatever its payload; while resynchronising, a `$` counts
// only with a channel seen in step before and an RTP or RTCP (version 2) payload, since a `$`
// inside skipped bytes is most likely part of them.
//
// Threading: none; one thread uses a reader at a time.
#ifndef QUILLON_RTSP_INTERLEAVED_READER_H
#define QUILLON_RTSP_INTERLEAVED_READER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

struct InterleavedItem {
    enum class Kind { kFrame, kMessage };
    Kind kind = Kind::kFrame;
    std::uint8_t channel = 0;   // frames only
    std::string_view data;      // the frame's payload, or the whole message with its body
};

class CInterleavedReader {
public:
    static constexpr char kFrameMark = '$';
    static constexpr std::size_t kFrameHeaderLength = 4;
    // An RTSP message larger than this, or a first line longer than kMaxLineLength, is taken
    // for garbage.
    static constexpr std::size_t kMaxMessageSize = 64 * 1024;
    static constexpr std::size_t kMaxLineLength = 4096;

    // Room for `size` more bytes at the end; Commit then tells how many were written there.
    // Views handed out by Next are invalid after Prepare.
    char* Prepare(std::size_t size);
    void Commit(std::size_t size);
    void Append(std::string_view bytes);

    // A channel the session set up: a `$` of it counts while resynchronising, before any of
    // its frames was seen in step.
    void ExpectChannel(std::uint8_t channel) { m_seenChannels[channel / 64] |= std::uint64_t(1) << (channel % 64); }

    // The next complete item; false when more bytes are needed. The item's data stay valid
    // until the next Prepare, Append or Clear.
    bool Next(InterleavedItem& item);
    void Clear();

    std::size_t Buffered() const { return m_buffer.size() - m_begin; }
    std::uint64_t Resyncs() const { return m_resyncs; }

    // What the bytes at the reader's position are.
    enum class Start { kItem, kMore, kGarbage };

private:
    Start TryFrame(std::string_view rest, InterleavedItem& item) const;
    bool ChannelSeen(std::uint8_t channel) const { return (m_seenChannels[channel / 64] >> (channel % 64)) & 1; }
    Start TryMessage(std::string_view rest, InterleavedItem& item) const;
    void SkipGarbage();
    void Compact();

    std::string m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_prepared = 0;  // where Prepare's room begins
    bool m_inGarbage = false;
    std::uint64_t m_seenChannels[4] = {};  // the channels expected or taken in step
    std::uint64_t m_resyncs = 0;
};

}  // namespace kestrel

#endif
