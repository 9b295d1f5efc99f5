#include "camsim/faults.h"

namespace camsim {
namespace {

std::string Key(Protocol protocol, const std::string& request) {
    return (protocol == Protocol::kHttp ? "H " : "R ") + request;
}

double Clamp(double rate) { return rate < 0 ? 0 : rate > 1 ? 1 : rate; }

}  // namespace

void Faults::SetRates(double loss, double reorder, double duplicate) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_loss = Clamp(loss);
    m_reorder = Clamp(reorder);
    m_duplicate = Clamp(duplicate);
}

PacketFate Faults::NextPacketFate() {
    std::lock_guard<std::mutex> guard(m_lock);
    PacketFate fate;
    if (m_loss == 0 && m_reorder == 0 && m_duplicate == 0) return fate;
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    fate.drop = uniform(m_random) < m_loss;
    fate.duplicate = !fate.drop && uniform(m_random) < m_duplicate;
    fate.holdBack = !fate.drop && uniform(m_random) < m_reorder;
    return fate;
}

void Faults::SetAnswer(Protocol protocol, const std::string& request, const AnswerOverride& answer) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_answers[Key(protocol, request)] = answer;
}

void Faults::ClearAnswers() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_answers.clear();
}

AnswerOverride Faults::AnswerFor(Protocol protocol, const std::string& request) {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_requestCounts[Key(protocol, request)];
    auto found = m_answers.find(Key(protocol, request));
    if (found == m_answers.end()) found = m_answers.find(Key(protocol, "*"));
    return found == m_answers.end() ? AnswerOverride() : found->second;
}

unsigned Faults::RequestCount(Protocol protocol, const std::string& request) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_requestCounts.find(Key(protocol, request));
    return found == m_requestCounts.end() ? 0 : found->second;
}

void Faults::PauseStreams(std::chrono::milliseconds duration) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pausedUntil = Clock::now() + duration;
}

bool Faults::StreamsPaused() {
    std::lock_guard<std::mutex> guard(m_lock);
    return Clock::now() < m_pausedUntil;
}

void Faults::SetReportedInputCount(std::optional<unsigned> count) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_reportedInputs = count;
}

std::optional<unsigned> Faults::ReportedInputCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_reportedInputs;
}

void Faults::Set(Switch which, bool on) {
    const unsigned bit = 1u << static_cast<unsigned>(which);
    std::lock_guard<std::mutex> guard(m_lock);
    m_switches = on ? m_switches | bit : m_switches & ~bit;
}

bool Faults::IsOn(Switch which) {
    std::lock_guard<std::mutex> guard(m_lock);
    return (m_switches >> static_cast<unsigned>(which)) & 1u;
}

void Faults::ClearAll() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_loss = m_reorder = m_duplicate = 0;
    m_answers.clear();
    m_pausedUntil = {};
    m_reportedInputs.reset();
    m_switches = 0;
}

}  // namespace camsim
