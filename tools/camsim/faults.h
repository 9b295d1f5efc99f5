// The faults a test or the control port can switch on. One object per simulator, shared by the
// servers and the pacers; every member function is thread-safe (one mutex).
//
// Requests are named for answer overrides: HTTP by its document ("login" and "logout" for the
// two System.xml actions, "video.mjpeg" for the MJPEG stream), RTSP by its method word. "*"
// matches every request of its protocol.
#ifndef QUILLON_TOOLS_CAMSIM_FAULTS_H
#define QUILLON_TOOLS_CAMSIM_FAULTS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>

namespace camsim {

enum class Protocol { kHttp, kRtsp };

// How one request is answered instead of normally.
struct AnswerOverride {
    int status = 0;      // 0 keeps the normal status
    int delayMs = 0;     // wait before answering
    bool never = false;  // never answer: the connection stays open and silent
    bool garbage = false;  // random bytes instead of the answer
    int trickleMs = 0;     // HTTP: the answer goes out one byte at a time, this far apart
    std::size_t padBytes = 0;  // HTTP: the body grows by this many bytes (an XML comment)
};

// Faults that are simply on or off.
enum class Switch {
    kRefuseUdp,     // SETUP for RTP over UDP is answered 461
    kBlackholeUdp,  // RTP and RTCP over UDP go nowhere, both ways; the RTSP session works
    kStallRtsp,     // RTSP connections are neither read nor written
    kRefuseTcp,     // SETUP for RTP over TCP is answered 461
    kRefuseWith406,  // those refusals are answered 406 instead
};

// What happens to one outgoing RTP packet.
struct PacketFate {
    bool drop = false;
    bool duplicate = false;
    bool holdBack = false;  // sent after the next one
};

class Faults {
public:
    using Clock = std::chrono::steady_clock;

    explicit Faults(std::uint32_t seed = 1) : m_random(seed) {}

    void SetRates(double loss, double reorder, double duplicate);
    PacketFate NextPacketFate();

    void SetAnswer(Protocol protocol, const std::string& request, const AnswerOverride& answer);
    void ClearAnswers();
    // Also counts the request, for RequestCount.
    AnswerOverride AnswerFor(Protocol protocol, const std::string& request);
    // How many requests of that name arrived since the simulator started.
    unsigned RequestCount(Protocol protocol, const std::string& request);

    void PauseStreams(std::chrono::milliseconds duration);
    bool StreamsPaused();

    // How many input ports IOPortStatus.xml lists instead of the configured count.
    void SetReportedInputCount(std::optional<unsigned> count);
    std::optional<unsigned> ReportedInputCount();

    void Set(Switch which, bool on);
    bool IsOn(Switch which);

    void ClearAll();

private:
    std::mutex m_lock;
    std::mt19937 m_random;
    double m_loss = 0, m_reorder = 0, m_duplicate = 0;
    std::map<std::string, AnswerOverride> m_answers;  // key: "H " or "R " and the request name
    std::map<std::string, unsigned> m_requestCounts;  // same keys
    Clock::time_point m_pausedUntil{};
    std::optional<unsigned> m_reportedInputs;
    unsigned m_switches = 0;  // a bit per Switch
};

}  // namespace camsim

#endif
