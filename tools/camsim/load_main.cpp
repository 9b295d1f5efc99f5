// quillon-camsim-load: opens many RTSP sessions on a running simulator (web login, DESCRIBE,
// SETUP, PLAY), receives every stream for a while on one thread, and prints each session's rate.
//   quillon-camsim-load --web PORT --rtsp PORT [--sessions 256] [--seconds 10] [--channel 2]
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <string>
#include <vector>

#include "camsim/net.h"
#include "camsim/text.h"

namespace {

// One request and its whole answer (headers and, by Content-Length, body) on a kept connection.
std::string Exchange(camsim::Connection& connection, const std::string& request) {
    if (!connection.SendAll(request)) return std::string();
    std::string answer;
    bool timedOut = false;
    for (int i = 0; i < 100; ++i) {
        std::size_t end = answer.find("\r\n\r\n");
        if (end != std::string::npos) {
            std::size_t length = 0, at = camsim::Lower(answer).find("content-length:");
            if (at != std::string::npos && at < end) length = std::stoul(answer.substr(at + 15));
            if (answer.size() >= end + 4 + length) return answer;
        }
        if (!connection.ReceiveSome(answer, 100, timedOut)) break;
    }
    return answer;
}

std::string HeaderValue(const std::string& answer, const std::string& name) {
    std::size_t at = camsim::Lower(answer).find("\r\n" + camsim::Lower(name) + ":");
    if (at == std::string::npos) return std::string();
    std::size_t start = at + name.size() + 3;
    return camsim::Trim(answer.substr(start, answer.find("\r\n", start) - start));
}

camsim::Connection Connect(std::uint16_t port);

}  // namespace

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

camsim::Connection Connect(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(camsim::kLoopback);
    address.sin_port = htons(port);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        fd = -1;
    }
    return camsim::Connection(fd);
}

struct Session {
    camsim::Connection rtsp;
    camsim::UdpSocket rtp;
    camsim::UdpSocket rtcp;
    std::uint64_t bytes = 0;
};

}  // namespace

int main(int argc, char** argv) {
    unsigned webPort = 0, rtspPort = 0, sessions = 256, seconds = 10, channel = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        unsigned* target = option == "--web" ? &webPort : option == "--rtsp" ? &rtspPort
                         : option == "--sessions" ? &sessions : option == "--seconds" ? &seconds
                         : option == "--channel" ? &channel : nullptr;
        if (target == nullptr || !camsim::ParseNumber(argv[i + 1], *target)) {
            std::fprintf(stderr, "usage: quillon-camsim-load --web PORT --rtsp PORT [--sessions N] [--seconds S] [--channel N]\n");
            return 2;
        }
    }
    camsim::Connection web = Connect(static_cast<std::uint16_t>(webPort));
    const std::string form = "version=1.0&action=login&userName=admin&password=admin";
    std::string login = Exchange(web, "POST /System.xml HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                                      "application/x-www-form-urlencoded\r\nContent-Length: " +
                                      std::to_string(form.size()) + "\r\n\r\n" + form);
    std::string webSession = HeaderValue(login, "sessionID");
    if (webSession.empty()) {
        std::fprintf(stderr, "login failed\n");
        return 1;
    }
    const std::string name = "Channel" + std::to_string(channel);
    const std::string base = "rtsp://127.0.0.1:" + std::to_string(rtspPort) + "/";
    std::vector<Session> all(sessions);
    unsigned opened = 0;
    for (Session& session : all) {
        session.rtsp = Connect(static_cast<std::uint16_t>(rtspPort));
        if (!session.rtsp.IsOpen() || !session.rtp.Bind(0) || !session.rtcp.Bind(0)) continue;
        std::string describe = Exchange(session.rtsp, "DESCRIBE " + base +
            "StreamingSetting?version=1.0&action=getRTSPStream&sessionID=" + webSession + "&ChannelID=" +
            std::to_string(channel) + "&ChannelName=" + name + " RTSP/1.0\r\nCSeq: 1\r\n\r\n");
        std::string setup = Exchange(session.rtsp, "SETUP " + base + "ChannelID=" + std::to_string(channel) +
            "&ChannelName=" + name + "/trackID=1 RTSP/1.0\r\nCSeq: 2\r\nTransport: RTP/AVP;unicast;client_port=" +
            std::to_string(session.rtp.Port()) + "-" + std::to_string(session.rtcp.Port()) + "\r\n\r\n");
        std::string id = HeaderValue(setup, "Session");
        id = id.substr(0, id.find(';'));
        std::string play = Exchange(session.rtsp, "PLAY " + base + "ChannelID=" + std::to_string(channel) +
            "&ChannelName=" + name + " RTSP/1.0\r\nCSeq: 3\r\nSession: " + id + "\r\n\r\n");
        if (play.compare(0, 12, "RTSP/1.0 200") == 0) ++opened;
    }
    std::printf("sessions opened: %u of %u\n", opened, sessions);

    std::uint8_t buffer[2048];
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        for (Session& session : all) {
            camsim::Endpoint from;
            int size;
            while ((size = session.rtp.Receive(buffer, sizeof buffer, from, 0)) > 0) session.bytes += size;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    double total = 0, lowest = 1e18;
    for (std::size_t i = 0; i < all.size(); ++i) {
        double mbits = all[i].bytes * 8.0 / seconds / 1e6;
        total += mbits;
        lowest = std::min(lowest, mbits);
        std::printf("session %zu: %.2f Mbit/s\n", i + 1, mbits);
    }
    std::printf("total %.1f Mbit/s, mean %.2f, lowest %.2f Mbit/s per session\n", total, total / all.size(), lowest);
    return 0;
}
