#include "capture/query_command.h"

#include <chrono>
#include <string>

#include "capture/camera_probe.h"
#include "capture/command_support.h"
#include "host/capability_host.h"

namespace quillon_capture {

using namespace kestrel::ipcapture;

namespace {

// How long the query may take: three requests to the camera, each within its 3 s time-out.
constexpr auto kQueryBound = std::chrono::seconds(20);

// The four exports, as the header declares them.
struct CapabilityQueryExports {
    std::uint32_t (*init)(ICapabilityQueryCallback*, bool) = nullptr;
    std::uint32_t (*start)(const char*, std::uint16_t, const char*, const char*, ICapabilityResults*) = nullptr;
    std::uint32_t (*terminate)() = nullptr;
    std::uint32_t (*uninit)() = nullptr;

    bool Find(const CDriverLibrary& library) {
        init = reinterpret_cast<decltype(init)>(library.Symbol("InitCapabilityQuery"));
        start = reinterpret_cast<decltype(start)>(library.Symbol("StartCapabilityQuery"));
        terminate = reinterpret_cast<decltype(terminate)>(library.Symbol("TerminateCapabilityQuery"));
        uninit = reinterpret_cast<decltype(uninit)>(library.Symbol("UninitCapabilityQuery"));
        return init && start && terminate && uninit;
    }
};

// The result property ids the driver writes, as this host reads them.
enum : std::uint32_t { kInputs = 2, kOutputs = 3, kMpeg4 = 6, kJpeg = 7, kH264 = 8 };

std::string CustomValue(const quillon_host::CapabilitySnapshot& results, const std::string& name) {
    for (const auto& entry : results.customProperties) {
        if (entry.second.name == name) return entry.second.value;
    }
    return "?";
}

// The query's wait for each request to the camera.
constexpr std::uint32_t kProbeTimeoutMs = 3000;

void PrintResults(const quillon_host::CapabilitySnapshot& results, CConsole& console) {
    const auto [inputs, outputs] = PortCounts(results);
    std::string codecs;
    for (const auto& [id, value] : results.properties) {
        const char* codec = id == kH264 ? "H.264" : id == kMpeg4 ? "MPEG-4" : id == kJpeg ? "JPEG" : nullptr;
        if (codec && value == 1 && codecs.find(codec) == std::string::npos) {
            codecs += (codecs.empty() ? "" : ", ") + std::string(codec);
        }
    }
    const std::string standard = CustomValue(results, "Video standard");
    console.Message("model: " + results.modelName);
    console.Message("series: " + CustomValue(results, "Camera series"));
    console.Message("video standard: " + standard +
                    (standard == "1" ? " (480 lines, NTSC)" : standard == "2" ? " (576 lines, PAL)" : ""));
    console.Message("codecs: " + (codecs.empty() ? std::string("none reported") : codecs));
    for (const quillon_host::ResolutionItem& item : results.resolutions) {
        console.Message("resolution " + item.text + ": frame interval " + std::to_string(item.frameInterval) + " ms");
    }
    std::string intervals;
    for (std::uint32_t interval : results.frameIntervals) intervals += " " + std::to_string(interval);
    console.Message("frame intervals (ms):" + intervals + "; default " + std::to_string(results.defaultFrameInterval));
    console.Message("inputs: " + std::to_string(inputs) + ", outputs: " + std::to_string(outputs));
}

}  // namespace

std::pair<std::uint32_t, std::uint32_t> PortCounts(const quillon_host::CapabilitySnapshot& results) {
    std::pair<std::uint32_t, std::uint32_t> counts{0, 0};
    for (const auto& [id, value] : results.properties) {
        if (id == kInputs) counts.first = value;
        if (id == kOutputs) counts.second = value;
    }
    return counts;
}

bool QueryCamera(const CDriverLibrary& library, const quillon_host::HostCameraConfig& camera, bool ntsc,
                 quillon_host::CapabilitySnapshot* snapshot, std::string* failure) {
    const std::string what = "the capability query of " + CameraAddress(camera);
    // A driver built before the capability query lacks its exports; a host finds that out at
    // run time the same way.
    CapabilityQueryExports query;
    if (!query.Find(library)) {
        *failure = "this driver has no capability query yet";
        return false;
    }
    quillon_host::CHostCapabilityResults results;
    quillon_host::CHostQueryCallback callback;
    if (!query.init(&callback, ntsc)) {
        *failure = "the driver refused the query's callback (another query is registered)";
        return false;
    }
    const bool started =
        query.start(camera.address.c_str(), camera.port, camera.user.c_str(), camera.password.c_str(), &results);
    bool ended = false;
    const auto deadline = std::chrono::steady_clock::now() + kQueryBound;
    while (started && !ended && !StopRequested() && std::chrono::steady_clock::now() < deadline) {
        ended = callback.WaitForEnd(std::chrono::milliseconds(100));
    }
    if (started && !ended) query.terminate();
    query.uninit();
    const quillon_host::QueryOutcome outcome = callback.Outcome();
    *snapshot = results.Snapshot();
    if (outcome.completed) return true;
    if (!started) {
        *failure = what + " could not start";
    } else if (!outcome.ended) {
        *failure = what + " had no result; stopped";
    } else {
        // The driver's text is the same for every cause; the program's own look names it.
        CCameraProbe probe(camera, kProbeTimeoutMs);
        const ProbeResult found = probe.Login();
        *failure = what + " failed: " + (found == ProbeResult::kReady ? outcome.failureText : probe.Reason());
    }
    return false;
}

int RunQuery(const QueryOptions& options) {
    CConsole console(false);
    PreparedCamera prepared;
    std::string error;
    if (!PrepareCamera(options.target, SimulatedCameraRequest{}, console, &prepared, &error)) {
        console.Error("quillon-capture: " + error);
        return kExitFailure;
    }
    InstallStopHandler();
    quillon_host::CapabilitySnapshot results;
    if (!QueryCamera(*prepared.library, prepared.camera, options.ntsc, &results, &error)) {
        console.Error("quillon-capture: " + error);
        return kExitFailure;
    }
    PrintResults(results, console);
    return kExitSuccess;
}

}  // namespace quillon_capture
