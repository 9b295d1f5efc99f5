// What the three sub-commands share: exit codes, the stop request from Ctrl-C, the debug sink
// that prints, and the preparation of the driver library and the camera (or its simulator).
#ifndef QUILLON_TOOLS_CAPTURE_COMMAND_SUPPORT_H
#define QUILLON_TOOLS_CAPTURE_COMMAND_SUPPORT_H

#include <memory>
#include <string>

#include "capture/console.h"
#include "capture/driver_library.h"
#include "capture/options.h"
#include "capture/simulated_camera.h"

namespace quillon_capture {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the camera or the driver failed
constexpr int kExitUsage = 2;    // bad arguments

// Ctrl-C (and a termination request) sets the stop request instead of ending the program.
void InstallStopHandler();
bool StopRequested();
// Sleeps up to `milliseconds`, less when a stop is requested.
void SleepUnlessStopped(int milliseconds);

// Prints each driver message with its level, prefixed with `label` when not empty. Called on
// driver threads; the console must outlive it.
class CPrintingDebugSink final : public kestrel::ipcapture::IDebugInfoSink {
public:
    CPrintingDebugSink(CConsole& console, std::string label) : m_console(console), m_label(std::move(label)) {}
    void* Destroy(unsigned int flags) override;
    void OnDebugInfo(CDebugInfoIf* info) override;

private:
    CConsole& m_console;
    const std::string m_label;
};

// The loaded driver library and the camera to point it at; the simulator, if any, runs while
// this lives.
struct PreparedCamera {
    const CDriverLibrary* library = nullptr;  // lives until the process ends
    std::unique_ptr<ISimulatedCamera> simulator;
    quillon_host::HostCameraConfig camera;
};

// Loads the library and, for --simulate, starts the simulator made from `request` and points
// the camera at it. False with the reason in `error`.
bool PrepareCamera(const CameraOptions& options, SimulatedCameraRequest request,
                   CConsole& console, PreparedCamera* prepared, std::string* error);

// "127.0.0.1:8080"
std::string CameraAddress(const quillon_host::HostCameraConfig& camera);

}  // namespace quillon_capture

#endif
