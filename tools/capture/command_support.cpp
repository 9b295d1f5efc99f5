#include "capture/command_support.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

#include "capture/progress.h"
#include "platform/terminal.h"
#include "runtime/host_call.h"

namespace quillon_capture {

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void OnStopSignal(int) { g_stopRequested = 1; }

}  // namespace

void InstallStopHandler() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() { return g_stopRequested != 0; }

void SleepUnlessStopped(int milliseconds) {
    constexpr int kSlice = 50;
    for (int slept = 0; slept < milliseconds && !StopRequested(); slept += kSlice) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kSlice, milliseconds - slept)));
    }
}

void* CPrintingDebugSink::Destroy(unsigned int flags) { return kestrel::DestroyObject(this, flags); }

void CPrintingDebugSink::OnDebugInfo(CDebugInfoIf* info) {
    const std::string prefix = m_label.empty() ? "" : m_label + " ";
    m_console.Message(prefix + DriverMessage(info->GetLevel(), info->GetText()));
}

bool PrepareCamera(const CameraOptions& options, SimulatedCameraRequest request,
                   CConsole& console, PreparedCamera* prepared, std::string* error) {
    const std::string path = options.library.empty() ? CDriverLibrary::DefaultPath() : options.library;
    prepared->library = CDriverLibrary::Load(path, error);
    if (!prepared->library) return false;
    prepared->camera = options.camera;
    if (options.askPassword &&
        !kestrel::platform::ReadHiddenLine("password for " + options.camera.user + "@" + options.camera.address + ": ",
                                           &prepared->camera.password)) {
        *error = std::string("no password: give it in the camera URL, with --password or in ") + kPasswordVariable;
        return false;
    }
    if (!options.simulate) return true;
    request.user = options.camera.user;
    request.password = options.camera.password;
    prepared->simulator = StartSimulatedCamera(request, error);
    if (!prepared->simulator) return false;
    prepared->camera.address = "127.0.0.1";
    prepared->camera.port = prepared->simulator->WebPort();
    std::string addresses = prepared->simulator->Addresses();
    while (!addresses.empty() && addresses.back() == '\n') addresses.pop_back();
    for (std::size_t begin = 0; begin < addresses.size();) {
        std::size_t end = addresses.find('\n', begin);
        if (end == std::string::npos) end = addresses.size();
        console.Message("simulated camera: " + addresses.substr(begin, end - begin));
        begin = end + 1;
    }
    return true;
}

std::string CameraAddress(const quillon_host::HostCameraConfig& camera) {
    return camera.address + ":" + std::to_string(camera.port);
}

}  // namespace quillon_capture
