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

#include "capture/channel_status.h"
#include "capture/command_support.h"
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

const char* StateName(std::uint32_t state) {
    switch (state) {
        case 0: return "streaming";
        case 2: return "no frames";
        case 3: return "not connected";
        default: return "unknown";
    }
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
    ChannelReport last;         // read just before the channel was stopped
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

    void Add(const SinkCounters& channel, const ChannelReport& report) {
        counters.frames += channel.frames;
        counters.keyFrames += channel.keyFrames;
        counters.written += channel.written;
        counters.signalLost += channel.signalLost;
        if (channel.frames > 0) firstFrames.push_back(channel.firstFrameMs / 1000.0);
        if (channel.frames > 1 && channel.lastFrameMs > channel.firstFrameMs) {
            rateSum += (channel.frames - 1) * 1000.0 / double(channel.lastFrameMs - channel.firstFrameMs);
        }
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
               Fixed(median, 2) + " s, worst " + Fixed(firstFrames.back(), 2) + " s; losses: " +
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
    std::string ProgressLine(CaptureChannel& channel, IIPVideoCapture* capture, double sinceLast);
    void StopCameras();
    void StopCamera(CaptureCamera& camera);
    // Prints the summary; false when a channel had no video or its file failed.
    bool Summarise();
    bool SummariseChannel(const CaptureChannel& channel, double seconds, bool listed);
    std::string FilePath(std::uint32_t camera, std::uint32_t channel) const;
    std::size_t ChannelCount() const;
    bool AnyVideo() const;

    const CaptureOptions& m_options;
    PreparedCamera& m_prepared;
    CConsole& m_console;
    std::vector<CaptureCamera> m_cameras;
    Clock::time_point m_started;
    Clock::time_point m_stopped;
};

int CCaptureRun::Run() {
    InstallStopHandler();
    m_started = Clock::now();
    const bool started = StartCameras();
    const bool connected = started && Watch();
    for (CaptureCamera& camera : m_cameras) {
        if (!camera.initialised) continue;
        for (CaptureChannel& channel : camera.channels) {
            channel.last = ReadChannel(camera.driver->GetVideoCapture(), channel.index);
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
        channel.sink = std::make_unique<CFrameFileSink>(m_options.frames, FilePath(number, index));
        if (!channel.sink->Open()) {
            m_console.Error("quillon-capture: cannot create " + channel.sink->Path());
            return false;
        }
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
            ShowProgress(Seconds(now - lastProgress));
            lastProgress = now;
        }
        SleepUnlessStopped(50);
    }
    return true;
}

void CCaptureRun::ShowProgress(double sinceLast) {
    if (m_options.quiet) return;
    std::vector<std::string> lines;
    const bool listed = ChannelCount() <= kMostChannelsListed;
    std::uint64_t frames = 0, bytes = 0, lost = 0, streaming = 0;
    for (CaptureCamera& camera : m_cameras) {
        if (!camera.initialised) continue;
        for (CaptureChannel& channel : camera.channels) {
            const std::string line = ProgressLine(channel, camera.driver->GetVideoCapture(), sinceLast);
            if (listed) lines.push_back(line);
            frames += channel.lastCounters.frames;
            bytes += channel.lastCounters.written;
            lost += channel.last.status.losses ? channel.last.status.losses->Total() : 0;
            streaming += channel.last.present && channel.last.state == 0;
        }
    }
    if (!listed) {
        lines.push_back(std::to_string(ChannelCount()) + " channels: " + std::to_string(streaming) +
                        " streaming, " + std::to_string(frames) + " frames, " + Megabytes(bytes) +
                        ", lost " + std::to_string(lost));
    }
    m_console.Progress(std::move(lines));
}

std::string CCaptureRun::ProgressLine(CaptureChannel& channel, IIPVideoCapture* capture,
                                      double sinceLast) {
    const SinkCounters now = channel.sink->Counters();
    if (capture && sinceLast > 0) channel.last = ReadChannel(capture, channel.index);
    const double fps = sinceLast > 0 ? (now.frames - channel.lastCounters.frames) / sinceLast : 0;
    const std::string rate = Mbits(now.written - channel.lastCounters.written, sinceLast);
    channel.lastCounters = now;
    const std::uint64_t lost = channel.last.status.losses ? channel.last.status.losses->Total() : 0;
    return channel.label + ": " + Fixed(fps, 1) + " fps, " + rate + ", " +
           std::to_string(now.keyFrames) + " key, " + Megabytes(now.written) + ", lost " +
           std::to_string(lost) + ", " + channel.last.Describe();
}

void CCaptureRun::StopCameras() {
    // Each stop waits for its channel's session to end; a server holding many cameras stops them
    // side by side rather than one after another.
    std::atomic<std::size_t> next{0};
    auto stopSome = [&] {
        for (std::size_t i = next++; i < m_cameras.size(); i = next++) StopCamera(m_cameras[i]);
    };
    std::vector<std::thread> stoppers;
    const std::size_t helpers = std::min<std::size_t>(m_cameras.size(), kStoppingThreads) - 1;
    for (std::size_t i = 0; i < helpers; ++i) stoppers.emplace_back(stopSome);
    stopSome();
    for (std::thread& stopper : stoppers) stopper.join();
}

void CCaptureRun::StopCamera(CaptureCamera& camera) {
    if (camera.initialised) {
        IIPVideoCapture* capture = camera.driver->GetVideoCapture();
        for (const CaptureChannel& channel : camera.channels) capture->StopChannel(channel.index);
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
            totals.Add(channel.sink->Counters(), channel.last);
            complete = SummariseChannel(channel, seconds, listed) && complete;
        }
    }
    if (ChannelCount() > 1 && !totals.firstFrames.empty()) m_console.Message(totals.Line(seconds));
    return complete;
}

bool CCaptureRun::SummariseChannel(const CaptureChannel& channel, double seconds, bool listed) {
    const SinkCounters counters = channel.sink->Counters();
    if (counters.frames == 0) {
        const std::string& condition = channel.last.status.condition;
        m_console.Error("quillon-capture: no video from " + CameraAddress(m_prepared.camera) + " " +
                        channel.label + " within " + Fixed(seconds, 1) + " s: " +
                        (condition.empty() ? channel.last.Describe() : condition));
        return false;
    }
    if (counters.writeFailed) {
        m_console.Error("quillon-capture: " + channel.label + ": writing " + channel.sink->Path() + " failed");
    }
    if (!listed) return !counters.writeFailed;
    const double first = counters.firstFrameMs / 1000.0;
    // From the first frame to the last: the channels of a camera stop one after another, and
    // frames keep coming until each has stopped.
    const double video = std::max((counters.lastFrameMs - counters.firstFrameMs) / 1000.0, 0.001);
    const double rate = counters.frames > 1 ? (counters.frames - 1) / video : 0;
    std::string line = channel.label + ": " + std::to_string(counters.frames) + " frames (" +
                       std::to_string(counters.keyFrames) + " key) in " + Fixed(video, 1) + " s, " +
                       Fixed(rate, 1) + " fps, " + Mbits(counters.written, video) + ", " +
                       Megabytes(counters.written) + "; first frame after " + Fixed(first, 2) +
                       " s; losses: " + FormatLosses(channel.last.status.losses);
    if (counters.skipped) {
        line += "; " + std::to_string(counters.skipped) + " frames before the first key frame not written";
    }
    if (counters.signalLost) line += "; signal lost " + std::to_string(counters.signalLost) + " times";
    m_console.Message(line);
    const std::string& path = channel.sink->Path();
    if (m_options.frames == FrameOutput::kStream) {
        // The rate that arrived: the camera may stream slower than asked (MJPEG over HTTP does).
        const long fps = std::max(1L, std::lround(rate));
        m_console.Message("  file " + path + ", play it with: ffplay -framerate " + std::to_string(fps) + " " +
                          path + " (or open it in VLC)");
    } else if (m_options.frames == FrameOutput::kJpegPerFrame) {
        m_console.Message("  pictures " + path + "-000001.jpg and on");
    }
    return !counters.writeFailed;
}

std::string CCaptureRun::FilePath(std::uint32_t camera, std::uint32_t channel) const {
    std::string path = m_options.output;
    if (m_options.cameras > 1) path += "-cam" + std::to_string(camera + 1);
    if (m_prepared.camera.channelCount > 1) path += "-ch" + std::to_string(channel + 1);
    if (m_options.frames == FrameOutput::kJpegPerFrame) return path;
    return path + StreamExtension(m_prepared.camera.codec);
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
    CConsole console(!options.quiet && kestrel::platform::PrepareTerminalOutput());
    SimulatedCameraRequest request;
    request.codec = options.target.camera.codec;
    request.width = options.channel.width;
    request.height = options.channel.height;
    request.frameRate = (1000 + options.channel.frameInterval / 2) / options.channel.frameInterval;
    request.quality = options.channel.quality;
    PreparedCamera prepared;
    std::string error;
    if (!PrepareCamera(options.target, request, console, &prepared, &error)) {
        console.Error("quillon-capture: " + error);
        return kExitFailure;
    }
    console.Message("capturing from " + CameraAddress(prepared.camera) + ": " +
                    std::to_string(options.cameras) + " camera(s) x " +
                    std::to_string(prepared.camera.channelCount) + " channel(s), " +
                    CodecName(prepared.camera) + " " + std::to_string(options.channel.width) + "x" +
                    std::to_string(options.channel.height) + " every " +
                    std::to_string(options.channel.frameInterval) + " ms" +
                    (options.seconds > 0 ? " for " + Fixed(options.seconds, 1) + " s" : ", Ctrl-C stops"));
    CCaptureRun run(options, prepared, console);
    return run.Run();
}

}  // namespace quillon_capture
