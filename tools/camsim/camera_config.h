// What a simulated camera is: identity, account, ports, streams, I/O ports and media. Plain
// values, filled by the command's options or by a test, read once by CameraSimulator::Start.
#ifndef QUILLON_TOOLS_CAMSIM_CAMERA_CONFIG_H
#define QUILLON_TOOLS_CAMSIM_CAMERA_CONFIG_H

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

enum class AuthScheme { kNone, kBasic, kDigest, kDigestQop };

// What a server asks of its clients. Digest offers one challenge per algorithm, in this order,
// each with a nonce of its own; "" offers the RFC 2069 challenge that names no algorithm.
struct AuthSettings {
    AuthScheme scheme = AuthScheme::kNone;
    std::vector<std::string> digestAlgorithms;  // empty: "" for kDigest, "MD5" for kDigestQop
    unsigned nonceLifetimeMs = 0;  // 0: never; an answer to an older nonce gets stale=true
};

// The camera's codes for its video codecs ("videoCodecType").
constexpr const char* kCodecMpeg4 = "1";
constexpr const char* kCodecJpeg = "2";
constexpr const char* kCodecH264 = "4";

// One camera stream as it first appears in "StreamingSetting.xml".
struct StreamConfig {
    std::string channelName;
    std::string videoStandardType = "2";  // "2" the 576-line standard, "1" the 480-line one
    std::string videoCodecType = kCodecH264;
    unsigned width = 704;
    unsigned height = 576;
    unsigned frameRate = 25;
    unsigned quality = 50;
    bool enabled = true;
};

struct CameraConfig {
    std::string model = "CIVS-IPC-4500";
    std::string deviceName = "camsim";
    std::string macAddress = "00:1B:D4:00:00:01";
    std::string firmwareVersion = "1.2.0";
    std::string udi = "CIVS-IPC-SIM-0001";

    std::string user = "admin";
    std::string password = "admin";
    AuthSettings httpAuth;  // in front of the web API and the MJPEG stream
    AuthSettings rtspAuth;
    std::string realm = "camsim";

    // 0 takes a free port; the RTSP port then goes into every stream's rtspPortNo.
    std::uint16_t webPort = 0;
    std::uint16_t rtspPort = 0;
    std::uint16_t rtpPort = 0;  // RTCP on the next port; both shared by every session
    std::uint16_t controlPort = 0;
    bool controlEnabled = true;

    std::vector<StreamConfig> streams = {
        {"Channel1", "2", kCodecH264, 704, 576, 25, 50, true},
        {"Channel2", "2", kCodecJpeg, 704, 576, 25, 50, true},
    };

    unsigned inputCount = 2;
    unsigned outputCount = 2;
    unsigned inputToggleMs = 0;  // every input flips this often; 0 never

    std::string mediaDir;  // the repository's testdata folder
    unsigned mtu = 1400;   // largest RTP datagram
    bool jpegTablesInBand = false;  // always Q 255 with the tables in the packets
    bool audioTrack = false;
    bool metadataTrack = false;
    unsigned sessionTimeoutS = 60;
    unsigned senderReportMs = 5000;
    unsigned pacerThreads = 2;
    unsigned seed = 1;  // faults draw from a generator seeded with this
};

}  // namespace camsim

#endif
