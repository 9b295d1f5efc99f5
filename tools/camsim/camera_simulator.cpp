#include "camsim/camera_simulator.h"

#include <cerrno>
#include <cstring>

#include "camsim/net.h"

namespace camsim {

CameraSimulator::CameraSimulator(CameraConfig config)
    : m_config(std::move(config)),
      m_faults(m_config.seed),
      m_ports(m_config.inputCount, m_config.outputCount, m_config.inputToggleMs),
      m_settings(m_config.streams, m_config.rtspPort),
      m_media(m_config.mediaDir, m_config.mtu, m_config.jpegTablesInBand),
      m_api(m_config, m_settings, m_ports, m_faults),
      m_streamer(m_faults, m_config.pacerThreads, std::chrono::milliseconds(m_config.senderReportMs)) {}

CameraSimulator::~CameraSimulator() { Stop(); }

bool CameraSimulator::Start(std::string* failure) {
    m_stopping = false;
    // Before the web server starts: a client may write the settings at once.
    m_api.SetSettingsObserver([this] { FollowRtspPort(); });
    RtspContext context{&m_config, &m_settings, &m_api, &m_media, &m_streamer, &m_faults};
    m_rtsp = std::make_unique<RtspServer>(context);
    m_web = std::make_unique<WebServer>(m_config, m_api, m_settings, m_media, m_faults);
    // Names the port that could not be had, with the system's reason, and stops what started.
    const auto fail = [this, failure](const char* name, std::uint16_t port) {
        const int error = errno;
        if (failure) {
            *failure = std::string("cannot listen on 127.0.0.1") + (port != 0 ? ":" + std::to_string(port) : "") +
                       " for " + name + (error != 0 ? std::string(": ") + std::strerror(error) : "");
        }
        Stop();
        return false;
    };
    errno = 0;
    if (!m_streamer.Start(m_config.rtpPort)) return fail("RTP", m_config.rtpPort);
    if (!m_rtsp->Start(m_config.rtspPort)) return fail("RTSP", m_config.rtspPort);
    if (!m_web->Start(m_config.webPort)) return fail("web", m_config.webPort);
    if (m_config.controlEnabled) {
        m_control = std::make_unique<TcpServer>(
            [this](Connection& connection, const std::atomic<bool>& stopping) { ServeControl(connection, stopping); });
        if (!m_control->Start(m_config.controlPort)) return fail("control", m_config.controlPort);
    }
    // A free RTSP port becomes the one the streaming settings name.
    if (m_config.rtspPort == 0) {
        std::string document = "<DeviceInfo><StreamingSetting><StreamingChannelList>";
        for (const StreamProfile& stream : m_settings.Streams())
            document += "<StreamingChannelEntry><channelID>" + stream.channelID +
                        "</channelID><TransportSetting><rtspPortNo>" + std::to_string(m_rtsp->Port()) +
                        "</rtspPortNo></TransportSetting></StreamingChannelEntry>";
        m_settings.Apply(document + "</StreamingChannelList></StreamingSetting></DeviceInfo>");
    }
    m_housekeeping = std::thread(&CameraSimulator::Housekeeping, this);
    return true;
}

void CameraSimulator::Stop() {
    m_stopping = true;
    if (m_housekeeping.joinable()) m_housekeeping.join();
    if (m_control) m_control->Stop();
    if (m_web) m_web->Stop();
    if (m_rtsp) m_rtsp->Stop();
    m_streamer.Stop();
}

// A write that names another rtspPortNo for the first stream moves the RTSP server there.
void CameraSimulator::FollowRtspPort() {
    std::vector<StreamProfile> streams = m_settings.Streams();
    if (streams.empty() || streams[0].rtspPort == 0 || streams[0].rtspPort > 65535) return;
    if (streams[0].rtspPort != m_rtsp->Port()) m_rtsp->Relisten(static_cast<std::uint16_t>(streams[0].rtspPort));
}

void CameraSimulator::Housekeeping() {
    while (!m_stopping) {
        for (int i = 0; i < 10 && !m_stopping; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (m_rtsp) m_rtsp->ExpireSessions();
    }
}

std::string CameraSimulator::Addresses() const {
    std::string text = "web http://127.0.0.1:" + std::to_string(WebPort()) + "/\n";
    text += "rtsp rtsp://127.0.0.1:" + std::to_string(RtspPort()) + "/\n";
    text += "rtp 127.0.0.1:" + std::to_string(RtpPort()) + "\n";
    if (ControlPort() != 0) text += "control 127.0.0.1:" + std::to_string(ControlPort()) + "\n";
    return text;
}

void CameraSimulator::ServeControl(Connection& connection, const std::atomic<bool>& stopping) {
    std::string buffer;
    while (!stopping) {
        std::size_t end;
        while ((end = buffer.find('\n')) != std::string::npos) {
            std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            if (!connection.SendAll(Execute(line) + "\n")) return;
        }
        if (buffer.size() > 4096) return;  // no command is that long
        bool timedOut = false;
        if (!connection.ReceiveSome(buffer, 200, timedOut)) return;
    }
}

}  // namespace camsim
