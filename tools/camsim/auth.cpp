#include "camsim/auth.h"

#include <cstdlib>
#include <memory>
#include <random>

#include "camsim/text.h"
#include "rtsp/md5.h"

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

Authenticator::Authenticator(AuthScheme scheme, std::string realm, std::string user, std::string password,
                             NonceSource nonces)
    : m_scheme(scheme),
      m_realm(std::move(realm)),
      m_user(std::move(user)),
      m_password(std::move(password)),
      m_nonces(nonces ? std::move(nonces) : RandomNonces()) {}

std::string Authenticator::Challenge() {
    if (m_scheme == AuthScheme::kBasic) return "Basic realm=\"" + m_realm + "\"";
    std::string nonce = m_nonces();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_issued.size() >= kMaxNonces) m_issued.erase(m_issued.begin());
        m_issued[nonce] = 0;
    }
    std::string challenge = "Digest realm=\"" + m_realm + "\", nonce=\"" + nonce + "\"";
    if (m_scheme == AuthScheme::kDigestQop) challenge += ", qop=\"auth\", algorithm=MD5";
    return challenge;
}

bool Authenticator::Check(const std::string& method, const std::string& authorization) {
    if (m_scheme == AuthScheme::kNone) return true;
    std::size_t blank = authorization.find(' ');
    if (blank == std::string::npos) return false;
    std::string scheme = Lower(authorization.substr(0, blank));
    std::string rest = Trim(authorization.substr(blank + 1));
    if (m_scheme == AuthScheme::kBasic) return scheme == "basic" && CheckBasic(rest);
    return scheme == "digest" && CheckDigest(method, rest);
}

bool Authenticator::CheckBasic(const std::string& credentials) const {
    return Base64Decode(credentials) == m_user + ":" + m_password;
}

bool Authenticator::CheckDigest(const std::string& method, const std::string& text) {
    std::map<std::string, std::string> p = ParseAuthParameters(text);
    if (p["username"] != m_user || p["realm"] != m_realm || p["uri"].empty()) return false;
    const std::string& nonce = p["nonce"];
    const bool withQop = !p["qop"].empty();
    if (m_scheme == AuthScheme::kDigestQop && (!withQop || p["qop"] != "auth" || p["cnonce"].empty())) return false;
    std::string ha1 = kestrel::Md5Hex(m_user + ":" + m_realm + ":" + m_password);
    std::string ha2 = kestrel::Md5Hex(method + ":" + p["uri"]);
    std::string expected = withQop ? kestrel::Md5Hex(ha1 + ":" + nonce + ":" + p["nc"] + ":" + p["cnonce"] +
                                                    ":auth:" + ha2)
                                   : kestrel::Md5Hex(ha1 + ":" + nonce + ":" + ha2);
    if (Lower(p["response"]) != expected) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    auto issued = m_issued.find(nonce);
    if (issued == m_issued.end()) return false;
    if (withQop) {
        // RFC 7616 section 3.4: a repeated or falling nonce count is a replay.
        unsigned long count = std::strtoul(p["nc"].c_str(), nullptr, 16);
        if (count <= issued->second) return false;
        issued->second = count;
    }
    return true;
}

}  // namespace camsim
