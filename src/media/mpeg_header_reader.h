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
    // The reader of the library beside the driver, which it loads at its first use after
    // ReleaseShared (or ever); thread-safe. Without the library it reads nothing.
    static const CMpegHeaderReader& Shared();
    // Unloads the library. Only while no reading through Shared() is under way or can begin:
    // when the last driver object is gone.
    static void ReleaseShared();

    // A reader calling `entry` (may be null); for tests.
    explicit CMpegHeaderReader(ParseMpegHeaderFunction entry) : m_entry(entry) {}

    bool Available() const;

    // True, with the picture size written, when the library read the size of the video object
    // layer header in `data`; false without the library or when the header was unusable.
    bool ReadPictureSize(const std::uint8_t* data, std::size_t length, std::uint32_t& width,
                         std::uint32_t& height) const;

private:
    CMpegHeaderReader() = default;
    ParseMpegHeaderFunction Entry() const;

    ParseMpegHeaderFunction m_entry = nullptr;
    bool m_shared = false;  // the entry is the shared library's
};

}  // namespace kestrel

#endif
