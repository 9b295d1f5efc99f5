// Basic and Digest (RFC 7616: MD5, MD5-sess, SHA-256, SHA-256-sess, with or without qop "auth")
// checking of the Authorization header, shared by the HTTP and RTSP servers. Nonces come from a
// replaceable source and may expire. Thread-safe: settings and nonces live under one mutex, so
// a control command can change the settings while servers check.
#ifndef QUILLON_TOOLS_CAMSIM_AUTH_H
#define QUILLON_TOOLS_CAMSIM_AUTH_H

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "camsim/camera_config.h"

namespace camsim {

class Authenticator {
public:
    using NonceSource = std::function<std::string()>;

    Authenticator(AuthSettings settings, std::string realm, std::string user, std::string password,
                  NonceSource nonces = NonceSource());

    void Configure(const AuthSettings& settings);

    // True when `authorization` (the header value, "" when absent) admits `method`, or when no
    // authentication is asked for. Otherwise false with the WWW-Authenticate header lines of
    // the 401 in `challenges`; stale=true on them when only the nonce had expired.
    bool Admit(const std::string& method, const std::string& authorization, std::vector<std::string>& challenges);

private:
    enum class Verdict { kAdmitted, kRefused, kStale };

    Verdict Check(const std::string& method, const std::string& authorization);
    bool CheckBasic(const std::string& credentials) const;
    Verdict CheckDigest(const std::string& method, const std::string& parameters);
    std::vector<std::string> Challenges(bool stale);
    std::vector<std::string> OfferedAlgorithms() const;

    struct IssuedNonce {
        std::string algorithm;  // of the challenge that carried it, "" for none
        unsigned long highestCount = 0;  // qop only
        std::chrono::steady_clock::time_point issued;
    };

    std::string m_realm, m_user, m_password;
    NonceSource m_nonces;
    std::mutex m_lock;
    AuthSettings m_settings;
    std::map<std::string, IssuedNonce> m_issued;
};

std::string Base64Decode(const std::string& text);
// Digest parameters ("name=value" or name="quoted value", comma separated) by lower-case name.
std::map<std::string, std::string> ParseAuthParameters(const std::string& text);
// "none", "basic", "digest" or "digest-qop", optionally followed by ":" and a comma-separated
// list of Digest algorithms (e.g. "digest-qop:SHA-256,MD5"); false for anything else.
bool ParseAuthSettings(const std::string& text, AuthSettings& settings);

}  // namespace camsim

#endif
