// A whole simulated camera: web server, RTSP server, RTP streamer, I/O ports, faults and the
// control port, all on 127.0.0.1. Start and Stop belong to the owner's thread; the accessors and
// Execute are thread-safe.
#ifndef QUILLON_TOOLS_CAMSIM_CAMERA_SIMULATOR_H
#define QUILLON_TOOLS_CAMSIM_CAMERA_SIMULATOR_H

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "camsim/camera_config.h"
#include "camsim/faults.h"
#include "camsim/io_ports.h"
#include "camsim/media_library.h"
#include "camsim/rtp_streamer.h"
#include "camsim/rtsp_server.h"
#include "camsim/streaming_settings.h"
#include "camsim/tcp_server.h"
#include "camsim/web_api.h"
#include "camsim/web_server.h"

namespace camsim {

class CameraSimulator {
public:
    explicit CameraSimulator(CameraConfig config);
    ~CameraSimulator();
    CameraSimulator(const CameraSimulator&) = delete;
    CameraSimulator& operator=(const CameraSimulator&) = delete;

    // False when a port cannot be had; everything started so far is stopped again, and
    // `failure`, when given, names the port and the system's reason.
    bool Start(std::string* failure = nullptr);
    void Stop();

    std::uint16_t WebPort() const { return m_web ? m_web->Port() : 0; }
    std::uint16_t RtspPort() const { return m_rtsp ? m_rtsp->Port() : 0; }
    std::uint16_t RtpPort() const { return m_streamer.RtpPort(); }
    std::uint16_t ControlPort() const { return m_control ? m_control->Port() : 0; }
    // The lines the command prints on start.
    std::string Addresses() const;

    // One control command ("help" lists them); the answer starts with "OK" or "ERR".
    std::string Execute(const std::string& command);

    Faults& GetFaults() { return m_faults; }
    IoPorts& Ports() { return m_ports; }
    RtpStreamer& Streamer() { return m_streamer; }
    StreamingSettings& Settings() { return m_settings; }
    WebApi& Api() { return m_api; }
    RtspServer& Rtsp() { return *m_rtsp; }

private:
    void Housekeeping();
    void FollowRtspPort();
    void ServeControl(Connection& connection, const std::atomic<bool>& stopping);

    CameraConfig m_config;
    Faults m_faults;
    IoPorts m_ports;
    StreamingSettings m_settings;
    MediaLibrary m_media;
    WebApi m_api;
    RtpStreamer m_streamer;
    std::unique_ptr<RtspServer> m_rtsp;
    std::unique_ptr<WebServer> m_web;
    std::unique_ptr<TcpServer> m_control;
    std::atomic<bool> m_stopping{false};
    std::thread m_housekeeping;
};

}  // namespace camsim

#endif
