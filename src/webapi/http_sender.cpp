#include "webapi/http_sender.h"

#include <algorithm>

#include "platform/clock.h"
#include "runtime/auth_challenge.h"
#include "runtime/string_helpers.h"

namespace Web {
namespace {

namespace platform = kestrel::platform;

platform::HttpTransportSettings SettingsFor(const kestrel::DEVICE_INFO& device) {
    platform::HttpTransportSettings settings;
    settings.host = device.host;
    settings.port = device.port;
    settings.timeoutMs = device.operationTimeout;
    settings.user = device.user;
    settings.password = device.password;
    settings.userAgent = "Kestrel::HttpClient";
    return settings;
}

// The Digest algorithm of the first challenge when no challenge is one this platform's HTTP
// stack can answer; empty when one is, or when there is no Digest challenge at all.
std::string UnanswerableDigestAlgorithm(const std::vector<std::string>& values) {
    std::vector<kestrel::AuthChallenge> challenges;
    for (const std::string& value : values) kestrel::ParseAuthChallenges(value, challenges);
    std::string unanswerable;
    for (const kestrel::AuthChallenge& challenge : challenges) {
        if (!kestrel::EqualsIgnoringAsciiCase(challenge.scheme, "Digest")) return std::string();
        std::string algorithm = challenge.Parameter("algorithm");
        if (platform::HttpStackAnswersDigest(algorithm)) return std::string();
        if (unanswerable.empty()) unanswerable = algorithm;
    }
    return unanswerable;
}

}  // namespace

CHttpSender::CHttpSender(const kestrel::DEVICE_INFO& device) : m_device(device), m_transport(SettingsFor(device)) {}

CHttpSender::~CHttpSender() = default;

std::uint32_t CHttpSender::SchemeToUse(const HTTP_REQUEST& request) const {
    if (m_negotiatedScheme != 0) return m_negotiatedScheme;
    const std::uint32_t bits = request.authScheme;
    if (bits & 4) return platform::kHttpAuthNegotiate;
    if ((bits & 3) == 3) return platform::kHttpAuthDigest;
    if (bits & 2) return platform::kHttpAuthPassport;
    if (bits & 1) return platform::kHttpAuthNtlm;
    return platform::kHttpAuthBasic;
}

bool CHttpSender::IsHeaderSafeRequest(const HTTP_REQUEST& request, std::uint32_t scheme) const {
    if (!kestrel::IsHeaderSafe(request.method) || !kestrel::IsHeaderSafe(request.object)) return false;
    for (const std::string& line : request.headers) {
        if (!kestrel::IsHeaderSafe(line)) return false;
    }
    // The user name travels as it is in a Digest or NTLM header, and Basic carries both halves
    // of the account; a line break there would reach the camera's header parsing.
    if (m_device.user.empty()) return true;
    if (!kestrel::IsHeaderSafe(m_device.user)) return false;
    return scheme != platform::kHttpAuthBasic ||
           (kestrel::IsHeaderSafe(m_device.password) && m_device.user.find(':') == std::string::npos);
}

bool CHttpSender::SendRequest(const HTTP_REQUEST& request) {
    return SendRequestFrom(request, platform::MonotonicMilliseconds());
}

bool CHttpSender::SendRequestFrom(const HTTP_REQUEST& request, std::uint64_t startMs) {
    m_transport.CloseRequest();
    m_unansweredDigestAlgorithm.clear();
    if (request.method.empty() || request.object.empty()) return false;
    if (!IsHeaderSafeRequest(request, SchemeToUse(request))) return false;

    platform::HttpTransportRequest wire;
    wire.method = request.method;
    wire.object = request.object;
    wire.version = request.version;
    wire.secure = request.secure == 1;
    wire.ignoreCertificateErrors = (request.flags & HTTP_REQUEST::kFlagIgnoreCertificateErrors) != 0;
    wire.escapeQuery = (request.flags & HTTP_REQUEST::kFlagNoQueryEscape) == 0;
    wire.followRedirects = (request.flags & HTTP_REQUEST::kFlagNoRedirects) == 0;
    wire.headers = request.headers;
    wire.body = request.body;
    wire.totalLength = request.totalLength;
    wire.scheme = SchemeToUse(request);
    if (m_requestDeadlineMs != 0) {
        const std::uint64_t elapsed = platform::MonotonicMilliseconds() - startMs;
        if (elapsed >= m_requestDeadlineMs) return false;
        wire.deadlineMs = m_requestDeadlineMs - std::uint32_t(elapsed);
    }
    if (!m_transport.Send(wire)) return false;

    m_transport.StatusCode(m_statusCode);
    m_transport.ContentLength(m_contentLength);
    if (m_statusCode == 401) {
        m_unansweredDigestAlgorithm = UnanswerableDigestAlgorithm(m_transport.Challenges());
        if (!m_unansweredDigestAlgorithm.empty()) {
            m_transport.CloseRequest();
            return false;
        }
    }
    if (m_statusCode == 401 && m_negotiatedScheme == 0) {
        // The server's first offered scheme is kept for the sender's life; one more attempt
        // under it, and since it is no longer 0 a second 401 comes back as a response.
        m_negotiatedScheme = m_transport.FirstOfferedScheme();
        m_transport.CloseRequest();
        if (m_negotiatedScheme == 0 || m_negotiatedScheme == wire.scheme) return false;
        return SendRequestFrom(request, startMs);
    }
    return true;
}

std::string CHttpSender::QueryHeader(const std::string& name) { return m_transport.QueryHeader(name); }

std::size_t CHttpSender::ReadAll(std::vector<std::uint8_t>& out) {
    out.clear();
    m_bodyTooLarge = false;
    if (!m_transport.HasOpenRequest()) return 0;
    std::uint32_t declared = 0;
    if (m_transport.ContentLength(declared) && declared > m_maxBodySize) {
        m_bodyTooLarge = true;
        m_transport.CloseRequest();
        return 0;
    }
    std::vector<std::uint8_t> piece(kReadPiece);
    for (;;) {
        std::size_t got = 0;
        platform::HttpReadStatus status = m_transport.Read(piece.data(), piece.size(), got);
        if (out.size() + got > m_maxBodySize) {
            // A document cut at the limit could still parse; refuse it whole instead.
            out.clear();
            m_bodyTooLarge = true;
            m_transport.CloseRequest();
            return 0;
        }
        out.insert(out.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
        if (status != platform::HttpReadStatus::kData) break;
    }
    return out.size();
}

std::size_t CHttpSender::ReadChunk(std::vector<std::uint8_t>& out) {
    out.clear();
    if (!m_transport.HasOpenRequest()) return 0;
    out.resize(m_chunkSize);
    std::size_t got = 0;
    m_transport.Read(out.data(), out.size(), got);
    out.resize(got);
    return got;
}

void CHttpSender::CloseRequest() { m_transport.CloseRequest(); }

void CHttpSender::Abort() { m_transport.Abort(); }

void CHttpSender::ResetAbort() { m_transport.ResetAbort(); }

}  // namespace Web
