// The MPEG-4 picture size reader of the sibling library (Brindle), which the MPEG-4 parsers
// need for every key frame. The library is looked for in the driver's own folder.
#ifndef QUILLON_MEDIA_MPEG_HEADER_READER_H
#define QUILLON_MEDIA_MPEG_HEADER_READER_H

#include <cstddef>
#include <cstdint>

#include "brindle.h"

namespace kestrel {

class CMpegHeaderReader {
public:
    // The reader of the library beside the driver, loaded on the first call and kept until the
    // process ends; thread-safe. Without the library it reads nothing.
    static const CMpegHeaderReader& Shared();

    // A reader calling `entry` (may be null); for tests.
    explicit CMpegHeaderReader(ParseMpegHeaderFunction entry) : m_entry(entry) {}

    bool Available() const { return m_entry != nullptr; }

    // True, with the picture size written, when the library read the size of the video object
    // layer header in `data`; false without the library or when the header was unusable.
    bool ReadPictureSize(const std::uint8_t* data, std::size_t length, std::uint32_t& width,
                         std::uint32_t& height) const;

private:
    ParseMpegHeaderFunction m_entry;
};

}  // namespace kestrel

#endif
