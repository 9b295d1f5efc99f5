// Parsers of an HTTP camera's picture stream: the response body arrives in blocks of any size,
// and the codec's own markers, not the multipart headers, tell where pictures begin and end.
// A parser is used by its channel's worker thread only; it has no lock.
#ifndef QUILLON_MEDIA_HTTP_MEDIA_PARSER_H
#define QUILLON_MEDIA_HTTP_MEDIA_PARSER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/driver_interface.h"
#include "runtime/frame_record.h"

namespace kestrel {

class CHttpMediaParser {
public:
    // The most a parser holds of an unfinished picture: a stream without the markers it
    // looks for is dropped beyond this and the parser looks for the next picture.
    static constexpr std::size_t kMaxBufferedBytes = 4 * 1024 * 1024;

    // `driver` (the frame pool's source) must outlive the parser; it may be null, and then
    // nothing is delivered.
    explicit CHttpMediaParser(IDriver* driver) : m_driver(driver) {}
    virtual ~CHttpMediaParser() = default;
    CHttpMediaParser(const CHttpMediaParser&) = delete;
    CHttpMediaParser& operator=(const CHttpMediaParser&) = delete;

    // Consumes the next block of the body; the bytes are only read and may go after the call.
    virtual void Parse(const std::uint8_t* data, std::size_t length) = 0;

    // The channel, which must outlive the parser; nothing is delivered until it is set.
    void SetClient(IMediaReceiver* client) { m_client = client; }

    // Bytes held for the picture in progress; never much above kMaxBufferedBytes.
    std::size_t BufferedBytes() const { return m_buffer.size(); }

protected:
    // Hands `length` bytes to the channel in a frame of `capacity` bytes lent by the host's
    // pool, with the picture size known so far. Silently does nothing without a driver, client,
    // pool or frame.
    void DeliverPicture(std::uint32_t fourCC, std::uint32_t capacity, const std::uint8_t* data,
                        std::size_t length);

    IMediaReceiver* m_client = nullptr;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    std::vector<std::uint8_t> m_buffer;  // bytes kept for the picture in progress

private:
    IDriver* m_driver;
};

}  // namespace kestrel

#endif
