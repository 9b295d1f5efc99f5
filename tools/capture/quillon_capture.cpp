// quillon-capture: drives the driver the way a recording server does, through its exports and
// the reference host, and prints what the driver reports.
//
//   quillon-capture [--address A] [--port P] [--codec 1|2|3] [--channels N] [--user U]
//                   [--password P] [--transport-parameter V]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/reference_host.h"

using namespace quillon_host;

namespace {

bool ParseArguments(int argc, char** argv, HostCameraConfig* camera) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--address") camera->address = value;
        else if (name == "--port") camera->port = std::uint16_t(std::strtoul(value, nullptr, 10));
        else if (name == "--codec") camera->codec = std::uint32_t(std::strtoul(value, nullptr, 10));
        else if (name == "--channels") camera->channelCount = std::uint32_t(std::strtoul(value, nullptr, 10));
        else if (name == "--user") camera->user = value;
        else if (name == "--password") camera->password = value;
        else if (name == "--transport-parameter") camera->parameters = {value};
        else return false;
    }
    return argc % 2 == 1;
}

int Run(const HostCameraConfig& camera) {
    CHostDebugSink debugSink([](const DebugRecord& record) {
        std::printf("debug level %u: %s\n", unsigned(record.level), record.text.c_str());
    });
    CHostFramePool pool;
    CHostDriverSettings settings(camera);
    IIPCaptureDriverEx* driver = CreateIPCaptureEx();
    if (!driver || !driver->Init(&debugSink, &pool, &settings)) {
        std::printf("driver: Init failed\n");
        DeleteIPCaptureEx(driver);
        return 1;
    }
    IIPVideoCapture* capture = driver->GetVideoCapture();
    ICaptureIOApi* io = driver->GetIOApi();
    std::printf("driver: camera %s:%u, codec %u, %u channel(s), %u input(s), %u output(s)\n",
                camera.address.c_str(), unsigned(camera.port), unsigned(camera.codec),
                unsigned(capture->GetChannelCount()), unsigned(io->GetInputCount()),
                unsigned(io->GetOutputCount()));
    CHostChannelSettings channelSettings(HostChannelConfig{});
    for (std::uint32_t channel = 0; channel < capture->GetChannelCount(); ++channel) {
        CRecordingSink sink;
        const bool started = capture->StartChannel(channel, &sink, &channelSettings);
        std::uint32_t state = 0;
        std::uint32_t reserved = 0;
        const bool running = capture->GetChannelState(channel, &state, &reserved, nullptr, 0);
        std::printf("channel %u: start %s, %s\n", unsigned(channel), started ? "ok" : "failed",
                    running ? ("state " + std::to_string(state)).c_str() : "no camera channel");
        capture->StopChannel(channel);
    }
    driver->Uninit();
    DeleteIPCaptureEx(driver);
    std::printf("driver: %zu debug message(s), %u frame(s) outstanding\n",
                debugSink.Messages().size(), unsigned(pool.Outstanding()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    HostCameraConfig camera;
    if (!ParseArguments(argc, argv, &camera)) {
        std::fprintf(stderr,
                     "usage: quillon-capture [--address A] [--port P] [--codec 1|2|3] "
                     "[--channels N] [--user U] [--password P] [--transport-parameter V]\n");
        return 2;
    }
    return Run(camera);
}
