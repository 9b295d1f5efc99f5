// Web::CHttpSender: a small synchronous HTTP/1.1 client for one camera. It keeps one connection,
// has at most one request open at a time and, after a successful send, leaves that request open so
// the caller can read its headers and body.
//
// Threading: one thread at a time drives a sender; Abort() may come from any thread while the
// sender is alive. Failure is reported by results (false, "", 0); nothing throws.
#ifndef QUILLON_WEBAPI_HTTP_SENDER_H
#define QUILLON_WEBAPI_HTTP_SENDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/http_transport.h"
#include "runtime/driver_interface.h"

namespace Web {

struct HTTP_REQUEST {
    HTTP_REQUEST() = default;
    HTTP_REQUEST(std::string requestMethod, std::string requestObject)
        : method(std::move(requestMethod)), object(std::move(requestObject)) {}

    static constexpr std::uint32_t kFlagNoQueryEscape = 1;
    static constexpr std::uint32_t kFlagIgnoreCertificateErrors = 2;
    static constexpr std::uint32_t kFlagNoRedirects = 4;

    std::string method;
    std::string object;  // path and query, exactly as sent
    std::uint32_t secure = 0;
    std::uint32_t authScheme = 0;  // preferred scheme before the server has named one
    std::vector<std::uint8_t> body;
    std::uint32_t totalLength = 0;
    std::vector<std::string> headers;  // whole header lines without CR LF, in sending order
    std::uint32_t flags = kFlagNoQueryEscape | kFlagNoRedirects;
    std::string version = "HTTP/1.1";
};

class CHttpSender {
public:
    static constexpr std::size_t kChunkSize = 8192;
    static constexpr std::size_t kReadPiece = 8192;
    static constexpr std::size_t kMaxBodySize = 0x10000000;  // 256 MiB

    explicit CHttpSender(const kestrel::DEVICE_INFO& device);
    virtual ~CHttpSender();
    CHttpSender(const CHttpSender&) = delete;
    CHttpSender& operator=(const CHttpSender&) = delete;

    // Closes any open request, then sends this one; refused without traffic when its method,
    // object, header lines or the account would break a line. True when a response of any status arrived;
    // that request stays open for reading. On the first 401 the server's preferred scheme is
    // taken for good and the request is sent once more under it. A 401 that this platform's HTTP
    // stack cannot answer at all fails at once (UnansweredDigestAlgorithm).
    bool SendRequest(const HTTP_REQUEST& request);
    std::string QueryHeader(const std::string& name);
    // The whole body of the open request. A body over the size limit is a failure: `out` is left
    // empty, the request closed and BodyTooLarge() true. A read time-out keeps the bytes that did
    // arrive.
    std::size_t ReadAll(std::vector<std::uint8_t>& out);
    // The last ReadAll refused a body over the size limit.
    bool BodyTooLarge() const { return m_bodyTooLarge; }
    // One read of at most kChunkSize bytes; 0 at the end, on failure or after the time-out.
    std::size_t ReadChunk(std::vector<std::uint8_t>& out);
    void CloseRequest();

    std::uint32_t StatusCode() const { return m_statusCode; }
    std::uint32_t ContentLength() const { return m_contentLength; }
    std::uint32_t NegotiatedScheme() const { return m_negotiatedScheme; }
    // After a 401 whose challenges are all Digest with algorithms this platform's HTTP stack
    // cannot answer: the first of those algorithms (e.g. "SHA-256" under WinHTTP, which has MD5
    // Digest only). The request then fails without a retry. Empty after any other outcome.
    const std::string& UnansweredDigestAlgorithm() const { return m_unansweredDigestAlgorithm; }

    // Makes the request in progress fail at once, and every later one until ResetAbort().
    void Abort();
    void ResetAbort();

    // A smaller limit than kMaxBodySize for ReadAll, for users whose answers are small; ReadChunk
    // is not limited by it.
    void SetMaxBodySize(std::size_t limit) { m_maxBodySize = limit; }
    // Each later request, its authentication retry and the reading of its body included, fails
    // once this many milliseconds have passed since SendRequest began; 0 (the default): no limit,
    // for a stream that never ends.
    void SetRequestDeadline(std::uint32_t milliseconds) { m_requestDeadlineMs = milliseconds; }

private:
    std::uint32_t SchemeToUse(const HTTP_REQUEST& request) const;
    // SendRequest with the deadline counted from `startMs` (monotonic).
    bool SendRequestFrom(const HTTP_REQUEST& request, std::uint64_t startMs);
    // Nothing the request or the account puts on the wire under `scheme` would break a line.
    bool IsHeaderSafeRequest(const HTTP_REQUEST& request, std::uint32_t scheme) const;

    kestrel::DEVICE_INFO m_device;
    kestrel::platform::HttpTransport m_transport;
    std::uint32_t m_negotiatedScheme = 0;
    std::uint32_t m_statusCode = 0;
    std::uint32_t m_contentLength = 0;
    std::size_t m_chunkSize = kChunkSize;
    std::size_t m_maxBodySize = kMaxBodySize;
    std::uint32_t m_requestDeadlineMs = 0;
    std::string m_unansweredDigestAlgorithm;
    bool m_bodyTooLarge = false;
};

}  // namespace Web

#endif
