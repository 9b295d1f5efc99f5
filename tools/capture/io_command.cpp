#include "capture/io_command.h"

#include <chrono>
#include <thread>

#include "capture/camera_probe.h"
#include "capture/command_support.h"
#include "capture/query_command.h"
#include "host/io_host.h"
#include "host/reference_host.h"

namespace quillon_capture {

using namespace kestrel::ipcapture;
using Clock = std::chrono::steady_clock;

namespace {

// Each wait of the program's own requests to the camera.
constexpr std::uint32_t kProbeTimeoutMs = 5000;
// How long an output write may take to show at the camera: a login and a write, each within
// the driver's 5 s operation time-out.
constexpr auto kOutputConfirmBound = std::chrono::seconds(11);
constexpr int kOutputCheckMs = 200;
// The simulator's ports when none are asked for.
constexpr std::uint32_t kSimulatedPorts = 2;

const char* PortStateName(std::uint32_t state) {
    switch (state) {
        case 1: return "inactive";
        case 2: return "active";
        default: return "unknown";
    }
}

// Waits until the camera shows the output in `state`, the driver reports a failure, or the bound
// passes; the line printed says which.
bool ConfirmOutput(CCameraProbe& probe, const quillon_host::CHostIOCallback& callback, std::size_t failuresBefore,
                   std::uint32_t port, std::uint32_t state, CConsole& console) {
    const std::string what = "output " + std::to_string(port) + " to " + PortStateName(state);
    const auto deadline = Clock::now() + kOutputConfirmBound;
    std::vector<std::uint32_t> states;
    while (Clock::now() < deadline && !StopRequested()) {
        if (callback.FailureCount() > failuresBefore) {
            console.Error("quillon-capture: " + what + ": failed, the driver could not write it to the camera");
            return false;
        }
        if (probe.OutputStates(&states) && port <= states.size() && states[port - 1] == state) {
            console.Message("output " + std::to_string(port) + " set to " + PortStateName(state));
            return true;
        }
        SleepUnlessStopped(kOutputCheckMs);
    }
    console.Error("quillon-capture: " + what + ": the camera does not show it set");
    return false;
}

int RunIoService(ICaptureIOApi* io, CCameraProbe& probe, const IoOptions& options, CConsole& console) {
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
    bool failed = false;
    for (const auto& output : options.outputs) {
        const std::size_t failures = callback.FailureCount();
        if (!io->SetOutput(output.first - 1, output.second)) {
            console.Error("quillon-capture: output " + std::to_string(output.first) + ": refused by the driver");
            failed = true;
            continue;
        }
        failed = !ConfirmOutput(probe, callback, failures, output.first, output.second, console) || failed;
    }
    const auto end = Clock::now() + std::chrono::milliseconds(std::int64_t(options.seconds * 1000));
    while (!StopRequested() && (options.seconds <= 0 || Clock::now() < end)) SleepUnlessStopped(100);
    io->Stop();
    return failed || callback.FailureCount() > 0 ? kExitFailure : kExitSuccess;
}

// The port counts the camera reports, unless given; false (with the reason printed) when the
// camera cannot be asked or a port asked for is past its count.
bool SettlePortCounts(PreparedCamera& prepared, const IoOptions& options, CConsole& console, int* status) {
    quillon_host::HostCameraConfig* camera = &prepared.camera;
    quillon_host::CapabilitySnapshot results;
    std::string failure;
    if (!QueryCamera(*prepared.library, prepared.camera, false, &results, &failure)) {
        console.Error("quillon-capture: " + failure);
        *status = kExitFailure;
        return false;
    }
    const auto counts = PortCounts(results);
    if (camera->inputCount == 0) camera->inputCount = counts.first;
    if (camera->outputCount == 0) camera->outputCount = counts.second;
    for (const auto& output : options.outputs) {
        if (output.first > counts.second) {
            console.Error("quillon-capture: --set " + std::to_string(output.first) + ": the camera has " +
                          std::to_string(counts.second) + " output(s)");
            *status = kExitUsage;
            return false;
        }
    }
    return true;
}

}  // namespace

int RunIo(const IoOptions& options) {
    CConsole console(false);
    SimulatedCameraRequest request;
    const quillon_host::HostCameraConfig& given = options.target.camera;
    request.inputs = given.inputCount ? given.inputCount : kSimulatedPorts;
    request.outputs = given.outputCount ? given.outputCount : kSimulatedPorts;
    PreparedCamera prepared;
    std::string error;
    if (!PrepareCamera(options.target, request, console, &prepared, &error)) {
        console.Error("quillon-capture: " + error);
        return kExitFailure;
    }
    InstallStopHandler();
    CCameraProbe probe(prepared.camera, kProbeTimeoutMs);
    if (probe.Login() != ProbeResult::kReady) {
        console.Error("quillon-capture: cannot reach the I/O ports of " + CameraAddress(prepared.camera) + ": " +
                      probe.Reason());
        return kExitFailure;
    }
    int status = kExitFailure;
    if (!SettlePortCounts(prepared, options, console, &status)) return status;
    CPrintingDebugSink debug(console, "");
    quillon_host::CHostFramePool pool(1);
    quillon_host::CHostDriverSettings settings(prepared.camera);
    IIPCaptureDriverEx* driver = prepared.library->Create();
    if (driver && driver->Init(&debug, &pool, &settings)) {
        status = RunIoService(driver->GetIOApi(), probe, options, console);
        driver->Uninit();
    } else {
        console.Error("quillon-capture: the driver refused its settings (Init failed)");
    }
    if (driver) prepared.library->Delete(driver);
    return status;
}

}  // namespace quillon_capture
