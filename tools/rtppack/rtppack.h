// rtppack: the sending side of RTP video, for tests and the camera simulator. It reads
// elementary streams (H.264 Annex B, JPEG pictures, MPEG-4 part 2), cuts them into frames and
// packetises each frame into RTP payloads (RFC 6184 H.264, RFC 2435 JPEG, RFC 6416-style MPEG-4),
// independently of the driver's depacketisers. Everything is plain values; no threads, no I/O
// beyond ReadFile. Failures return false or an empty result.
#ifndef QUILLON_TOOLS_RTPPACK_RTPPACK_H
#define QUILLON_TOOLS_RTPPACK_RTPPACK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rtppack {

using Bytes = std::vector<std::uint8_t>;

// The whole file; empty when it cannot be read.
Bytes ReadFile(const std::string& path);

// ---- Elementary streams ----

// One H.264 access unit: its NAL units without start codes, in stream order.
struct AccessUnit {
    std::vector<Bytes> nalUnits;
    bool IsKey() const;  // holds an IDR slice
};

// Splits an Annex B byte stream (3- or 4-byte start codes) into access units: a new one starts
// at an AUD, SEI, SPS or PPS, or at a slice whose first_mb_in_slice is 0, once the current one
// holds a slice.
std::vector<AccessUnit> SplitH264AccessUnits(const Bytes& stream);

// Annex B form of an access unit: each NAL unit behind a 3-byte start code 00 00 01.
Bytes ToAnnexB(const AccessUnit& unit);

// Splits concatenated JPEG pictures: each from SOI to EOI, both included.
std::vector<Bytes> SplitJpegPictures(const Bytes& stream);

// Splits an MPEG-4 part 2 stream into frames: each VOP together with the headers (VOS, VO, VOL,
// GOV, user data) that come before it.
std::vector<Bytes> SplitMpeg4Frames(const Bytes& stream);

// ---- Packetisers ----

// One RTP payload with the header fields it needs.
struct Packet {
    bool marker = false;
    std::uint32_t timestamp = 0;
    Bytes payload;
};

struct H264Options {
    std::size_t mtu = 1400;  // largest payload; bigger NAL units go as FU-A fragments
    // Send each run of SEI, SPS, PPS and AUD units in one STAP-A (split where it would pass
    // the MTU); otherwise each goes as a single NAL unit packet.
    bool aggregateParameterSets = true;
};

// Packets of one access unit (RFC 6184 non-interleaved mode), marker on the last.
std::vector<Packet> PacketiseH264(const AccessUnit& unit, std::uint32_t timestamp,
                                  const H264Options& options);

struct JpegOptions {
    std::size_t mtu = 1400;  // largest payload
    // 1-99: the picture's tables must be the standard ones scaled for that Q (RFC 2435
    // appendix A), else packetising fails. 128-255: tables in band in the first packet.
    int q = 255;
    bool sendTables = true;  // Q >= 128 only: false sends a table header of length 0
    bool sendEoi = false;    // keep the closing FF D9 in the scan data
};

// RFC 2435 packets of one baseline JFIF picture (3 components, 4:2:2 or 4:2:0, one scan);
// types 0/1, or 64/65 with a restart header (F = L = 1, count 0x3FFF) when the picture has a
// DRI. False when the picture cannot be carried or does not fit the options.
bool PacketiseJpeg(const Bytes& picture, std::uint32_t timestamp, const JpegOptions& options,
                   std::vector<Packet>& packets);

// What PacketiseJpeg takes from a picture; exposed for tests that check rebuilt headers.
struct JpegPicture {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t type = 0;             // 0 for 4:2:2, 1 for 4:2:0
    std::uint16_t restartInterval = 0;  // 0 without DRI
    Bytes lumaTable;                   // 64 entries, zig-zag order, 1 or 2 bytes each
    Bytes chromaTable;
    bool lumaWide = false;             // 16-bit entries
    bool chromaWide = false;
    Bytes scan;                        // entropy-coded data after the SOS header, EOI not included
};
bool ParseJpegPicture(const Bytes& picture, JpegPicture& parsed);

// The RFC 2435 appendix A tables for Q 1-99, in zig-zag order (luma then chroma, 64 each).
Bytes JpegTablesForQ(int q);

// MPEG-4 frame cut into payloads of at most `mtu` bytes, marker on the last.
std::vector<Packet> PacketiseMpeg4(const Bytes& frame, std::uint32_t timestamp, std::size_t mtu);

// ---- RTP ----

// Numbers packets of one stream and writes RTP datagrams (RFC 3550, version 2, no CSRC).
class RtpStream {
public:
    RtpStream(std::uint8_t payloadType, std::uint32_t ssrc, std::uint16_t firstSequence = 0);
    Bytes Datagram(const Packet& packet);  // takes the next sequence number
    std::uint16_t NextSequence() const { return m_sequence; }

private:
    std::uint8_t m_payloadType;
    std::uint32_t m_ssrc;
    std::uint16_t m_sequence;
};

}  // namespace rtppack

#endif
