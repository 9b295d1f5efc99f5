#include "channels/channel_status.h"

#include <algorithm>

#include "platform/clock.h"
#include "runtime/string_helpers.h"
#include "webapi/cisco_client.h"

namespace kestrel {
namespace {

void Add(std::atomic<std::uint64_t>& counter, std::uint64_t amount) {
    counter.fetch_add(amount, std::memory_order_relaxed);
}

std::uint64_t Read(const std::atomic<std::uint64_t>& counter) {
    return counter.load(std::memory_order_relaxed);
}

}  // namespace

CChannelStatus::CChannelStatus(Clock clock) : m_clock(clock ? clock : platform::MonotonicMilliseconds) {}

CChannelStatus::Bucket& CChannelStatus::CurrentBucket() {
    const std::uint64_t second = m_clock() / 1000;
    Bucket& bucket = m_buckets[second % kBuckets];
    if (bucket.second.load(std::memory_order_acquire) != second) {
        bucket.packets.store(0, std::memory_order_relaxed);
        bucket.bytes.store(0, std::memory_order_relaxed);
        bucket.frames.store(0, std::memory_order_relaxed);
        bucket.foreign.store(0, std::memory_order_relaxed);
        bucket.second.store(second, std::memory_order_release);
    }
    return bucket;
}

void CChannelStatus::CountPacket(std::uint32_t payloadBytes) {
    Add(m_packets, 1);
    Add(m_payloadBytes, payloadBytes);
    Bucket& bucket = CurrentBucket();
    Add(bucket.packets, 1);
    Add(bucket.bytes, payloadBytes);
}

void CChannelStatus::CountFrame(std::uint32_t width, std::uint32_t height) {
    Add(m_frames, 1);
    Add(CurrentBucket().frames, 1);
    m_pictureSize.store(std::uint64_t(width) << 32 | height, std::memory_order_relaxed);
}

void CChannelStatus::CountForeign() {
    Add(m_foreign, 1);
    Add(CurrentBucket().foreign, 1);
}

void CChannelStatus::CountGap() { Add(m_gaps, 1); }
void CChannelStatus::CountRefused() { Add(m_refused, 1); }
void CChannelStatus::CountNoBuffer() { Add(m_noBuffer, 1); }
void CChannelStatus::CountMalformedRtcp() { Add(m_malformedRtcp, 1); }
void CChannelStatus::CountResync() { Add(m_resyncs, 1); }

void CChannelStatus::SetKernelDrops(std::uint32_t dropsOnSocket) {
    m_kernelDropsOpen.store(dropsOnSocket, std::memory_order_relaxed);
}

void CChannelStatus::CloseSocketCount() {
    Add(m_kernelDropsClosed, m_kernelDropsOpen.exchange(0, std::memory_order_relaxed));
}

void CChannelStatus::SetFailure(std::string failure) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failure = std::move(failure);
}

void CChannelStatus::ClearFailure() { SetFailure(std::string()); }

void CChannelStatus::MarkConnected() {
    m_framesAtConnect.store(Read(m_frames), std::memory_order_relaxed);
    m_connectedMs.store(m_clock(), std::memory_order_relaxed);
    ClearFailure();
}

CChannelStatus::Activity CChannelStatus::Recent(std::uint64_t nowMs, std::uint64_t sinceMs) const {
    const std::uint64_t now = nowMs / 1000;
    const std::uint64_t first = std::max(sinceMs / 1000, now >= kWindowSeconds ? now - kWindowSeconds : 0);
    Activity activity;
    for (const Bucket& bucket : m_buckets) {
        const std::uint64_t second = bucket.second.load(std::memory_order_acquire);
        if (second < first || second > now) continue;
        Activity read{Read(bucket.packets), Read(bucket.bytes), Read(bucket.frames), Read(bucket.foreign)};
        // A slot reused while it was read holds another second's counts.
        if (bucket.second.load(std::memory_order_acquire) != second) continue;
        activity.packets += read.packets;
        activity.bytes += read.bytes;
        activity.frames += read.frames;
        activity.foreign += read.foreign;
    }
    return activity;
}

std::string CChannelStatus::Describe(const ChannelView& view) {
    const std::uint64_t now = m_clock();
    return Condition(view, now) + " | " + Counters(view);
}

// The text follows the state code: 0 is connected (streaming, or saying how long it has not),
// 2 is the frame time-out, 3 is connecting; each with the facts of the last seconds.
std::string CChannelStatus::Condition(const ChannelView& view, std::uint64_t nowMs) {
    std::string failure;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        failure = m_failure;
    }
    if (!view.running) return view.startFailed && !failure.empty() ? "not started: " + failure : "stopped";
    const bool framesSinceConnect = Read(m_frames) != m_framesAtConnect.load(std::memory_order_relaxed);
    if (view.state == 0) {
        if (view.sinceFrameMs >= kQuietMs) return "connected, " + NoFrames(view, nowMs, failure);
        return framesSinceConnect ? Streaming(view, nowMs) : "connected, waiting for the first frame";
    }
    if (view.state == 2) return NoFrames(view, nowMs, failure);
    if (!failure.empty()) return "connecting: " + failure;
    // Reconnecting after a connection that brought no frames: how long there have been none.
    const std::uint64_t connected = m_connectedMs.load(std::memory_order_relaxed);
    const bool connectedSinceFrame = connected != 0 && connected + view.sinceFrameMs >= nowMs;
    if (view.sinceFrameMs >= kQuietMs && connectedSinceFrame) return "connecting, " + NoFrames(view, nowMs, failure);
    return "connecting";
}

std::string CChannelStatus::Streaming(const ChannelView& view, std::uint64_t nowMs) const {
    const std::uint64_t connected = m_connectedMs.load(std::memory_order_relaxed);
    const Activity recent = Recent(nowMs, connected);
    // Measured from the window's first second, or from the connection when that came later.
    const std::uint64_t windowStart = (nowMs / 1000 >= kWindowSeconds ? nowMs / 1000 - kWindowSeconds : 0) * 1000;
    const double seconds = double(std::max<std::uint64_t>(nowMs - std::max(windowStart, connected), 1000)) / 1000.0;
    const std::uint64_t size = m_pictureSize.load(std::memory_order_relaxed);
    std::string text = FormatString("streaming %s %ux%u %.1f fps %.1f Mbit/s", view.codecName, unsigned(size >> 32),
                                    unsigned(size & 0xFFFFFFFFu), double(recent.frames) / seconds,
                                    double(recent.bytes) * 8.0 / seconds / 1e6);
    if (!view.tcpReason.empty()) text += " over TCP (" + view.tcpReason + ")";
    return text;
}

// The reason is the last attempt's failure when there is one, else what arrived after the last
// frame, from the second after its own.
std::string CChannelStatus::NoFrames(const ChannelView& view, std::uint64_t nowMs, const std::string& failure) const {
    const std::uint64_t lastFrame = nowMs > view.sinceFrameMs ? nowMs - view.sinceFrameMs : 0;
    const Activity recent = Recent(nowMs, (lastFrame / 1000 + 1) * 1000);
    std::string reason = failure;
    if (!reason.empty()) {
    } else if (!view.rtp) {
        reason = recent.packets != 0 ? "the stream carries no picture" : "the stream sends nothing";
    } else if (recent.packets != 0) {
        reason = "packets arrive but make no frame";
    } else if (recent.foreign != 0) {
        reason = "only foreign packets arrive";
    } else if (!view.tcpReason.empty()) {
        reason = "no RTP arrives over TCP";
    } else {
        reason = "no RTP arrives; UDP blocked?";
    }
    return FormatString("no frames for %u s from %s (%s)", unsigned(view.sinceFrameMs / 1000), view.address.c_str(),
                        reason.c_str());
}

std::string CChannelStatus::Counters(const ChannelView& view) const {
    // Over TCP nothing is dropped by the kernel: the camera's connection slows down instead.
    const std::string kernelDrops =
        view.tcpReason.empty()
            ? std::to_string(Read(m_kernelDropsClosed) + m_kernelDropsOpen.load(std::memory_order_relaxed))
            : std::string("n/a");
    std::string text = FormatString(
        "packets %llu, gaps %llu, frames %llu, refused %llu, no buffer %llu, kernel drops %s, foreign %llu, "
        "bad RTCP %llu",
        (unsigned long long)Read(m_packets), (unsigned long long)Read(m_gaps), (unsigned long long)Read(m_frames),
        (unsigned long long)Read(m_refused), (unsigned long long)Read(m_noBuffer), kernelDrops.c_str(),
        (unsigned long long)Read(m_foreign), (unsigned long long)Read(m_malformedRtcp));
    if (!view.tcpReason.empty()) text += FormatString(", resyncs %llu", (unsigned long long)Read(m_resyncs));
    return text;
}

std::string DescribeWebFailure(const char* step, CCiscoClient& client) {
    switch (client.GetLastAnswerProblem()) {
        case CCiscoClient::AnswerProblem::kTooLarge: return FormatString("%s failed: answer too large", step);
        case CCiscoClient::AnswerProblem::kTooManyStreams:
            return FormatString("%s failed: more than %u streams in the answer", step,
                                unsigned(CCiscoClient::kMaxStreamingChannels));
        case CCiscoClient::AnswerProblem::kNone: break;
    }
    const std::uint32_t httpStatus = client.GetLastHttpStatus();
    if (httpStatus == 0) return FormatString("%s failed: camera unreachable or not answering", step);
    if (httpStatus == 200) return FormatString("%s refused by the camera", step);
    return FormatString("%s refused (HTTP %u)", step, httpStatus);
}

std::string DescribeThreadFailure(const char* thread) {
    return FormatString("%s could not be created (the process is out of threads or address space)", thread);
}

std::string DescribeLoginFailure(CCiscoClient& client) {
    const std::string algorithm = client.GetUnansweredDigestAlgorithm();
    if (!algorithm.empty()) {
        return "web API login refused: camera asks for " + algorithm +
               " Digest, which this platform's HTTP stack lacks";
    }
    return DescribeWebFailure("web API login", client);
}

}  // namespace kestrel
