// MPEG-4 part 2 frames from RTP: the payload is the plain elementary stream, a frame begins
// with a VOP start code and ends at the marker bit. The last sequence header goes in front of
// every intra-coded frame ("DIVX"); other frames go as they are ("DIVI").
#ifndef QUILLON_MEDIA_MPEG4_RTP_MEDIA_PARSER_H
#define QUILLON_MEDIA_MPEG4_RTP_MEDIA_PARSER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/mpeg_header_reader.h"
#include "media/rtp_media_parser.h"

namespace kestrel {

class CMpeg4RTPMediaParser : public CRTPMediaParser {
public:
    // `reader` reads the picture size of key frames and must outlive the parser.
    CMpeg4RTPMediaParser(IDriver* driver, std::string name,
                         const CMpegHeaderReader& reader = CMpegHeaderReader::Shared());

    void ProcessPacket(const RTPPacket& packet) override;
    void Reset() override;

    static constexpr std::size_t kMaxFrameBytes = 512000;

private:
    // Where the frame data of this payload start: behind a sequence header it carries.
    std::size_t TakeSequenceHeader(const std::uint8_t* payload, std::size_t length);
    void StartFrameIfVop(const std::uint8_t* payload, std::size_t length, std::size_t offset);
    void DeliverFrame();

    const CMpegHeaderReader& m_reader;
    bool m_discarding = true;
    bool m_keyFrame = false;
    std::vector<std::uint8_t> m_header;  // the last sequence header, up to its VOP start code
};

}  // namespace kestrel

#endif
