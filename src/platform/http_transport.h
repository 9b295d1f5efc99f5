// One HTTP/1.1 connection to one server, with at most one request open at a time. WinHTTP on
// Windows, libcurl on POSIX; both keep the connection between requests and give the same
// observable results. Used by Web::CHttpSender, which adds the authentication negotiation and the
// body limits on top.
//
// Threading: one thread drives a transport. Abort() is the exception: any thread may call it while
// the transport is alive, to make the request in progress (and every later one, until ResetAbort)
// fail at once.
#ifndef QUILLON_PLATFORM_HTTP_TRANSPORT_H
#define QUILLON_PLATFORM_HTTP_TRANSPORT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::platform {

// Authentication schemes, numbered as WinHTTP numbers them so values mean the same on both back ends.
constexpr std::uint32_t kHttpAuthNone = 0;
constexpr std::uint32_t kHttpAuthBasic = 1;
constexpr std::uint32_t kHttpAuthNtlm = 2;
constexpr std::uint32_t kHttpAuthPassport = 4;
constexpr std::uint32_t kHttpAuthDigest = 8;
constexpr std::uint32_t kHttpAuthNegotiate = 16;

// Longest response header value that QueryHeader returns; a longer one reads as absent.
constexpr std::size_t kHttpMaxHeaderValue = 1023;

struct HttpTransportSettings {
    std::string host;  // name or dotted IPv4 address
    std::uint16_t port = 80;
    std::uint32_t timeoutMs = 5000;  // connect, send, and each wait for response bytes
    std::string user;                // empty: no credentials are offered
    std::string password;
    std::string userAgent;
};

struct HttpTransportRequest {
    std::string method;   // "GET", "POST", ...
    std::string object;   // path and query, sent as given ("/" is put in front when missing)
    std::string version = "HTTP/1.1";
    bool secure = false;
    bool ignoreCertificateErrors = false;  // only with secure
    bool escapeQuery = false;
    bool followRedirects = false;
    std::vector<std::string> headers;  // whole header lines without CR LF, sent in this order
    std::vector<std::uint8_t> body;
    std::uint32_t totalLength = 0;       // declared body length; the larger of this and body.size() is sent
    std::uint32_t scheme = kHttpAuthNone;  // scheme for the credentials, when a user is set
    // The whole exchange, response head and body reads included, fails once this many
    // milliseconds have passed since Send began, however the bytes trickle in; 0: no limit.
    std::uint32_t deadlineMs = 0;
};

enum class HttpReadStatus {
    kData,      // `got` bytes were read
    kEnd,       // the body is complete
    kTimedOut,  // nothing more arrived within the time-out; `got` holds what the read did get
    kFailed,    // no open request, aborted, past the request's deadline, or the connection failed
};

// True when this platform's HTTP stack answers a Digest challenge naming `algorithm` (as the
// challenge spells it, any case; "" for one that names none, which means MD5). WinHTTP knows MD5
// only; libcurl also SHA-256 and SHA-512-256, each with its -sess variant.
bool HttpStackAnswersDigest(const std::string& algorithm);

class HttpTransport {
public:
    explicit HttpTransport(const HttpTransportSettings& settings);
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    // Closes any open request, connects when needed, sends and waits for the response head.
    // True when a response of any status arrived; the request then stays open for reading.
    bool Send(const HttpTransportRequest& request);
    bool HasOpenRequest() const;
    void CloseRequest();

    // Fields of the open request's response; false (and `value` untouched) when unavailable.
    bool StatusCode(std::uint32_t& value) const;
    bool ContentLength(std::uint32_t& value) const;
    // The first scheme of the response's challenges that this back end supports; 0 when none.
    std::uint32_t FirstOfferedScheme() const;
    // Value of the first header of that name (case-insensitive); "" when absent or too long.
    std::string QueryHeader(const std::string& name) const;
    // The values of every WWW-Authenticate header of the open request's response, in order.
    std::vector<std::string> Challenges() const;

    // Waits for body bytes and copies at most `capacity` of them into `buffer`.
    HttpReadStatus Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got);

    void Abort();
    void ResetAbort();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace kestrel::platform

#endif
