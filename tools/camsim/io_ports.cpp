#include "camsim/io_ports.h"

namespace camsim {
namespace {

// Enough to show a test what happened without growing for ever under a busy client.
constexpr std::size_t kMaxTriggers = 10000;

bool IsState(unsigned state) { return state == kIoInactive || state == kIoActive; }

}  // namespace

IoPorts::IoPorts(unsigned inputs, unsigned outputs, unsigned toggleMs)
    : m_inputs(inputs, kIoInactive),
      m_outputs(outputs, kIoInactive),
      m_togglePeriod(toggleMs),
      m_start(std::chrono::steady_clock::now()) {}

void IoPorts::ApplySchedule() {
    if (m_togglePeriod.count() == 0) return;
    std::int64_t due = (std::chrono::steady_clock::now() - m_start) / m_togglePeriod;
    for (; m_togglesApplied < due; ++m_togglesApplied)
        for (unsigned& state : m_inputs) state = state == kIoActive ? kIoInactive : kIoActive;
}

bool IoPorts::SetInput(unsigned port, unsigned state) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (port == 0 || port > m_inputs.size() || !IsState(state)) return false;
    ApplySchedule();
    m_inputs[port - 1] = state;
    return true;
}

std::vector<unsigned> IoPorts::Inputs() {
    std::lock_guard<std::mutex> guard(m_lock);
    ApplySchedule();
    return m_inputs;
}

std::vector<unsigned> IoPorts::Outputs() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_outputs;
}

bool IoPorts::Trigger(unsigned port, unsigned state) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (port == 0 || port > m_outputs.size() || !IsState(state)) return false;
    m_outputs[port - 1] = state;
    if (m_triggers.size() == kMaxTriggers) m_triggers.erase(m_triggers.begin());
    m_triggers.push_back({port, state, std::chrono::steady_clock::now()});
    return true;
}

std::vector<OutputTrigger> IoPorts::Triggers() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_triggers;
}

}  // namespace camsim
