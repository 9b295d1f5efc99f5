// JPEG pictures from an MJPEG-over-HTTP body: each picture runs from its start-of-image marker
// to its end-of-image marker (ITU-T T.81 section B.2), over any number of blocks, and goes to
// the channel as one "JPEG" frame once a baseline frame header has told the picture size.
#ifndef QUILLON_MEDIA_JPEG_MEDIA_PARSER_H
#define QUILLON_MEDIA_JPEG_MEDIA_PARSER_H

#include "media/http_media_parser.h"

namespace kestrel {

class CJpegMediaParser final : public CHttpMediaParser {
public:
    using CHttpMediaParser::CHttpMediaParser;

    void Parse(const std::uint8_t* data, std::size_t length) override;

private:
    void Scan();
    // Acts on the marker whose 0xFF is at `at` and moves the scan past it; false, with the
    // scan left at `at`, when the bytes needed have not arrived yet.
    bool HandleMarker(std::size_t at);
    bool HandleSegment(std::size_t at, std::uint8_t marker);
    void EndPicture(std::size_t end);
    // Forgets what lies before the picture in progress, or everything scanned outside one.
    void Compact();
    void DropOversizedPicture();

    bool m_inPicture = false;
    std::size_t m_pictureStart = 0;  // offset of the picture's FF D8 in the buffer
    std::size_t m_scan = 0;          // where the marker search resumes; may lie past the end
};

}  // namespace kestrel

#endif
