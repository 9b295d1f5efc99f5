#include "channels/channel_status.h"

#include <chrono>

#include "runtime/string_helpers.h"
#include "webapi/cisco_client.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kRateWindowMs = 1000;

std::uint64_t SteadyMilliseconds() {
    return std::uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count());
}

void Add(std::atomic<std::uint64_t>& counter, std::uint64_t amount) {
    counter.fetch_add(amount, std::memory_order_relaxed);
}

std::uint64_t Read(const std::atomic<std::uint64_t>& counter) {
    return counter.load(std::memory_order_relaxed);
}

}  // namespace

void CChannelStatus::CountPacket(std::uint32_t payloadBytes) {
    Add(m_packets, 1);
    Add(m_payloadBytes, payloadBytes);
}

void CChannelStatus::CountGap() { Add(m_gaps, 1); }
void CChannelStatus::CountFrame() { Add(m_frames, 1); }
void CChannelStatus::CountRefused() { Add(m_refused, 1); }
void CChannelStatus::CountNoBuffer() { Add(m_noBuffer, 1); }
void CChannelStatus::CountForeign() { Add(m_foreign, 1); }
void CChannelStatus::CountMalformedRtcp() { Add(m_malformedRtcp, 1); }

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
    m_packetsAtConnect.store(Read(m_packets), std::memory_order_relaxed);
    m_framesAtConnect.store(Read(m_frames), std::memory_order_relaxed);
    ClearFailure();
}

void CChannelStatus::NoteStall(std::uint32_t seconds, const std::string& address, bool rtp) {
    const bool packetsArrive = Read(m_packets) != m_packetsAtConnect.load(std::memory_order_relaxed);
    const char* reason = !rtp            ? "the stream carries no picture"
                         : packetsArrive ? "packets arrive but make no frame"
                                         : "no RTP arrives; UDP blocked?";
    std::string stall = FormatString("no frames for %u s from %s (%s)", unsigned(seconds), address.c_str(), reason);
    std::lock_guard<std::mutex> guard(m_lock);
    m_stall = std::move(stall);
    m_framesAtStall = Read(m_frames);
}

std::string CChannelStatus::Describe(const ChannelView& view) {
    const std::uint64_t now = SteadyMilliseconds();
    std::lock_guard<std::mutex> guard(m_lock);
    return Condition(view, now) + " | " + Counters();
}

std::string CChannelStatus::Condition(const ChannelView& view, std::uint64_t nowMs) {
    const std::uint64_t frames = Read(m_frames);
    const std::uint64_t bytes = Read(m_payloadBytes);
    if (nowMs - m_rateStartMs >= kRateWindowMs) {
        const double seconds = double(nowMs - m_rateStartMs) / 1000.0;
        if (m_rateStartMs != 0) {
            m_framesPerSecond = double(frames - m_rateStartFrames) / seconds;
            m_bitsPerSecond = double(bytes - m_rateStartBytes) * 8.0 / seconds;
        }
        m_rateStartMs = nowMs;
        m_rateStartFrames = frames;
        m_rateStartBytes = bytes;
    }

    const bool framesSinceConnect = frames != m_framesAtConnect.load(std::memory_order_relaxed);
    if (view.state == 0 && framesSinceConnect) {
        return FormatString("streaming %s %ux%u %.1f fps %.1f Mbit/s", view.codecName, unsigned(view.width),
                            unsigned(view.height), m_framesPerSecond, m_bitsPerSecond / 1e6);
    }
    if (!view.running) return "stopped";
    if (!m_failure.empty()) return "connecting: " + m_failure;
    if (!m_stall.empty() && frames == m_framesAtStall) return m_stall;
    return view.state == 0 ? "connected, waiting for the first frame" : "connecting";
}

std::string CChannelStatus::Counters() const {
    const unsigned long long kernelDrops =
        Read(m_kernelDropsClosed) + m_kernelDropsOpen.load(std::memory_order_relaxed);
    return FormatString(
        "packets %llu, gaps %llu, frames %llu, refused %llu, no buffer %llu, kernel drops %llu, foreign %llu, "
        "bad RTCP %llu",
        (unsigned long long)Read(m_packets), (unsigned long long)Read(m_gaps), (unsigned long long)Read(m_frames),
        (unsigned long long)Read(m_refused), (unsigned long long)Read(m_noBuffer), kernelDrops,
        (unsigned long long)Read(m_foreign), (unsigned long long)Read(m_malformedRtcp));
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

std::string DescribeLoginFailure(CCiscoClient& client) {
    const std::string algorithm = client.GetUnansweredDigestAlgorithm();
    if (!algorithm.empty()) {
        return "web API login refused: camera asks for " + algorithm +
               " Digest, which this platform's HTTP stack lacks";
    }
    return DescribeWebFailure("web API login", client);
}

}  // namespace kestrel
