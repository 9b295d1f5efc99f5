// Under Wine: the native simulator program as a host process, driven through its control port.
#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/sockets.h"
#include "platform/tcp_socket.h"
#include "support/camera_peer.h"
#include "support/host_process.h"

namespace kestrel::testing {
namespace {

constexpr std::uint32_t kControlTimeoutMs = 5000;

// Wine's drive Z: is the host's root directory.
std::string ReadHostFile(const std::string& hostPath) {
    std::string path = "Z:" + hostPath;
    for (char& c : path) c = c == '/' ? '\\' : c;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The port after `prefix` on a line of the simulator's start-up output; 0 while absent.
std::uint16_t PortAfter(const std::string& output, const std::string& prefix) {
    const std::size_t at = output.find(prefix);
    if (at == std::string::npos) return 0;
    return static_cast<std::uint16_t>(std::strtoul(output.c_str() + at + prefix.size(), nullptr, 10));
}

}  // namespace

struct CameraPeer::Impl {
    std::string problem;
    std::string directory;
    std::uint16_t webPort = 0;
    platform::TcpSocket control;
    bool socketsStarted = false;

    bool Launch(const CameraPeerOptions& options);
    bool ConnectControl(std::uint16_t port);
};

bool CameraPeer::Impl::Launch(const CameraPeerOptions& options) {
    if (!HostShellAvailable() || !HostFileExists(QUILLON_NATIVE_CAMSIM)) {
        problem = std::string("the native camera simulator is not built (") + QUILLON_NATIVE_CAMSIM + ")";
        return false;
    }
    static unsigned counter = 0;
    directory = "/tmp/quillon-camsim-" + std::to_string(ProcessNumber()) + "-" + std::to_string(++counter) + "-" +
                std::to_string(static_cast<unsigned long>(std::time(nullptr)));
    // The script stops the simulator when the stop file appears, and after three minutes in any case.
    const std::string script =
        "d=" + directory + "\n" +
        QUILLON_NATIVE_CAMSIM + " --model '" + options.model + "' --stream Channel1," + options.videoStandard +
        ",4,704x576,25,50 --inputs " + std::to_string(options.inputs) + " --outputs " +
        std::to_string(options.outputs) + " >$d/out.txt 2>&1 &\n"
        "pid=$!\n"
        "i=0; while [ ! -e $d/stop ] && [ $i -lt 1800 ]; do sleep 0.1; i=$((i+1)); done\n"
        "kill $pid; wait $pid; rm -rf $d\n";
    if (!MakeHostDirectory(directory) || !WriteHostFile(directory + "/run.sh", script) ||
        !StartHostScript(directory + "/run.sh")) {
        problem = "cannot start the native camera simulator in " + directory;
        return false;
    }
    std::uint16_t controlPort = 0;
    for (int attempt = 0; attempt < 200 && (webPort == 0 || controlPort == 0); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string output = ReadHostFile(directory + "/out.txt");
        webPort = PortAfter(output, "web http://127.0.0.1:");
        controlPort = PortAfter(output, "control 127.0.0.1:");
    }
    if (webPort == 0 || controlPort == 0 || !ConnectControl(controlPort)) {
        problem = "the native camera simulator did not come up: " + ReadHostFile(directory + "/out.txt");
        return false;
    }
    return true;
}

bool CameraPeer::Impl::ConnectControl(std::uint16_t port) {
    platform::Ipv4Endpoint endpoint;
    endpoint.address = platform::kIpv4Loopback;
    endpoint.port = port;
    return control.Create() == platform::SocketError::kNone &&
           control.Connect(endpoint, kControlTimeoutMs) == platform::SocketError::kNone;
}

CameraPeer::CameraPeer(const CameraPeerOptions& options) : m_impl(std::make_unique<Impl>()) {
    m_impl->socketsStarted = platform::SocketsStartup();
    if (!m_impl->socketsStarted) {
        m_impl->problem = "Windows Sockets did not start";
        return;
    }
    m_impl->Launch(options);
}

CameraPeer::~CameraPeer() {
    m_impl->control.Close();
    if (!m_impl->directory.empty()) WriteHostFile(m_impl->directory + "/stop", "");
    if (m_impl->socketsStarted) platform::SocketsCleanup();
}

const std::string& CameraPeer::Problem() const {
    return m_impl->problem;
}

std::uint16_t CameraPeer::WebPort() const {
    return m_impl->webPort;
}

std::string CameraPeer::Execute(const std::string& command) {
    const std::string line = command + "\n";
    std::size_t sent = 0;
    if (m_impl->control.Send(line.data(), line.size(), sent) != platform::SocketError::kNone) return "ERR control";
    std::string answer;
    char buffer[512];
    while (answer.find('\n') == std::string::npos) {
        std::size_t received = 0;
        if (m_impl->control.Receive(buffer, sizeof buffer, received, kControlTimeoutMs) != platform::SocketError::kNone)
            return "ERR control";
        answer.append(buffer, received);
    }
    answer.erase(answer.find_first_of("\r\n"));
    return answer;
}

}  // namespace kestrel::testing
