// Basic and Digest (RFC 2617 / 7616, MD5, with or without qop "auth") checking of the
// Authorization header, shared by the HTTP and RTSP servers. Nonces come from a replaceable
// source. Thread-safe: nonces are made and checked under one mutex.
#ifndef QUILLON_TOOLS_CAMSIM_AUTH_H
#define QUILLON_TOOLS_CAMSIM_AUTH_H

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "camsim/camera_config.h"

namespace camsim {

class Authenticator {
public:
    using NonceSource = std::function<std::string()>;

    Authenticator(AuthScheme scheme, std::string realm, std::string user, std::string password,
                  NonceSource nonces = NonceSource());

    bool Required() const { return m_scheme != AuthScheme::kNone; }
    // True when `authorization` (the header value, "" when absent) admits `method` on `uri`.
    bool Check(const std::string& method, const std::string& authorization);
    // The WWW-Authenticate value of a 401; a Digest challenge carries a fresh nonce.
    std::string Challenge();

private:
    bool CheckBasic(const std::string& credentials) const;
    bool CheckDigest(const std::string& method, const std::string& parameters);

    AuthScheme m_scheme;
    std::string m_realm, m_user, m_password;
    NonceSource m_nonces;
    std::mutex m_lock;
    std::map<std::string, unsigned long> m_issued;  // nonce -> highest nc seen (qop only)
};

std::string Base64Decode(const std::string& text);
// Digest parameters ("name=value" or name="quoted value", comma separated) by lower-case name.
std::map<std::string, std::string> ParseAuthParameters(const std::string& text);

}  // namespace camsim

#endif
