#include "platform/http_transport.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

namespace kestrel::platform {
namespace {

constexpr DWORD kIgnoreCertificateErrors = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                                           SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                           SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;  // 0x3300
constexpr DWORD kMaxConnectionsPerServer = 16;
constexpr DWORD kHeaderBufferBytes = 2048;

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const wchar_t* text, std::size_t length) {
    if (length == 0) return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

bool SetDword(HINTERNET handle, DWORD option, DWORD value) {
    return WinHttpSetOption(handle, option, &value, sizeof(value)) != FALSE;
}

bool IsAcceptEncoding(const std::string& line) {
    static const char kName[] = "accept-encoding:";
    if (line.size() < sizeof(kName) - 1) return false;
    for (std::size_t i = 0; i < sizeof(kName) - 1; ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != kName[i]) return false;
    return true;
}

// Turns on WinHTTP's decoding of the encodings the line offers; false when it offers others or
// this WinHTTP cannot decode.
bool EnableDecoding(HINTERNET handle, const std::string& line) {
    DWORD flags = 0;
    std::size_t start = line.find(':') + 1;
    while (start < line.size()) {
        std::size_t end = std::min(line.find(',', start), line.size());
        std::size_t first = line.find_first_not_of(' ', start);
        std::size_t last = line.find_last_not_of(' ', end - 1);
        std::string name = first < end ? line.substr(first, last - first + 1) : std::string();
        if (name == "gzip")
            flags |= WINHTTP_DECOMPRESSION_FLAG_GZIP;
        else if (name == "deflate")
            flags |= WINHTTP_DECOMPRESSION_FLAG_DEFLATE;
        else if (!name.empty())
            return false;
        start = end + 1;
    }
    return flags != 0 && SetDword(handle, WINHTTP_OPTION_DECOMPRESSION, flags);
}

}  // namespace

struct HttpTransport::Impl {
    HttpTransportSettings settings;
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    // Guards `request` and `aborted` against Abort from another thread; the blocking calls run on
    // a copy of the handle, so closing it under the lock makes them return at once.
    mutable std::mutex lock;
    HINTERNET request = nullptr;
    bool aborted = false;
    // The current request's deadline (GetTickCount64 scale, 0: none) and the timer that closes
    // the request when it passes; both touched by the driving thread only.
    ULONGLONG deadlineAt = 0;
    HANDLE deadlineTimer = nullptr;

    HINTERNET Current() const {
        std::lock_guard<std::mutex> guard(lock);
        return request;
    }

    void CloseCurrent() {
        StopDeadline();
        std::lock_guard<std::mutex> guard(lock);
        if (request != nullptr) WinHttpCloseHandle(request);
        request = nullptr;
    }

    // Closing the handle ends a blocking call on it, as Abort does; the receive time-out alone
    // would restart with every byte a camera trickles.
    static VOID CALLBACK OnDeadline(PVOID self, BOOLEAN) {
        Impl& s = *static_cast<Impl*>(self);
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.request != nullptr) WinHttpCloseHandle(s.request);
        s.request = nullptr;
    }

    void StartDeadline(DWORD milliseconds) {
        if (milliseconds == 0) return;
        deadlineAt = GetTickCount64() + milliseconds;
        if (!CreateTimerQueueTimer(&deadlineTimer, nullptr, &Impl::OnDeadline, this, milliseconds, 0,
                                   WT_EXECUTEONLYONCE))
            deadlineTimer = nullptr;  // the per-call time-outs below still bound each wait
    }

    // Never under `lock`: the deletion waits for a callback that takes it.
    void StopDeadline() {
        if (deadlineTimer != nullptr) DeleteTimerQueueTimer(nullptr, deadlineTimer, INVALID_HANDLE_VALUE);
        deadlineTimer = nullptr;
        deadlineAt = 0;
    }

    bool DeadlinePassed() const { return deadlineAt != 0 && GetTickCount64() >= deadlineAt; }

    // The operation time-out, or what is left before the deadline when that is shorter: the
    // bound of each blocking call, also where a closed handle does not end the call.
    DWORD WaitLimit() const {
        if (deadlineAt == 0) return settings.timeoutMs;
        const ULONGLONG now = GetTickCount64();
        const ULONGLONG left = deadlineAt > now ? deadlineAt - now : 1;
        return static_cast<DWORD>(std::min<ULONGLONG>(left, settings.timeoutMs));
    }

    // Opens the request with its flags and credentials; null on failure.
    HINTERNET Open(const HttpTransportRequest& r) {
        if (connection == nullptr || r.method.empty() || r.object.empty()) return nullptr;
        DWORD flags = WINHTTP_FLAG_REFRESH;
        if (!r.escapeQuery) flags |= WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
        if (r.secure) flags |= WINHTTP_FLAG_SECURE;
        // The request target must be an absolute path; both back ends add the slash alike.
        std::string object = r.object[0] == '/' ? r.object : "/" + r.object;
        HINTERNET handle = WinHttpOpenRequest(connection, Widen(r.method).c_str(), Widen(object).c_str(),
                                              Widen(r.version).c_str(), WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
        if (handle == nullptr) return nullptr;
        if (!settings.user.empty() && r.scheme != kHttpAuthNone &&
            !WinHttpSetCredentials(handle, WINHTTP_AUTH_TARGET_SERVER, r.scheme, Widen(settings.user).c_str(),
                                   Widen(settings.password).c_str(), nullptr)) {
            WinHttpCloseHandle(handle);
            return nullptr;
        }
        return handle;
    }
};

HttpTransport::HttpTransport(const HttpTransportSettings& settings) : m_impl(new Impl) {
    Impl& s = *m_impl;
    s.settings = settings;
    s.session = WinHttpOpen(Widen(settings.userAgent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0);
    if (s.session == nullptr) return;
    const DWORD timeout = settings.timeoutMs;
    // A failed option leaves WinHTTP's default for it and the ones after it; the sender still works.
    SetDword(s.session, WINHTTP_OPTION_RECEIVE_TIMEOUT, timeout);
    SetDword(s.session, WINHTTP_OPTION_RESOLVE_TIMEOUT, timeout);
    SetDword(s.session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, timeout) &&
        SetDword(s.session, WINHTTP_OPTION_SEND_TIMEOUT, timeout) &&
        SetDword(s.session, WINHTTP_OPTION_CONNECT_TIMEOUT, timeout) &&
        SetDword(s.session, WINHTTP_OPTION_MAX_CONNS_PER_SERVER, kMaxConnectionsPerServer) &&
        SetDword(s.session, WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER, kMaxConnectionsPerServer);
}

HttpTransport::~HttpTransport() {
    Impl& s = *m_impl;
    s.CloseCurrent();
    if (s.connection != nullptr) WinHttpCloseHandle(s.connection);
    if (s.session != nullptr) WinHttpCloseHandle(s.session);
}

bool HttpTransport::Send(const HttpTransportRequest& request) {
    Impl& s = *m_impl;
    s.CloseCurrent();
    if (s.session == nullptr) return false;
    if (s.connection == nullptr)
        s.connection = WinHttpConnect(s.session, Widen(s.settings.host).c_str(), s.settings.port, 0);
    if (s.connection == nullptr) return false;

    HINTERNET handle = s.Open(request);
    if (handle == nullptr) return false;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.aborted) {
            WinHttpCloseHandle(handle);
            return false;
        }
        s.request = handle;
    }

    s.StartDeadline(request.deadlineMs);
    if (s.deadlineAt != 0) {
        // Like the session's options: one that fails leaves the session's value.
        const int limit = static_cast<int>(s.WaitLimit());
        WinHttpSetTimeouts(handle, limit, limit, limit, limit);
        SetDword(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, static_cast<DWORD>(limit));
    }
    bool ok = true;
    if (request.secure && request.ignoreCertificateErrors)
        ok = SetDword(handle, WINHTTP_OPTION_SECURITY_FLAGS, kIgnoreCertificateErrors);
    if (ok && !request.followRedirects) ok = SetDword(handle, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);
    for (std::size_t i = 0; ok && i < request.headers.size(); ++i) {
        // An encoding is offered only when WinHTTP will decode it (Windows 8.1 and later);
        // elsewhere the offer is left out and the server answers uncompressed.
        if (IsAcceptEncoding(request.headers[i]) && !EnableDecoding(handle, request.headers[i])) continue;
        std::wstring line = Widen(request.headers[i]);
        ok = WinHttpAddRequestHeaders(handle, line.c_str(), static_cast<DWORD>(line.size()),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE) != FALSE;
    }
    if (ok) {
        const DWORD length = static_cast<DWORD>(request.body.size());
        LPVOID data = request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<std::uint8_t*>(request.body.data());
        ok = WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length,
                                std::max(length, static_cast<DWORD>(request.totalLength)), 0) != FALSE;
    }
    if (ok) ok = WinHttpReceiveResponse(handle, nullptr) != FALSE;
    if (!ok) s.CloseCurrent();
    return ok && s.Current() == handle;
}

bool HttpTransport::HasOpenRequest() const { return m_impl->Current() != nullptr; }

void HttpTransport::CloseRequest() { m_impl->CloseCurrent(); }

bool HttpTransport::StatusCode(std::uint32_t& value) const {
    HINTERNET handle = m_impl->Current();
    DWORD number = 0, size = sizeof(number);
    if (handle == nullptr ||
        !WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &number, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    value = number;
    return true;
}

std::uint32_t HttpTransport::FirstOfferedScheme() const {
    HINTERNET handle = m_impl->Current();
    DWORD supported = 0, first = 0, target = 0;
    if (handle == nullptr || !WinHttpQueryAuthSchemes(handle, &supported, &first, &target)) return kHttpAuthNone;
    return first;
}

std::string HttpTransport::QueryHeader(const std::string& name) const {
    HINTERNET handle = m_impl->Current();
    if (handle == nullptr) return std::string();
    wchar_t buffer[kHeaderBufferBytes / sizeof(wchar_t)] = {};
    DWORD size = sizeof(buffer);
    std::wstring wideName = Widen(name);
    if (!WinHttpQueryHeaders(handle, WINHTTP_QUERY_CUSTOM, wideName.c_str(), buffer, &size, WINHTTP_NO_HEADER_INDEX))
        return std::string();
    return Narrow(buffer, size / sizeof(wchar_t));
}

HttpReadStatus HttpTransport::Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) {
    got = 0;
    Impl& s = *m_impl;
    if (s.DeadlinePassed()) s.CloseCurrent();
    HINTERNET handle = s.Current();
    if (handle == nullptr) return HttpReadStatus::kFailed;
    if (s.deadlineAt != 0) SetDword(handle, WINHTTP_OPTION_RECEIVE_TIMEOUT, s.WaitLimit());
    std::fill(buffer, buffer + capacity, std::uint8_t{0});
    // Under a deadline only what has arrived is read: a read of more may wait (under Wine) until
    // the buffer is full, one receive time-out per byte of a camera that trickles.
    DWORD available = static_cast<DWORD>(capacity), read = 0;
    if ((s.deadlineAt == 0 || WinHttpQueryDataAvailable(handle, &available)) &&
        (available == 0 ||
         WinHttpReadData(handle, buffer, static_cast<DWORD>(std::min<std::size_t>(capacity, available)), &read))) {
        got = read;
        return read == 0 ? HttpReadStatus::kEnd : HttpReadStatus::kData;
    }
    const DWORD error = GetLastError();
    if (s.DeadlinePassed()) {
        s.CloseCurrent();
        return HttpReadStatus::kFailed;
    }
    // Wine reports the socket's WSAETIMEDOUT where Windows reports its own time-out code. Either
    // way the read may have filled the front of the zeroed buffer before it timed out.
    if (error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT) {
        got = static_cast<std::size_t>(std::find(buffer, buffer + capacity, std::uint8_t{0}) - buffer);
        return HttpReadStatus::kTimedOut;
    }
    return HttpReadStatus::kFailed;
}

void HttpTransport::Abort() {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    m_impl->aborted = true;
    if (m_impl->request != nullptr) WinHttpCloseHandle(m_impl->request);
    m_impl->request = nullptr;
}

void HttpTransport::ResetAbort() {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    m_impl->aborted = false;
}

std::vector<std::string> HttpTransport::Challenges() const {
    std::vector<std::string> challenges;
    HINTERNET handle = m_impl->Current();
    if (handle == nullptr) return challenges;
    for (DWORD index = 0;;) {
        wchar_t buffer[kHeaderBufferBytes / sizeof(wchar_t)] = {};
        DWORD size = sizeof(buffer);
        // WinHTTP moves the index on to the next header of the name.
        if (!WinHttpQueryHeaders(handle, WINHTTP_QUERY_WWW_AUTHENTICATE, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &size,
                                 &index))
            return challenges;
        challenges.push_back(Narrow(buffer, size / sizeof(wchar_t)));
    }
}

bool HttpStackAnswersDigest(const std::string& algorithm) {
    // WinHTTP's Digest is MD5 only (RFC 2617); it has no SHA-256.
    if (algorithm.empty()) return true;
    const std::string md5 = "MD5";
    if (algorithm.size() != md5.size()) return false;
    for (std::size_t i = 0; i < md5.size(); ++i) {
        char c = algorithm[i] >= 'a' && algorithm[i] <= 'z' ? static_cast<char>(algorithm[i] - 'a' + 'A') : algorithm[i];
        if (c != md5[i]) return false;
    }
    return true;
}

}  // namespace kestrel::platform
