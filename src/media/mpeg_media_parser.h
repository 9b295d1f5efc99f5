// MPEG-4 part 2 pictures from an HTTP body carrying the elementary stream (ISO/IEC 14496-2):
// a picture is one VOP, ended by the next VOP or sequence header start code. Intra-coded
// VOPs go out as "DIVX" with the last sequence header in front, the others as "DIVI";
// delivery starts at the first key frame whose picture size the header reader can read.
#ifndef QUILLON_MEDIA_MPEG_MEDIA_PARSER_H
#define QUILLON_MEDIA_MPEG_MEDIA_PARSER_H

#include "media/http_media_parser.h"
#include "media/mpeg_header_reader.h"

namespace kestrel {

class CMpegMediaParser final : public CHttpMediaParser {
public:
    // `reader` must outlive the parser.
    explicit CMpegMediaParser(IDriver* driver,
                              const CMpegHeaderReader& reader = CMpegHeaderReader::Shared())
        : CHttpMediaParser(driver), m_reader(reader) {}

    void Parse(const std::uint8_t* data, std::size_t length) override;

private:
    void Scan();
    // Offset of the next 00 00 01 at or after `from` whose code byte has arrived, or npos.
    std::size_t FindStartCode(std::size_t from) const;
    // Offset of the next VOP start code whose coding-type byte has arrived, or npos.
    std::size_t FindVop(std::size_t from) const;
    // Delivers the picture from the frame start to the scan position, if there is one.
    void FinishPicture();
    void DeliverKeyFrame(std::size_t length);
    void TrimToFrameStart();
    void ResetState();

    const CMpegHeaderReader& m_reader;
    std::vector<std::uint8_t> m_header;   // last sequence header, up to its VOP start code
    std::vector<std::uint8_t> m_picture;  // a key frame being put together with the header
    bool m_keyFrame = false;
    bool m_waitingForKeyFrame = true;
    std::size_t m_frameStart = 0;
    std::size_t m_scan = 0;
};

}  // namespace kestrel

#endif
