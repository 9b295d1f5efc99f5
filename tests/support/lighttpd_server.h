// lighttpd on 127.0.0.1 for tests of authentication against a real server. Locations:
// "/open/" without authentication, "/basic/" with Basic, "/digest/" with Digest (MD5, qop=auth),
// "/sha256/" with Digest SHA-256 only, "/both/" with a SHA-256 and an MD5 Digest challenge; each
// holds "doc.xml". Account "admin" / "s3cret". Started by the constructor when
// /usr/sbin/lighttpd exists, stopped by the destructor (and after a minute in any case).
#ifndef QUILLON_TESTS_SUPPORT_LIGHTTPD_SERVER_H
#define QUILLON_TESTS_SUPPORT_LIGHTTPD_SERVER_H

#include <cstdint>
#include <string>

namespace kestrel::testing {

class LighttpdServer {
public:
    static constexpr const char* kUser = "admin";
    static constexpr const char* kPassword = "s3cret";
    static constexpr const char* kDocument = "<DeviceInfo><version>1.0</version></DeviceInfo>";

    LighttpdServer();
    ~LighttpdServer();

    // Empty when the server runs; otherwise why it does not (for GTEST_SKIP or a failure).
    const std::string& Problem() const { return m_problem; }
    bool Installed() const { return m_installed; }
    std::uint16_t Port() const { return m_port; }

private:
    bool WaitUntilListening();

    bool m_installed = false;
    std::string m_problem;
    std::string m_directory;
    std::uint16_t m_port = 0;
};

}  // namespace kestrel::testing

#endif
