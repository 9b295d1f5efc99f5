// JPEG pictures from RTP (RFC 2435): collects the fragments of one frame and, at the marker,
// rebuilds the headers the stream leaves out (quantisation, frame, Huffman, restart and scan
// headers) in front of the scan data, handing the picture to the host as a "JPEG" frame.
#ifndef QUILLON_MEDIA_JPEG_RTP_MEDIA_PARSER_H
#define QUILLON_MEDIA_JPEG_RTP_MEDIA_PARSER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/rtp_media_parser.h"

namespace kestrel {

class CJpegRTPMediaParser : public CRTPMediaParser {
public:
    CJpegRTPMediaParser(IDriver* driver, std::string name);

    void ProcessPacket(const RTPPacket& packet) override;
    void Reset() override;

    static constexpr std::size_t kMaxFrameBytes = 512000;

    // Quantisation tables, luminance then chrominance, zig-zag order, one or two bytes an entry.
    struct Tables {
        std::vector<std::uint8_t> luma;
        std::vector<std::uint8_t> chroma;
        bool lumaWide = false;  // 16-bit entries
        bool chromaWide = false;
    };
    // The RFC 2435 appendix A tables for `q` (below 128).
    static Tables TablesForQ(std::uint8_t q);

private:
    // The main header fields of the frame, from its first fragment.
    struct FrameHeader {
        std::uint8_t type = 0;
        std::uint8_t q = 0;
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        std::uint16_t restartInterval = 0;  // 0 without restart markers
    };

    bool HandlePayload(const std::uint8_t* payload, std::size_t length);
    bool ReadFirstFragment(const std::uint8_t* payload, std::size_t length, std::size_t& scanStart);
    bool ReadQuantisationTables(std::uint8_t q, const std::uint8_t* data, std::size_t length, std::size_t& used);
    void DeliverFrame();
    std::size_t WriteHeaders(std::uint8_t* out) const;

    bool m_waiting = true;
    FrameHeader m_header;
    Tables m_tables;  // of the frame being assembled
    // In-band tables last received for each Q of 128..255 (RFC 2435 3.1.8: length 0 reuses them).
    std::array<Tables, 128> m_receivedTables;
};

}  // namespace kestrel

#endif
