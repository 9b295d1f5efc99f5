#include "platform/http_transport.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>

#include <curl/curl.h>

namespace kestrel::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Body bytes held between the network and Read. curl hands over at most CURL_MAX_WRITE_SIZE per
// call, so the buffer never grows past this plus one such piece; beyond it the transfer pauses.
constexpr std::size_t kPauseThreshold = 64 * 1024;

const std::string kAcceptEncoding = "Accept-Encoding:";

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

bool StartsWithIgnoreCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string Trim(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return std::string();
    std::size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

long CurlAuthFor(std::uint32_t scheme) {
    switch (scheme) {
    case kHttpAuthBasic: return static_cast<long>(CURLAUTH_BASIC);
    case kHttpAuthNtlm: return static_cast<long>(CURLAUTH_NTLM);
    case kHttpAuthDigest: return static_cast<long>(CURLAUTH_DIGEST);
    case kHttpAuthNegotiate: return static_cast<long>(CURLAUTH_NEGOTIATE);
    default: return static_cast<long>(CURLAUTH_NONE);  // Passport has no libcurl counterpart
    }
}

std::uint32_t SchemeNamed(const std::string& name) {
    if (EqualsIgnoreCase(name, "Basic")) return kHttpAuthBasic;
    if (EqualsIgnoreCase(name, "Digest")) return kHttpAuthDigest;
    if (EqualsIgnoreCase(name, "NTLM")) return kHttpAuthNtlm;
    if (EqualsIgnoreCase(name, "Negotiate")) return kHttpAuthNegotiate;
    if (StartsWithIgnoreCase(name, "Passport")) return kHttpAuthPassport;
    return kHttpAuthNone;
}

enum class PumpResult { kReady, kFinished, kTimedOut, kExpired, kAborted, kFailed };

}  // namespace

struct HttpTransport::Impl {
    HttpTransportSettings settings;
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    std::atomic<bool> aborted{false};

    // The transfer in progress; touched only by the driving thread.
    bool attached = false;
    bool open = false;
    bool headersDone = false;
    bool done = false;
    bool paused = false;
    CURLcode result = CURLE_OK;
    std::uint32_t status = 0;
    std::vector<std::pair<std::string, std::string>> headers;  // of the latest response head
    std::vector<std::string> challenges;                       // its WWW-Authenticate values
    std::vector<std::uint8_t> pending;
    std::size_t pendingOffset = 0;
    std::vector<std::uint8_t> body;
    curl_slist* headerList = nullptr;
    Clock::time_point lastActivity;
    Clock::time_point deadline = Clock::time_point::max();  // of the request in progress

    std::size_t PendingSize() const { return pending.size() - pendingOffset; }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
        Impl* self = static_cast<Impl*>(user);
        std::size_t length = size * count;
        std::string line = Trim(std::string(data, length));
        self->lastActivity = Clock::now();
        if (StartsWithIgnoreCase(line, "HTTP/")) {
            // Each response head (a 401 that curl answers itself, a 100 Continue) starts afresh.
            self->headers.clear();
            self->challenges.clear();
            self->headersDone = false;
            std::size_t space = line.find(' ');
            self->status = space == std::string::npos
                               ? 0
                               : static_cast<std::uint32_t>(std::strtoul(line.c_str() + space + 1, nullptr, 10));
        } else if (line.empty()) {
            // A 401 head may be followed by curl's own authenticated retry; the first body byte
            // or the end of the transfer settles that one.
            if (self->status >= 200 && self->status != 401 && self->status != 407) self->headersDone = true;
        } else {
            std::size_t colon = line.find(':');
            if (colon != std::string::npos) {
                std::string name = Trim(line.substr(0, colon));
                std::string value = Trim(line.substr(colon + 1));
                if (EqualsIgnoreCase(name, "WWW-Authenticate")) self->challenges.push_back(value);
                self->headers.emplace_back(std::move(name), std::move(value));
            }
        }
        return length;
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
        Impl* self = static_cast<Impl*>(user);
        std::size_t length = size * count;
        if (self->PendingSize() >= kPauseThreshold) {
            self->paused = true;
            return CURL_WRITEFUNC_PAUSE;  // curl offers the same bytes again after unpausing
        }
        if (self->pendingOffset > 0) {
            self->pending.erase(self->pending.begin(),
                                self->pending.begin() + static_cast<std::ptrdiff_t>(self->pendingOffset));
            self->pendingOffset = 0;
        }
        self->pending.insert(self->pending.end(), data, data + length);
        self->headersDone = true;
        self->lastActivity = Clock::now();
        return length;
    }

    static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<Impl*>(user)->aborted.load() ? 1 : 0;
    }

    // Runs the transfer until `ready` holds, the transfer ends, nothing arrives for the time-out,
    // or the request's deadline passes.
    PumpResult Pump(const std::function<bool()>& ready) {
        const auto timeout = std::chrono::milliseconds(settings.timeoutMs);
        for (;;) {
            if (aborted.load()) return PumpResult::kAborted;
            // Before `ready`: bytes that keep trickling in must not hold the request past it.
            if (Clock::now() >= deadline) return PumpResult::kExpired;
            if (ready()) return PumpResult::kReady;
            if (done) return PumpResult::kFinished;
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) return PumpResult::kFailed;
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                    done = true;
                    result = message->data.result;
                }
            }
            if (aborted.load()) return PumpResult::kAborted;
            if (ready()) return PumpResult::kReady;
            if (done) return PumpResult::kFinished;
            const auto now = Clock::now();
            if (now >= deadline) return PumpResult::kExpired;
            auto idle = now - lastActivity;
            if (idle >= timeout) return PumpResult::kTimedOut;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::min<Clock::duration>(timeout - idle, deadline - now))
                            .count() +
                        1;
            // Abort wakes this wait through curl_multi_wakeup.
            if (curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::min<long long>(left, 1000)), nullptr) !=
                CURLM_OK)
                return PumpResult::kFailed;
        }
    }

    void Detach() {
        if (attached) curl_multi_remove_handle(multi, easy);
        attached = false;
        open = false;
        paused = false;
        pending.clear();
        pendingOffset = 0;
        if (headerList != nullptr) curl_slist_free_all(headerList);
        headerList = nullptr;
    }
};

HttpTransport::HttpTransport(const HttpTransportSettings& settings) : m_impl(new Impl) {
    GlobalInit();
    m_impl->settings = settings;
    m_impl->easy = curl_easy_init();
    m_impl->multi = curl_multi_init();
}

HttpTransport::~HttpTransport() {
    m_impl->Detach();
    if (m_impl->easy != nullptr) curl_easy_cleanup(m_impl->easy);
    if (m_impl->multi != nullptr) curl_multi_cleanup(m_impl->multi);
}

bool HttpTransport::Send(const HttpTransportRequest& request) {
    Impl& s = *m_impl;
    s.Detach();
    if (s.easy == nullptr || s.multi == nullptr || s.aborted.load()) return false;
    if (request.method.empty() || request.object.empty()) return false;

    CURL* easy = s.easy;
    curl_easy_reset(easy);  // options only; the connection cache lives in the multi handle
    std::string url = std::string(request.secure ? "https://" : "http://") + s.settings.host + ":" +
                      std::to_string(s.settings.port) + (request.object[0] == '/' ? "" : "/") + request.object;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");  // never a proxy from the environment
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, s.settings.userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(s.settings.timeoutMs));
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                     request.version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    if (request.secure && request.ignoreCertificateErrors) {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    }

    s.body = request.body;
    if (request.method == "GET" && s.body.empty()) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, s.body.empty() ? "" : reinterpret_cast<const char*>(s.body.data()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(s.body.size()));
        if (request.method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    bool hasAccept = false;
    std::string acceptEncoding;
    for (const std::string& line : request.headers) {
        hasAccept = hasAccept || StartsWithIgnoreCase(line, "Accept:");
        if (StartsWithIgnoreCase(line, kAcceptEncoding)) acceptEncoding = Trim(line.substr(kAcceptEncoding.size()));
        s.headerList = curl_slist_append(s.headerList, line.c_str());
    }
    // What the caller offers must be decoded when the server takes the offer; curl decodes only
    // with this option. The caller's own line is still the one sent.
    if (!acceptEncoding.empty()) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, acceptEncoding.c_str());
    // Send only the caller's headers: no default Accept, and no 100-continue round trip.
    if (!hasAccept) s.headerList = curl_slist_append(s.headerList, "Accept:");
    s.headerList = curl_slist_append(s.headerList, "Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, s.headerList);

    long auth = CurlAuthFor(request.scheme);
    if (!s.settings.user.empty() && auth != static_cast<long>(CURLAUTH_NONE)) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, s.settings.user.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, s.settings.password.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, auth);
    }

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &s);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &s);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &s);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);

    s.headers.clear();
    s.challenges.clear();
    s.status = 0;
    s.headersDone = false;
    s.done = false;
    s.result = CURLE_OK;
    if (curl_multi_add_handle(s.multi, easy) != CURLM_OK) {
        s.Detach();
        return false;
    }
    s.attached = true;
    s.lastActivity = Clock::now();
    s.deadline = request.deadlineMs == 0 ? Clock::time_point::max()
                                         : s.lastActivity + std::chrono::milliseconds(request.deadlineMs);
    PumpResult pumped = s.Pump([&s] { return s.headersDone; });
    bool received = pumped == PumpResult::kReady ||
                    (pumped == PumpResult::kFinished && s.result == CURLE_OK && s.status != 0);
    if (!received) {
        s.Detach();
        return false;
    }
    s.open = true;
    return true;
}

bool HttpTransport::HasOpenRequest() const { return m_impl->open; }

void HttpTransport::CloseRequest() { m_impl->Detach(); }

bool HttpTransport::StatusCode(std::uint32_t& value) const {
    if (!m_impl->open || m_impl->status == 0) return false;
    value = m_impl->status;
    return true;
}

std::uint32_t HttpTransport::FirstOfferedScheme() const {
    if (!m_impl->open) return kHttpAuthNone;
    for (const std::string& challenge : m_impl->challenges) {
        std::uint32_t scheme = SchemeNamed(challenge.substr(0, challenge.find_first_of(" ,")));
        if (scheme != kHttpAuthNone) return scheme;
    }
    return kHttpAuthNone;
}

std::string HttpTransport::QueryHeader(const std::string& name) const {
    if (!m_impl->open) return std::string();
    for (const auto& header : m_impl->headers) {
        if (EqualsIgnoreCase(header.first, name))
            return header.second.size() <= kHttpMaxHeaderValue ? header.second : std::string();
    }
    return std::string();
}

HttpReadStatus HttpTransport::Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) {
    Impl& s = *m_impl;
    got = 0;
    if (!s.open || s.aborted.load()) return HttpReadStatus::kFailed;
    if (s.PendingSize() == 0 && !s.done) {
        s.lastActivity = Clock::now();
        if (s.paused) {
            s.paused = false;
            curl_easy_pause(s.easy, CURLPAUSE_CONT);
        }
        PumpResult pumped = s.Pump([&s] { return s.PendingSize() > 0; });
        if (pumped == PumpResult::kExpired) s.Detach();
        if (pumped == PumpResult::kAborted || pumped == PumpResult::kFailed || pumped == PumpResult::kExpired)
            return HttpReadStatus::kFailed;
        if (pumped == PumpResult::kTimedOut) return HttpReadStatus::kTimedOut;
    }
    if (s.PendingSize() > 0) {
        got = std::min(capacity, s.PendingSize());
        std::memcpy(buffer, s.pending.data() + s.pendingOffset, got);
        s.pendingOffset += got;
        return HttpReadStatus::kData;
    }
    return s.result == CURLE_OK ? HttpReadStatus::kEnd : HttpReadStatus::kFailed;
}

void HttpTransport::Abort() {
    m_impl->aborted.store(true);
    if (m_impl->multi != nullptr) curl_multi_wakeup(m_impl->multi);
}

void HttpTransport::ResetAbort() { m_impl->aborted.store(false); }

std::vector<std::string> HttpTransport::Challenges() const {
    return m_impl->open ? m_impl->challenges : std::vector<std::string>();
}

bool HttpStackAnswersDigest(const std::string& algorithm) {
    for (const char* known : {"", "MD5", "MD5-sess", "SHA-256", "SHA-256-sess", "SHA-512-256", "SHA-512-256-sess"}) {
        if (EqualsIgnoreCase(algorithm, known)) return true;
    }
    return false;
}

}  // namespace kestrel::platform
