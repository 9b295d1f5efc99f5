#include "support/lighttpd_server.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "platform/http_transport.h"
#include "platform/sockets.h"
#include "support/host_process.h"
#include "support/loopback_socket.h"

namespace kestrel::testing {
namespace {

constexpr const char* kLighttpd = "/usr/sbin/lighttpd";

std::uint16_t FreePort() {
    std::uint16_t port = 0;
    SocketHandle probe = ListenLoopback(port);
    CloseSocket(probe);
    return probe == kNoSocket ? 0 : port;
}

}  // namespace

LighttpdServer::LighttpdServer() {
    platform::SocketsStartup();
    if (!HostShellAvailable() || !HostFileExists(kLighttpd)) {
        m_problem = "lighttpd is not installed (/usr/sbin/lighttpd)";
        return;
    }
    m_installed = true;
    static unsigned counter = 0;
    m_directory = "/tmp/quillon-lighttpd-" + std::to_string(ProcessNumber()) + "-" + std::to_string(++counter) + "-" +
                  std::to_string(static_cast<unsigned long>(std::time(nullptr)));
    m_port = FreePort();
    const std::string d = m_directory;
    const std::string conf =
        "server.document-root = \"" + d + "/www\"\n"
        "server.bind = \"127.0.0.1\"\n"
        "server.port = " + std::to_string(m_port) + "\n"
        "server.errorlog = \"" + d + "/error.log\"\n"
        "server.modules = (\"mod_auth\", \"mod_authn_file\")\n"
        "server.feature-flags = (\"auth.delay-invalid-creds\" => \"disable\")\n"
        "mimetype.assign = (\".xml\" => \"application/xml\")\n"
        "auth.backend = \"htdigest\"\n"
        "auth.backend.htdigest.userfile = \"" + d + "/htdigest\"\n"
        "auth.require = (\n"
        "  \"/basic/\" => (\"method\" => \"basic\", \"realm\" => \"camera\", \"require\" => \"valid-user\"),\n"
        "  \"/digest/\" => (\"method\" => \"digest\", \"realm\" => \"camera\", \"require\" => \"valid-user\",\n"
        "                 \"algorithm\" => \"MD5\"),\n"
        "  \"/sha256/\" => (\"method\" => \"digest\", \"realm\" => \"camera\", \"require\" => \"valid-user\",\n"
        "                 \"algorithm\" => \"SHA-256\"),\n"
        "  \"/both/\" => (\"method\" => \"digest\", \"realm\" => \"camera\", \"require\" => \"valid-user\",\n"
        "               \"algorithm\" => \"MD5|SHA-256\")\n"
        ")\n";
    // The script stops the server when the stop file appears, and after a minute in any case.
    const std::string script =
        "d=" + d + "\n"
        "for loc in open basic digest sha256 both; do mkdir -p $d/www/$loc; printf '%s' '" + std::string(kDocument) +
        "' > $d/www/$loc/doc.xml; done\n"
        "printf '%s:camera:%s\\n' " + kUser + " $(printf '%s' '" + kUser + ":camera:" + kPassword +
        "' | md5sum | cut -d' ' -f1) > $d/htdigest\n"
        // lighttpd tells the two hashes of one account apart by their length.
        "printf '%s:camera:%s\\n' " + kUser + " $(printf '%s' '" + kUser + ":camera:" + kPassword +
        "' | sha256sum | cut -d' ' -f1) >> $d/htdigest\n"
        "" + kLighttpd + " -D -f $d/lighttpd.conf >$d/stdout.log 2>&1 &\n"
        "pid=$!\n"
        "i=0; while [ ! -e $d/stop ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n"
        "kill $pid; wait $pid; rm -rf $d\n";
    if (m_port == 0 || !MakeHostDirectory(d) || !WriteHostFile(d + "/lighttpd.conf", conf) ||
        !WriteHostFile(d + "/run.sh", script) || !StartHostScript(d + "/run.sh")) {
        m_problem = "cannot prepare or start lighttpd in " + d;
        return;
    }
    if (!WaitUntilListening()) m_problem = "lighttpd did not answer on port " + std::to_string(m_port);
}

LighttpdServer::~LighttpdServer() {
    if (!m_directory.empty()) WriteHostFile(m_directory + "/stop", "");
    platform::SocketsCleanup();
}

bool LighttpdServer::WaitUntilListening() {
    platform::HttpTransportSettings settings;
    settings.host = "127.0.0.1";
    settings.port = m_port;
    settings.timeoutMs = 500;
    platform::HttpTransportRequest request;
    request.method = "GET";
    request.object = "/open/doc.xml";
    for (int attempt = 0; attempt < 100; ++attempt) {
        platform::HttpTransport probe(settings);
        std::uint32_t status = 0;
        if (probe.Send(request) && probe.StatusCode(status) && status == 200) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace kestrel::testing
