#include "camsim/auth.h"

#include <cstdlib>
#include <memory>
#include <random>

#include "camsim/text.h"
#include "rtsp/md5.h"
#include "rtsp/sha256.h"

namespace camsim {
namespace {

// Issued nonces are forgotten oldest-first beyond this, so a client that asks and asks cannot
// grow the table.
constexpr std::size_t kMaxNonces = 1024;

Authenticator::NonceSource RandomNonces() {
    auto engine = std::make_shared<std::mt19937_64>(std::random_device{}());
    auto lock = std::make_shared<std::mutex>();
    return [engine, lock] {
        std::lock_guard<std::mutex> guard(*lock);
        return HexText((*engine)(), 16);
    };
}

}  // namespace

std::string Base64Decode(const std::string& text) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') break;
        std::size_t digit = kAlphabet.find(c);
        if (digit == std::string::npos) return std::string();
        value = (value << 6) | static_cast<unsigned>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

std::map<std::string, std::string> ParseAuthParameters(const std::string& text) {
    std::map<std::string, std::string> parameters;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == ',' || text[at] == '\t')) ++at;
        std::size_t equals = text.find('=', at);
        if (equals == std::string::npos) break;
        std::string name = Lower(Trim(text.substr(at, equals - at)));
        at = equals + 1;
        std::string value;
        if (at < text.size() && text[at] == '"') {
            for (++at; at < text.size() && text[at] != '"'; ++at) {
                if (text[at] == '\\' && at + 1 < text.size()) ++at;
                value += text[at];
            }
            ++at;
        } else {
            std::size_t end = text.find(',', at);
            if (end == std::string::npos) end = text.size();
            value = Trim(text.substr(at, end - at));
            at = end;
        }
        parameters[name] = value;
    }
    return parameters;
}

bool ParseAuthSettings(const std::string& text, AuthSettings& settings) {
    static const char* const kAlgorithms[] = {"MD5", "MD5-sess", "SHA-256", "SHA-256-sess"};
    std::size_t colon = text.find(':');
    std::string scheme = text.substr(0, colon);
    AuthSettings parsed;
    parsed.nonceLifetimeMs = settings.nonceLifetimeMs;
    if (scheme == "none") parsed.scheme = AuthScheme::kNone;
    else if (scheme == "basic") parsed.scheme = AuthScheme::kBasic;
    else if (scheme == "digest") parsed.scheme = AuthScheme::kDigest;
    else if (scheme == "digest-qop") parsed.scheme = AuthScheme::kDigestQop;
    else return false;
    if (colon != std::string::npos) {
        if (parsed.scheme != AuthScheme::kDigest && parsed.scheme != AuthScheme::kDigestQop) return false;
        for (const std::string& name : Split(text.substr(colon + 1), ',')) {
            bool known = false;
            for (const char* algorithm : kAlgorithms) known = known || EqualsNoCase(name, algorithm);
            if (!known) return false;
            parsed.digestAlgorithms.push_back(name);
        }
    }
    settings = parsed;
    return true;
}

Authenticator::Authenticator(AuthSettings settings, std::string realm, std::string user, std::string password,
                             NonceSource nonces)
    : m_realm(std::move(realm)),
      m_user(std::move(user)),
      m_password(std::move(password)),
      m_nonces(nonces ? std::move(nonces) : RandomNonces()),
      m_settings(std::move(settings)) {}

void Authenticator::Configure(const AuthSettings& settings) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_settings = settings;
}

bool Authenticator::Admit(const std::string& method, const std::string& authorization,
                          std::vector<std::string>& challenges) {
    Verdict verdict = Check(method, authorization);
    if (verdict == Verdict::kAdmitted) return true;
    challenges.clear();
    for (const std::string& challenge : Challenges(verdict == Verdict::kStale))
        challenges.push_back("WWW-Authenticate: " + challenge);
    return false;
}

std::vector<std::string> Authenticator::OfferedAlgorithms() const {
    if (!m_settings.digestAlgorithms.empty()) return m_settings.digestAlgorithms;
    return {m_settings.scheme == AuthScheme::kDigestQop ? "MD5" : ""};
}

std::vector<std::string> Authenticator::Challenges(bool stale) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_settings.scheme == AuthScheme::kBasic) return {"Basic realm=\"" + m_realm + "\""};
    std::vector<std::string> challenges;
    for (const std::string& algorithm : OfferedAlgorithms()) {
        std::string nonce = m_nonces();
        if (m_issued.size() >= kMaxNonces) m_issued.erase(m_issued.begin());
        m_issued[nonce] = IssuedNonce{algorithm, 0, std::chrono::steady_clock::now()};
        std::string challenge = "Digest realm=\"" + m_realm + "\", nonce=\"" + nonce + "\"";
        if (m_settings.scheme == AuthScheme::kDigestQop) challenge += ", qop=\"auth\"";
        if (!algorithm.empty()) challenge += ", algorithm=" + algorithm;
        if (stale) challenge += ", stale=true";
        challenges.push_back(challenge);
    }
    return challenges;
}

Authenticator::Verdict Authenticator::Check(const std::string& method, const std::string& authorization) {
    AuthScheme scheme;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        scheme = m_settings.scheme;
    }
    if (scheme == AuthScheme::kNone) return Verdict::kAdmitted;
    std::size_t blank = authorization.find(' ');
    if (blank == std::string::npos) return Verdict::kRefused;
    std::string given = Lower(authorization.substr(0, blank));
    std::string rest = Trim(authorization.substr(blank + 1));
    if (scheme == AuthScheme::kBasic) return given == "basic" && CheckBasic(rest) ? Verdict::kAdmitted : Verdict::kRefused;
    return given == "digest" ? CheckDigest(method, rest) : Verdict::kRefused;
}

bool Authenticator::CheckBasic(const std::string& credentials) const {
    return Base64Decode(credentials) == m_user + ":" + m_password;
}

Authenticator::Verdict Authenticator::CheckDigest(const std::string& method, const std::string& text) {
    std::map<std::string, std::string> p = ParseAuthParameters(text);
    if (p["username"] != m_user || p["realm"] != m_realm || p["uri"].empty()) return Verdict::kRefused;
    // RFC 7616 section 3.4: no algorithm parameter means MD5.
    const std::string algorithm = p["algorithm"].empty() ? "MD5" : p["algorithm"];
    const bool sha256 = EqualsNoCase(algorithm, "SHA-256") || EqualsNoCase(algorithm, "SHA-256-sess");
    const bool sess = EqualsNoCase(algorithm, "MD5-sess") || EqualsNoCase(algorithm, "SHA-256-sess");
    auto hash = [sha256](const std::string& text) { return sha256 ? kestrel::Sha256Hex(text) : kestrel::Md5Hex(text); };
    const std::string& nonce = p["nonce"];
    const std::string& cnonce = p["cnonce"];
    const bool withQop = !p["qop"].empty();

    std::lock_guard<std::mutex> guard(m_lock);
    auto issued = m_issued.find(nonce);
    // A nonce answers only the challenge that carried it, with that challenge's algorithm.
    if (issued == m_issued.end() ||
        !EqualsNoCase(issued->second.algorithm.empty() ? "MD5" : issued->second.algorithm, algorithm))
        return Verdict::kRefused;
    if (m_settings.scheme == AuthScheme::kDigestQop && (!withQop || p["qop"] != "auth" || cnonce.empty()))
        return Verdict::kRefused;
    if (sess && cnonce.empty()) return Verdict::kRefused;

    std::string ha1 = hash(m_user + ":" + m_realm + ":" + m_password);
    if (sess) ha1 = hash(ha1 + ":" + nonce + ":" + cnonce);
    std::string ha2 = hash(method + ":" + p["uri"]);
    std::string expected = withQop ? hash(ha1 + ":" + nonce + ":" + p["nc"] + ":" + cnonce + ":auth:" + ha2)
                                   : hash(ha1 + ":" + nonce + ":" + ha2);
    if (Lower(p["response"]) != expected) return Verdict::kRefused;
    // The credentials were right; only the nonce is too old (RFC 7616 section 3.3, stale).
    if (m_settings.nonceLifetimeMs != 0 &&
        std::chrono::steady_clock::now() - issued->second.issued > std::chrono::milliseconds(m_settings.nonceLifetimeMs))
        return Verdict::kStale;
    if (withQop) {
        // RFC 7616 section 3.4: a repeated or falling nonce count is a replay.
        unsigned long count = std::strtoul(p["nc"].c_str(), nullptr, 16);
        if (count <= issued->second.highestCount) return Verdict::kRefused;
        issued->second.highestCount = count;
    }
    return Verdict::kAdmitted;
}

}  // namespace camsim
