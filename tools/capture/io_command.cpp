#include "capture/io_command.h"

#include <chrono>

#include "capture/command_support.h"
#include "host/io_host.h"
#include "host/reference_host.h"

namespace quillon_capture {

using namespace kestrel::ipcapture;

namespace {

const char* PortStateName(std::uint32_t state) {
    switch (state) {
        case 1: return "inactive";
        case 2: return "active";
        default: return "unknown";
    }
}

int RunIoService(ICaptureIOApi* io, const IoOptions& options, CConsole& console) {
    // Called on the driver's I/O threads and, during Start, on this one.
    quillon_host::CHostIOCallback callback([&console](const quillon_host::InputChange& change) {
        if (change.port == quillon_host::CHostIOCallback::kFailurePort) {
            console.Message("I/O failure: the driver cannot reach the camera's I/O ports");
        } else {
            console.Message("input " + std::to_string(change.port + 1) + ": " + PortStateName(change.state) +
                            " (" + std::to_string(change.state) + ")");
        }
    });
    if (!io->SetCallback(&callback) || !io->Start()) {
        console.Error("quillon-capture: the driver's digital I/O service did not start");
        io->Stop();
        return kExitFailure;
    }
    console.Message("digital I/O: " + std::to_string(io->GetInputCount()) + " input(s), " +
                    std::to_string(io->GetOutputCount()) + " output(s)" +
                    (options.seconds > 0 ? "" : "; Ctrl-C stops"));
    bool refused = false;
    for (const auto& output : options.outputs) {
        const bool accepted = io->SetOutput(output.first - 1, output.second);
        refused = refused || !accepted;
        console.Message("output " + std::to_string(output.first) + " to " +
                        PortStateName(output.second) + ": " +
                        (accepted ? "accepted" : "refused by the driver"));
    }
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(std::int64_t(options.seconds * 1000));
    while (!StopRequested() && (options.seconds <= 0 || std::chrono::steady_clock::now() < end)) {
        SleepUnlessStopped(100);
    }
    io->Stop();
    return refused || callback.FailureCount() > 0 ? kExitFailure : kExitSuccess;
}

}  // namespace

int RunIo(const IoOptions& options) {
    CConsole console(false);
    SimulatedCameraRequest request;
    request.inputs = options.target.camera.inputCount;
    request.outputs = options.target.camera.outputCount;
    PreparedCamera prepared;
    std::string error;
    if (!PrepareCamera(options.target, request, console, &prepared, &error)) {
        console.Error("quillon-capture: " + error);
        return kExitFailure;
    }
    InstallStopHandler();
    CPrintingDebugSink debug(console, "");
    quillon_host::CHostFramePool pool(1);
    quillon_host::CHostDriverSettings settings(prepared.camera);
    IIPCaptureDriverEx* driver = prepared.library->Create();
    int status = kExitFailure;
    if (driver && driver->Init(&debug, &pool, &settings)) {
        status = RunIoService(driver->GetIOApi(), options, console);
        driver->Uninit();
    } else {
        console.Error("quillon-capture: the driver refused its settings (Init failed)");
    }
    if (driver) prepared.library->Delete(driver);
    return status;
}

}  // namespace quillon_capture
