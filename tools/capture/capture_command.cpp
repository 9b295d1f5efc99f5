#include "capture/capture_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <filesystem>
#include <system_error>

#include "capture/camera_probe.h"
#include "capture/channel_status.h"
#include "capture/command_support.h"
#include "capture/progress.h"
#include "host/recycling_frame_pool.h"
#include "platform/terminal.h"

namespace quillon_capture {

using namespace kestrel::ipcapture;
using namespace quillon_host;
using Clock = std::chrono::steady_clock;

namespace {

// Above this many channels the progress and the summary show totals only.
constexpr std::size_t kMostChannelsListed = 16;
constexpr std::uint32_t kStatusTextSize = 512;
// Threads that stop the cameras at the end.
constexpr std::size_t kStoppingThreads = 16;
// Frames a driver object may hold at once: a few per channel in flight.
constexpr std::uint32_t kPoolFramesPerChannel = 8;
// The stream's own rate is judged once this much video arrived.
constexpr std::int64_t kRateJudgedAfterMs = 1000;
// The probe's wait for each step; the driver's own attempts follow it.
constexpr std::uint32_t kProbeTimeoutMs = 5000;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Megabytes(std::uint64_t bytes) { return Fixed(bytes / 1e6, 1) + " MB"; }

std::string Mbits(std::uint64_t bytes, double seconds) {
    return Fixed(seconds > 0 ? bytes * 8 / seconds / 1e6 : 0, 2) + " Mbit/s";
}

std::string CodecName(const HostCameraConfig& camera) {
    switch (camera.codec) {
        case kCodecJpeg: return camera.parameters.empty() ? "JPEG over RTSP" : "JPEG over HTTP";
        case kCodecMpeg4: return "MPEG-4";
        default: return "H.264";
    }
}

// The file of one channel: NAME, or NAME/capture when NAME is a folder, with the camera and
// channel numbers when there are several, and the format's extension.
std::string OutputPath(const CaptureOptions& options, std::uint32_t channels, std::uint32_t camera,
                       std::uint32_t channel) {
    std::string path = options.output;
    std::error_code ignored;
    const char last = path.back();
    if (last == '/' || last == '\\' || std::filesystem::is_directory(path, ignored)) {
        path = (std::filesystem::path(path) / "capture").string();
    }
    if (options.cameras > 1) path += "-cam" + std::to_string(camera + 1);
    if (channels > 1) path += "-ch" + std::to_string(channel + 1);
    return path + OutputExtension(options.frames, options.target.camera.codec);
}

// Before anything starts: an existing file stays unless --overwrite says otherwise (exit 2), and a
// file that cannot be made in a missing folder is said at once (exit 1). Success: kExitSuccess.
int CheckOutputs(const CaptureOptions& options, std::uint32_t channels, CConsole& console) {
    if (options.frames == FrameOutput::kDiscard) return kExitSuccess;
    for (std::uint32_t camera = 0; camera < options.cameras; ++camera) {
        for (std::uint32_t channel = 0; channel < channels; ++channel) {
            std::string path = OutputPath(options, channels, camera, channel);
            if (options.frames == FrameOutput::kJpegPerFrame) path += "-000001.jpg";
            std::error_code error;
            if (std::filesystem::exists(path, error) && !options.overwrite) {
                console.Error("quillon-capture: " + path + " exists; -y (--overwrite) replaces it");
                return kExitUsage;
            }
            std::filesystem::path folder = std::filesystem::path(path).parent_path();
            if (folder.empty()) folder = ".";
            if (!std::filesystem::is_directory(folder, error)) {
                const std::string reason = error ? error.message() : "not a folder: " + folder.string();
                console.Error("quillon-capture: cannot create " + path + ": " + reason);
                return kExitFailure;
            }
        }
    }
    return kExitSuccess;
}

// What GetChannelState tells of one channel.
struct ChannelReport {
    bool present = false;  // false: the driver holds no channel at this index
    std::uint32_t state = 0;
    ChannelStatus status;

    std::string Describe() const {
        if (!present) return "no channel in the driver";
        std::string text = "state " + std::to_string(state) + " (" + StateName(state) + ")";
        return status.condition.empty() ? text : text + ": " + status.condition;
    }
};

ChannelReport ReadChannel(IIPVideoCapture* capture, std::uint32_t channel) {
    ChannelReport report;
    char text[kStatusTextSize] = {};
    std::uint32_t reserved = 0;
    report.present = capture->GetChannelState(channel, &report.state, &reserved, text, sizeof text);
    text[sizeof text - 1] = '\0';  // a driver that fills the buffer must not take us past it
    if (report.present) report.status = ParseChannelStatus(text);
    return report;
}

struct CaptureChannel {
    std::uint32_t index = 0;  // the driver's channel index
    std::string label;        // "channel 2", "camera 3 channel 1"
    std::unique_ptr<CFrameFileSink> sink;
    SinkCounters lastCounters;  // at the previous progress line
    ChannelReport last;         // read each second, and just before the channel was stopped
    bool streamed = false;      // the driver reported it streaming at least once
    bool outage = false;        // it stopped streaming after that, and has not come back
    std::uint32_t reconnections = 0;
    bool settingsShown = false;  // what the camera sends was printed
    double stopSeconds = 0;      // how long its StopChannel took

    // Follows the state the driver reports: every return to streaming after an outage counts.
    void Observe(const ChannelReport& report) {
        last = report;
        // Connected is not yet streaming: a reconnection is quicker than the readings, and one
        // made while the camera still sends nothing must not end the outage.
        const bool streaming =
            report.present && report.state == 0 && report.status.condition.rfind("connected", 0) != 0;
        if (streaming && outage) ++reconnections;
        outage = streamed && !streaming;
        streamed = streamed || streaming;
    }
};

struct CaptureCamera {
    std::unique_ptr<CPrintingDebugSink> debug;
    std::unique_ptr<CRecyclingFramePool> pool;
    std::unique_ptr<CHostDriverSettings> settings;
    IIPCaptureDriverEx* driver = nullptr;
    bool initialised = false;
    std::vector<CaptureChannel> channels;
};

// What all channels together delivered and lost.
struct CaptureTotals {
    SinkCounters counters;
    ChannelLosses losses;
    bool lossesReported = false;
    std::vector<double> firstFrames;  // seconds, of the channels with video
    double rateSum = 0;               // frames per second, over the channels with video
    std::uint64_t framesMissing = 0;

    void Add(const SinkCounters& channel, const ChannelReport& report) {
        counters.frames += channel.frames;
        counters.keyFrames += channel.keyFrames;
        counters.written += channel.written;
        counters.signalLost += channel.signalLost;
        framesMissing += channel.timing.framesMissing;
        if (channel.frames > 0) firstFrames.push_back(channel.firstFrameMs / 1000.0);
        rateSum += channel.timing.Rate();
        if (report.status.losses) {
            losses += *report.status.losses;
            lossesReported = true;
        }
    }

    // Needs at least one channel with video.
    std::string Line(double seconds) {
        std::sort(firstFrames.begin(), firstFrames.end());
        const double median = firstFrames[firstFrames.size() / 2];
        return "all channels: " + std::to_string(firstFrames.size()) + " with video, " +
               std::to_string(counters.frames) + " frames (" + std::to_string(counters.keyFrames) + " key), " +
               Megabytes(counters.written) + " in " + Fixed(seconds, 1) + " s, " +
               Fixed(rateSum / firstFrames.size(), 1) + " fps per channel; first frame median " +
               Fixed(median, 2) + " s, worst " + Fixed(firstFrames.back(), 2) + " s; frames missing " +
               std::to_string(framesMissing) + "; losses: " +
               FormatLosses(lossesReported ? std::optional<ChannelLosses>(losses) : std::nullopt) +
               "; signal lost " + std::to_string(counters.signalLost) + " times";
    }
};

class CCaptureRun {
public:
    CCaptureRun(const CaptureOptions& options, PreparedCamera& prepared, CConsole& console)
        : m_options(options), m_prepared(prepared), m_console(console) {}

    int Run();

private:
    bool StartCameras();
    bool StartCamera(std::uint32_t number, CaptureCamera& camera);
    // Watches until the end; false when no channel had video by the connect time-out.
    bool Watch();
    void ShowProgress(double sinceLast);
    ChannelProgress Progress(CaptureChannel& channel, IIPVideoCapture* capture, double sinceLast);
    void ShowCameraSettings(CaptureChannel& channel, const SinkCounters& counters);
    void StopCameras();
    void StopCamera(CaptureCamera& camera);
    // Prints the summary; false when a channel had no video or its file failed.
    bool Summarise();
    bool SummariseChannel(const CaptureChannel& channel, double seconds, bool listed);
    // How long the channels took to stop, each and all.
    std::string StopLine() const;
    std::string FilePath(std::uint32_t camera, std::uint32_t channel) const;
    void ShowFile(const CaptureChannel& channel, const SinkCounters& counters);
    std::size_t ChannelCount() const;
    bool AnyVideo() const;

    const CaptureOptions& m_options;
    PreparedCamera& m_prepared;
    CConsole& m_console;
    std::vector<CaptureCamera> m_cameras;
    Clock::time_point m_started;
    Clock::time_point m_stopped;
    double m_stoppingSeconds = 0;  // StopCameras, all of it
};

int CCaptureRun::Run() {
    InstallStopHandler();
    m_started = Clock::now();
    const bool started = StartCameras();
    const bool connected = started && Watch();
    for (CaptureCamera& camera : m_cameras) {
        if (!camera.initialised) continue;
        for (CaptureChannel& channel : camera.channels) {
            channel.Observe(ReadChannel(camera.driver->GetVideoCapture(), channel.index));
        }
    }
    m_stopped = Clock::now();
    m_console.EndProgress();
    StopCameras();
    const bool complete = Summarise();
    return started && connected && complete ? kExitSuccess : kExitFailure;
}

bool CCaptureRun::StartCameras() {
    m_cameras.resize(m_options.cameras);
    for (std::uint32_t number = 0; number < m_cameras.size(); ++number) {
        if (!StartCamera(number, m_cameras[number])) return false;
    }
    return true;
}

bool CCaptureRun::StartCamera(std::uint32_t number, CaptureCamera& camera) {
    const std::string cameraLabel =
        m_options.cameras > 1 ? "camera " + std::to_string(number + 1) : std::string();
    const HostCameraConfig& config = m_prepared.camera;
    camera.debug = std::make_unique<CPrintingDebugSink>(m_console, cameraLabel);
    camera.pool = std::make_unique<CRecyclingFramePool>(kPoolFramesPerChannel * config.channelCount);
    camera.settings = std::make_unique<CHostDriverSettings>(config);
    camera.driver = m_prepared.library->Create();
    if (!camera.driver) {
        m_console.Error("quillon-capture: the driver library made no driver object");
        return false;
    }
    camera.initialised = camera.driver->Init(camera.debug.get(), camera.pool.get(), camera.settings.get());
    if (!camera.initialised) {
        m_console.Error("quillon-capture: the driver refused its settings (Init failed)");
        return false;
    }
    IIPVideoCapture* capture = camera.driver->GetVideoCapture();
    CHostChannelSettings channelSettings(m_options.channel);
    for (std::uint32_t index = 0; index < capture->GetChannelCount(); ++index) {
        CaptureChannel channel;
        channel.index = index;
        channel.label = (cameraLabel.empty() ? "" : cameraLabel + " ") + "channel " + std::to_string(index + 1);
        channel.sink = std::make_unique<CFrameFileSink>(m_options.frames, FilePath(number, index), config.codec);
        channel.sink->Start();
        if (!capture->StartChannel(index, channel.sink.get(), &channelSettings)) {
            m_console.Error("quillon-capture: " + channel.label + ": the driver could not start it");
        }
        camera.channels.push_back(std::move(channel));
    }
    return true;
}

bool CCaptureRun::Watch() {
    const Clock::duration connectBound = std::chrono::seconds(m_options.connectSeconds);
    const auto end = m_started + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(m_options.seconds));
    Clock::time_point lastProgress = m_started;
    while (!StopRequested()) {
        const Clock::time_point now = Clock::now();
        if (m_options.seconds > 0 && now >= end) break;
        if (now - m_started >= connectBound && !AnyVideo()) return false;
        if (now - lastProgress >= std::chrono::seconds(1)) {
            // Also without progress output: the states count the reconnections.
            ShowProgress(Seconds(now - lastProgress));
            lastProgress = now;
        }
        SleepUnlessStopped(50);
    }
    return true;
}

void CCaptureRun::ShowProgress(double sinceLast) {
    std::vector<std::string> lines;
    const bool listed = ChannelCount() <= kMostChannelsListed;
    std::uint64_t frames = 0, bytes = 0, missing = 0, streaming = 0;
    for (CaptureCamera& camera : m_cameras) {
        if (!camera.initialised) continue;
        for (CaptureChannel& channel : camera.channels) {
            const ChannelProgress progress = Progress(channel, camera.driver->GetVideoCapture(), sinceLast);
            if (m_options.progress == ProgressOutput::kJson) std::printf("%s\n", ProgressJson(progress).c_str());
            if (listed) lines.push_back(ProgressLine(progress));
            frames += progress.frames;
            bytes += progress.bytes;
            missing += progress.framesMissing;
            streaming += progress.state == 0u;
        }
    }
    if (m_options.progress == ProgressOutput::kJson) std::fflush(stdout);
    if (m_options.progress != ProgressOutput::kLines) return;
    if (!listed) {
        lines.push_back(std::to_string(ChannelCount()) + " channels: " + std::to_string(streaming) +
                        " streaming, " + std::to_string(frames) + " frames, " + Megabytes(bytes) +
                        ", frames missing " + std::to_string(missing));
    }
    m_console.Progress(std::move(lines));
}

ChannelProgress CCaptureRun::Progress(CaptureChannel& channel, IIPVideoCapture* capture, double sinceLast) {
    const SinkCounters now = channel.sink->Counters();
    channel.Observe(ReadChannel(capture, channel.index));
    ShowCameraSettings(channel, now);
    ChannelProgress progress;
    progress.label = channel.label;
    progress.seconds = Seconds(Clock::now() - m_started);
    progress.framesPerSecond = (now.frames - channel.lastCounters.frames) / sinceLast;
    progress.bitsPerSecond = (now.written - channel.lastCounters.written) * 8 / sinceLast;
    progress.frames = now.frames;
    progress.keyFrames = now.keyFrames;
    progress.bytes = now.written;
    progress.framesMissing = now.timing.framesMissing;
    progress.losses = channel.last.status.losses;
    if (channel.last.present) progress.state = channel.last.state;
    progress.status = channel.last.status.condition;
    channel.lastCounters = now;
    return progress;
}

// The camera may adapt what was asked (sizes to its own steps, rates to what the transport
// carries): said once, from what arrives, as soon as the rate can be judged.
void CCaptureRun::ShowCameraSettings(CaptureChannel& channel, const SinkCounters& counters) {
    const bool judged = counters.frames >= 2 && counters.lastFrameMs - counters.firstFrameMs >= kRateJudgedAfterMs;
    if (channel.settingsShown || !judged) return;
    channel.settingsShown = true;
    const HostChannelConfig& asked = m_options.channel;
    m_console.Message(channel.label + ": the camera sends " + std::to_string(counters.width) + "x" +
                      std::to_string(counters.height) + " at " + Fixed(counters.timing.Rate(), 1) + " fps (asked " +
                      std::to_string(asked.width) + "x" + std::to_string(asked.height) + " at " +
                      Fixed(1000.0 / asked.frameInterval, 1) + " fps)");
}

void CCaptureRun::StopCameras() {
    const Clock::time_point begun = Clock::now();
    // Each stop waits for its channel's session to end; a server holding many cameras stops them
    // side by side rather than one after another.
    std::atomic<std::size_t> next{0};
    auto stopSome = [&] {
        for (std::size_t i = next++; i < m_cameras.size(); i = next++) StopCamera(m_cameras[i]);
    };
    std::vector<std::thread> stoppers;
    const std::size_t helpers =
        m_options.stopOneByOne ? 0 : std::min<std::size_t>(m_cameras.size(), kStoppingThreads) - 1;
    try {
        while (stoppers.size() < helpers) stoppers.emplace_back(stopSome);
    } catch (const std::system_error& error) {
        // Out of threads or address space: fewer helpers, the same stops.
        m_console.Message("quillon-capture: stopping on " + std::to_string(stoppers.size() + 1) + " threads (no more "
                          "could be created: " + error.what() + ")");
    }
    stopSome();
    for (std::thread& stopper : stoppers) stopper.join();
    m_stoppingSeconds = Seconds(Clock::now() - begun);
}

void CCaptureRun::StopCamera(CaptureCamera& camera) {
    if (camera.initialised) {
        IIPVideoCapture* capture = camera.driver->GetVideoCapture();
        for (CaptureChannel& channel : camera.channels) {
            const Clock::time_point begun = Clock::now();
            capture->StopChannel(channel.index);
            channel.stopSeconds = Seconds(Clock::now() - begun);
        }
        camera.driver->Uninit();
    }
    if (camera.driver) m_prepared.library->Delete(camera.driver);
    camera.driver = nullptr;
    // Nothing calls the sinks after StopChannel, so their files can close now.
    for (CaptureChannel& channel : camera.channels) channel.sink->Close();
}

bool CCaptureRun::Summarise() {
    const double seconds = Seconds(m_stopped - m_started);
    const bool listed = ChannelCount() <= kMostChannelsListed;
    CaptureTotals totals;
    bool complete = true;
    for (const CaptureCamera& camera : m_cameras) {
        for (const CaptureChannel& channel : camera.channels) {
            totals.Add(channel.sink->Counters(m_stopped), channel.last);
            complete = SummariseChannel(channel, seconds, listed) && complete;
        }
    }
    if (ChannelCount() > 1 && !totals.firstFrames.empty()) m_console.Message(totals.Line(seconds));
    if (ChannelCount() > 1) m_console.Message(StopLine());
    return complete;
}

std::string CCaptureRun::StopLine() const {
    std::vector<double> stops;
    for (const CaptureCamera& camera : m_cameras) {
        if (!camera.initialised) continue;
        for (const CaptureChannel& channel : camera.channels) stops.push_back(channel.stopSeconds);
    }
    if (stops.empty()) return "stop: no channel was started";
    std::sort(stops.begin(), stops.end());
    return "stop: " + std::to_string(stops.size()) + " channels, median " + Fixed(stops[stops.size() / 2] * 1000, 1) +
           " ms, worst " + Fixed(stops.back() * 1000, 1) + " ms; all in " + Fixed(m_stoppingSeconds, 2) + " s " +
           (m_options.stopOneByOne ? "one after another" : "side by side");
}

bool CCaptureRun::SummariseChannel(const CaptureChannel& channel, double seconds, bool listed) {
    const SinkCounters counters = channel.sink->Counters(m_stopped);
    if (counters.frames == 0) {
        const std::string& condition = channel.last.status.condition;
        m_console.Error("quillon-capture: no video from " + CameraAddress(m_prepared.camera) + " " +
                        channel.label + " within " + Fixed(seconds, 1) + " s: " +
                        (condition.empty() ? channel.last.Describe() : condition));
        return false;
    }
    if (counters.writeFailed) m_console.Error("quillon-capture: " + channel.label + ": " + counters.failure);
    if (!listed) return !counters.writeFailed;
    const TimingFigures& timing = counters.timing;
    // From the first frame to the last: the channels of a camera stop one after another, and
    // frames keep coming until each has stopped.
    const double video = std::max((counters.lastFrameMs - counters.firstFrameMs) / 1000.0, 0.001);
    std::string line = channel.label + ": " + std::to_string(counters.frames) + " frames (" +
                       std::to_string(counters.keyFrames) + " key) in " + Fixed(video, 1) + " s at " +
                       Fixed(timing.Rate(), 1) + " fps, " + Mbits(counters.written, video) + ", " +
                       Megabytes(counters.written) + "; first frame after " +
                       Fixed(counters.firstFrameMs / 1000.0, 2) + " s";
    if (counters.skipped) {
        line += "; " + std::to_string(counters.skipped) + " frames before the first key frame not written";
    }
    m_console.Message(line);
    m_console.Message("  outages: longest time without a frame " + Fixed(timing.longestGapMs / 1000.0, 2) +
                      " s, reconnections " + std::to_string(channel.reconnections) + ", signal lost " +
                      std::to_string(counters.signalLost) + " times");
    m_console.Message("  losses: frames missing " + std::to_string(timing.framesMissing) +
                      " (from the arrival times); driver counts: " + FormatLosses(channel.last.status.losses));
    ShowFile(channel, counters);
    return !counters.writeFailed;
}

void CCaptureRun::ShowFile(const CaptureChannel& channel, const SinkCounters& counters) {
    const std::string& path = channel.sink->Path();
    if (!counters.fileCreated) return;
    switch (m_options.frames) {
        case FrameOutput::kMatroska:
        case FrameOutput::kMp4:
            m_console.Message("  file " + path + " with each frame's arrival time; play it with: ffplay " + path);
            break;
        case FrameOutput::kStream: {
            // A raw stream has no times: the player needs the stream's own rate.
            const long fps = std::max(1L, std::lround(counters.timing.Rate()));
            m_console.Message("  file " + path + " (raw, no frame times), play it with: ffplay -framerate " +
                              std::to_string(fps) + " " + path);
            break;
        }
        case FrameOutput::kJpegPerFrame:
            m_console.Message("  pictures " + path + "-000001.jpg and on");
            break;
        case FrameOutput::kDiscard: break;
    }
}

std::string CCaptureRun::FilePath(std::uint32_t camera, std::uint32_t channel) const {
    return OutputPath(m_options, m_prepared.camera.channelCount, camera, channel);
}

std::size_t CCaptureRun::ChannelCount() const {
    std::size_t count = 0;
    for (const CaptureCamera& camera : m_cameras) count += camera.channels.size();
    return count;
}

bool CCaptureRun::AnyVideo() const {
    for (const CaptureCamera& camera : m_cameras) {
        for (const CaptureChannel& channel : camera.channels) {
            if (channel.sink->Counters().frames > 0) return true;
        }
    }
    return false;
}

}  // namespace

int RunCapture(const CaptureOptions& options) {
    const bool json = options.progress == ProgressOutput::kJson;
    CConsole console(options.progress == ProgressOutput::kLines && kestrel::platform::PrepareTerminalOutput(), json);
    SimulatedCameraRequest request;
    request.codec = options.target.camera.codec;
    request.width = options.channel.width;
    request.height = options.channel.height;
    request.frameRate = (1000 + options.channel.frameInterval / 2) / options.channel.frameInterval;
    request.quality = options.channel.quality;
    const int outputs = CheckOutputs(options, options.target.camera.channelCount, console);
    if (outputs != kExitSuccess) return outputs;
    PreparedCamera prepared;
    std::string error;
    if (!PrepareCamera(options.target, request, console, &prepared, &error)) {
        console.Error("quillon-capture: " + error);
        return kExitFailure;
    }
    {
        // A refused login or an unknown name does not mend by waiting out --connect-timeout.
        CCameraProbe probe(prepared.camera, kProbeTimeoutMs);
        const ProbeResult found = probe.Login();
        if (CCameraProbe::Permanent(found)) {
            console.Error("quillon-capture: cannot capture from " + CameraAddress(prepared.camera) + ": " +
                          probe.Reason());
            return kExitFailure;
        }
        if (found != ProbeResult::kReady) {
            console.Message(probe.Reason() + "; trying for " + std::to_string(options.connectSeconds) +
                            " s (--connect-timeout)");
        }
    }
    const HostChannelConfig& asked = options.channel;
    console.Message("capturing from " + CameraAddress(prepared.camera) + ": " +
                    std::to_string(options.cameras) + " camera(s) x " +
                    std::to_string(prepared.camera.channelCount) + " channel(s), asked " +
                    CodecName(prepared.camera) + " " + std::to_string(asked.width) + "x" +
                    std::to_string(asked.height) + " at " + Fixed(1000.0 / asked.frameInterval, 1) + " fps" +
                    (options.seconds > 0 ? " for " + Fixed(options.seconds, 1) + " s" : ", Ctrl-C stops"));
    CCaptureRun run(options, prepared, console);
    return run.Run();
}

}  // namespace quillon_capture
