// quillon-camsim: runs one simulated camera on 127.0.0.1 until interrupted. Prints its addresses
// on start; --help lists the options.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "camsim/camera_simulator.h"
#include "camsim/text.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

constexpr const char* kUsage =
    "usage: quillon-camsim [options]\n"
    "  --web-port N --rtsp-port N --rtp-port N --control-port N   (0 or absent: a free port)\n"
    "  --no-control                  no control port\n"
    "  --model TEXT --device-name TEXT --firmware TEXT --mac TEXT\n"
    "  --user NAME --password TEXT --realm TEXT\n"
    "  --http-auth AUTH --rtsp-auth AUTH   AUTH: none|basic|digest|digest-qop[:ALGORITHM,...]\n"
    "      ALGORITHM MD5, MD5-sess, SHA-256 or SHA-256-sess: one Digest challenge each, in that order\n"
    "  --nonce-ms MS                 Digest nonces expire after MS (answered stale=true); 0 never\n"
    "  --stream NAME,STANDARD,CODEC,WIDTHxHEIGHT,FPS,QUALITY   (repeat; the first replaces the defaults)\n"
    "      STANDARD 2 PAL, 1 NTSC; CODEC 4 H.264, 1 MPEG-4, 2 JPEG\n"
    "  --inputs N --outputs N --input-toggle-ms MS\n"
    "  --media DIR --mtu BYTES --jpeg-tables-in-band --audio --metadata\n"
    "  --session-timeout S --sender-report-ms MS --pacers N --seed N\n"
    "  --fault \"COMMAND\"             any control command, run once started (repeat)\n"
    "control commands: send \"help\" to the control port, or see tools/camsim/README.md\n";

bool ParseStream(const std::string& text, camsim::StreamConfig& stream) {
    std::vector<std::string> fields = camsim::Split(text, ',');
    if (fields.size() != 6) return false;
    std::vector<std::string> size = camsim::Split(fields[3], 'x');
    stream.channelName = fields[0];
    stream.videoStandardType = fields[1];
    stream.videoCodecType = fields[2];
    return size.size() == 2 && camsim::ParseNumber(size[0], stream.width) &&
           camsim::ParseNumber(size[1], stream.height) && camsim::ParseNumber(fields[4], stream.frameRate) &&
           camsim::ParseNumber(fields[5], stream.quality);
}

bool ParsePort(const char* text, std::uint16_t& port) {
    unsigned value = 0;
    if (!camsim::ParseNumber(text, value) || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool ParseCount(const char* text, unsigned& value) { return camsim::ParseNumber(text, value); }

}  // namespace

int main(int argc, char** argv) {
    camsim::CameraConfig config;
    config.mediaDir = QUILLON_TESTDATA_DIR;
    std::vector<std::string> faults;
    bool streamsGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        bool flag = true;
        if (option == "--no-control") config.controlEnabled = false;
        else if (option == "--jpeg-tables-in-band") config.jpegTablesInBand = true;
        else if (option == "--audio") config.audioTrack = true;
        else if (option == "--metadata") config.metadataTrack = true;
        else flag = false;
        if (flag) continue;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "quillon-camsim: %s needs a value\n%s", option.c_str(), kUsage);
            return 2;
        }
        const char* value = argv[++i];
        camsim::StreamConfig stream;
        bool ok = true;
        if (option == "--web-port") ok = ParsePort(value, config.webPort);
        else if (option == "--rtsp-port") ok = ParsePort(value, config.rtspPort);
        else if (option == "--rtp-port") ok = ParsePort(value, config.rtpPort);
        else if (option == "--control-port") ok = ParsePort(value, config.controlPort);
        else if (option == "--model") config.model = value;
        else if (option == "--device-name") config.deviceName = value;
        else if (option == "--firmware") config.firmwareVersion = value;
        else if (option == "--mac") config.macAddress = value;
        else if (option == "--user") config.user = value;
        else if (option == "--password") config.password = value;
        else if (option == "--realm") config.realm = value;
        else if (option == "--http-auth") ok = camsim::ParseAuthSettings(value, config.httpAuth);
        else if (option == "--rtsp-auth") ok = camsim::ParseAuthSettings(value, config.rtspAuth);
        else if (option == "--nonce-ms") {
            ok = camsim::ParseNumber(value, config.httpAuth.nonceLifetimeMs);
            config.rtspAuth.nonceLifetimeMs = config.httpAuth.nonceLifetimeMs;
        }
        else if (option == "--inputs") ok = ParseCount(value, config.inputCount);
        else if (option == "--outputs") ok = ParseCount(value, config.outputCount);
        else if (option == "--input-toggle-ms") ok = ParseCount(value, config.inputToggleMs);
        else if (option == "--media") config.mediaDir = value;
        else if (option == "--mtu") ok = ParseCount(value, config.mtu);
        else if (option == "--session-timeout") ok = ParseCount(value, config.sessionTimeoutS);
        else if (option == "--sender-report-ms") ok = ParseCount(value, config.senderReportMs);
        else if (option == "--pacers") ok = ParseCount(value, config.pacerThreads);
        else if (option == "--seed") ok = camsim::ParseNumber(value, config.seed);
        else if (option == "--fault") faults.push_back(value);
        else if (option == "--stream" && (ok = ParseStream(value, stream))) {
            if (!streamsGiven) config.streams.clear();
            streamsGiven = true;
            config.streams.push_back(stream);
        } else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "quillon-camsim: bad option %s %s\n%s", option.c_str(), value, kUsage);
            return 2;
        }
    }

    camsim::CameraSimulator simulator(config);
    std::string failure;
    if (!simulator.Start(&failure)) {
        std::fprintf(stderr, "quillon-camsim: %s\n", failure.c_str());
        return 1;
    }
    for (const std::string& fault : faults) std::printf("fault %s: %s\n", fault.c_str(), simulator.Execute(fault).c_str());
    std::fputs(simulator.Addresses().c_str(), stdout);
    std::fflush(stdout);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    simulator.Stop();
    return 0;
}
