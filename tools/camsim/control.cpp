// The control commands, one line each, shared by the control port and the command's options.
// Every answer is one line starting with "OK" or "ERR".
#include <sstream>

#include "camsim/camera_simulator.h"
#include "camsim/text.h"

namespace camsim {
namespace {

constexpr const char* kHelp =
    "OK rates LOSS REORDER DUPLICATE | pause SECONDS | drop-rtsp | end-web-sessions | old-stream PORT SECONDS | "
    "status http|rtsp REQUEST CODE | delay http|rtsp REQUEST MS | never http|rtsp REQUEST | "
    "garbage-answer http|rtsp REQUEST | trickle http REQUEST MS | pad http REQUEST BYTES | count http|rtsp REQUEST | auth http|rtsp SCHEME[:ALGORITHM,...] [NONCE_MS] | "
    "garbage-rtp COUNT | refuse-udp on|off | blackhole-udp on|off | stall-rtsp on|off | refuse-tcp on|off | refuse-with-406 on|off | "
    "bad-frame oversize|channel|garbage | input-count N|off | clear | "
    "input PORT 1|2 | inputs | outputs | triggers | rtcp | streams | sessions | ports";

bool ReadProtocol(const std::string& word, Protocol& protocol) {
    if (word == "http") protocol = Protocol::kHttp;
    else if (word == "rtsp") protocol = Protocol::kRtsp;
    else return false;
    return true;
}

bool ReadOnOff(const std::vector<std::string>& words, bool& on) {
    if (words.size() != 1 || (words[0] != "on" && words[0] != "off")) return false;
    on = words[0] == "on";
    return true;
}

bool ReadBadFrame(const std::vector<std::string>& words, RtspServer::BadFrame& kind) {
    if (words.size() != 1) return false;
    if (words[0] == "oversize") kind = RtspServer::BadFrame::kOversize;
    else if (words[0] == "channel") kind = RtspServer::BadFrame::kChannel;
    else if (words[0] == "garbage") kind = RtspServer::BadFrame::kGarbage;
    else return false;
    return true;
}

std::string Join(const std::vector<unsigned>& values) {
    std::string text;
    for (unsigned value : values) text += " " + std::to_string(value);
    return text;
}

}  // namespace

std::string CameraSimulator::Execute(const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    unsigned a = 0, b = 0;
    Protocol protocol = Protocol::kHttp;
    auto override = [&](AnswerOverride answer) {
        m_faults.SetAnswer(protocol, words[1], answer);
        return std::string("OK");
    };

    if (command == "help") return kHelp;
    if (command == "rates" && words.size() == 3) {
        m_faults.SetRates(std::atof(words[0].c_str()), std::atof(words[1].c_str()), std::atof(words[2].c_str()));
        return "OK";
    }
    if (command == "pause" && words.size() == 1 && ParseNumber(words[0], a)) {
        m_faults.PauseStreams(std::chrono::seconds(a));
        return "OK";
    }
    if (command == "drop-rtsp") {
        m_rtsp->DropConnections();
        return "OK";
    }
    if (command == "end-web-sessions") {
        m_api.EndSessions();
        return "OK";
    }
    if (command == "old-stream" && words.size() == 2 && ParseNumber(words[0], a) && ParseNumber(words[1], b) &&
        a > 0 && a < 65535) {
        std::vector<StreamProfile> streams = m_settings.Streams();
        const MediaClip* clip =
            streams.empty() ? nullptr : m_media.Find(streams[0].videoCodecType, streams[0].width, streams[0].height);
        if (clip == nullptr) return "ERR no media";
        m_streamer.SendOldStream(clip, static_cast<std::uint16_t>(a), std::chrono::seconds(b));
        return "OK";
    }
    if (words.size() >= 2 && ReadProtocol(words[0], protocol)) {
        if (command == "status" && words.size() == 3 && ParseNumber(words[2], a)) {
            AnswerOverride answer;
            answer.status = static_cast<int>(a);
            return override(answer);
        }
        if (command == "delay" && words.size() == 3 && ParseNumber(words[2], a)) {
            AnswerOverride answer;
            answer.delayMs = static_cast<int>(a);
            return override(answer);
        }
        if (command == "trickle" && words.size() == 3 && ParseNumber(words[2], a) && a > 0) {
            AnswerOverride answer;
            answer.trickleMs = static_cast<int>(a);
            return override(answer);
        }
        if (command == "pad" && words.size() == 3 && ParseNumber(words[2], a) && a >= 7) {
            AnswerOverride answer;
            answer.padBytes = a;
            return override(answer);
        }
        if (command == "never" && words.size() == 2) {
            AnswerOverride answer;
            answer.never = true;
            return override(answer);
        }
        if (command == "count" && words.size() == 2) {
            return "OK " + std::to_string(m_faults.RequestCount(protocol, words[1]));
        }
        if (command == "auth" && (words.size() == 2 || words.size() == 3)) {
            AuthSettings settings;
            if (words.size() == 3 && !ParseNumber(words[2], settings.nonceLifetimeMs)) return "ERR nonce lifetime";
            if (!ParseAuthSettings(words[1], settings)) return "ERR scheme";
            (protocol == Protocol::kRtsp ? m_rtsp->Auth() : m_web->Auth()).Configure(settings);
            return "OK";
        }
        if (command == "garbage-answer" && words.size() == 2) {
            AnswerOverride answer;
            answer.garbage = true;
            return override(answer);
        }
    }
    if (command == "garbage-rtp" && words.size() == 1 && ParseNumber(words[0], a)) {
        m_streamer.SendGarbage(a);
        return "OK";
    }
    const std::pair<const char*, Switch> switches[] = {
        {"refuse-udp", Switch::kRefuseUdp}, {"blackhole-udp", Switch::kBlackholeUdp}, {"stall-rtsp", Switch::kStallRtsp},
        {"refuse-tcp", Switch::kRefuseTcp}, {"refuse-with-406", Switch::kRefuseWith406}};
    for (const auto& entry : switches) {
        bool on = false;
        if (command == entry.first && ReadOnOff(words, on)) {
            m_faults.Set(entry.second, on);
            return "OK";
        }
    }
    RtspServer::BadFrame badFrame = RtspServer::BadFrame::kGarbage;
    if (command == "bad-frame" && ReadBadFrame(words, badFrame))
        return m_rtsp->InjectBadFrame(badFrame) ? "OK" : "ERR no connection carries interleaved RTP";
    if (command == "input-count" && words.size() == 1) {
        if (words[0] == "off") m_faults.SetReportedInputCount(std::nullopt);
        else if (ParseNumber(words[0], a) && a <= 64) m_faults.SetReportedInputCount(a);
        else return "ERR count";
        return "OK";
    }
    if (command == "clear") {
        m_faults.ClearAll();
        return "OK";
    }
    if (command == "input" && words.size() == 2 && ParseNumber(words[0], a) && ParseNumber(words[1], b))
        return m_ports.SetInput(a, b) ? "OK" : "ERR port or state";
    if (command == "inputs") return "OK" + Join(m_ports.Inputs());
    if (command == "outputs") return "OK" + Join(m_ports.Outputs());
    if (command == "triggers") {
        std::string text = "OK";
        for (const OutputTrigger& trigger : m_ports.Triggers())
            text += " " + std::to_string(trigger.port) + ":" + std::to_string(trigger.state);
        return text;
    }
    if (command == "rtcp") {
        std::string text = "OK";
        for (const ReceiverReport& report : m_streamer.Reports())
            text += report.bye ? " bye:" + HexText(report.reporterSsrc, 8)
                               : " rr:" + HexText(report.sourceSsrc, 8) + ":lost=" +
                                     std::to_string(report.cumulativeLost) + ":fraction=" +
                                     std::to_string(report.fractionLost) + ":highest=" +
                                     std::to_string(report.highestSequence) + ":jitter=" +
                                     std::to_string(report.jitter);
        return text;
    }
    if (command == "streams") {
        std::string text = "OK";
        for (const StreamCounters& stream : m_streamer.Counters())
            text += " " + HexText(stream.ssrc, 8) + ":packets=" + std::to_string(stream.packets) +
                    ":frames=" + std::to_string(stream.frames) + ":reports=" + std::to_string(stream.receiverReports) +
                    ":client=" +
                    (stream.interleaved ? "tcp/" + std::to_string(stream.rtpChannel) +
                                              ":dropped=" + std::to_string(stream.queueDrops)
                                        : std::to_string(stream.clientPort));
        return text;
    }
    if (command == "sessions") {
        std::string text = "OK rtsp=" + std::to_string(m_rtsp->SessionCount()) + " web=" + std::to_string(m_api.SessionCount());
        for (const std::string& session : m_rtsp->SessionTransports()) text += " " + session;
        return text;
    }
    if (command == "ports")
        return "OK web=" + std::to_string(WebPort()) + " rtsp=" + std::to_string(RtspPort()) +
               " rtp=" + std::to_string(RtpPort()) + " control=" + std::to_string(ControlPort());
    return "ERR unknown command; try help";
}

}  // namespace camsim
