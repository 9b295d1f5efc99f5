// The camera's digital inputs and outputs. Inputs change on command or, when a toggle period is
// set, all flip together on that schedule (measured from construction); outputs keep the last
// state written and record every trigger. Thread-safe: one mutex guards everything.
//
// States are the camera's codes: 1 inactive, 2 active.
#ifndef QUILLON_TOOLS_CAMSIM_IO_PORTS_H
#define QUILLON_TOOLS_CAMSIM_IO_PORTS_H

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace camsim {

constexpr unsigned kIoInactive = 1;
constexpr unsigned kIoActive = 2;

struct OutputTrigger {
    unsigned port = 0;  // 1-based, as in the document
    unsigned state = 0;
    std::chrono::steady_clock::time_point when;
};

class IoPorts {
public:
    IoPorts(unsigned inputs, unsigned outputs, unsigned toggleMs);

    unsigned InputCount() const { return static_cast<unsigned>(m_inputs.size()); }
    unsigned OutputCount() const { return static_cast<unsigned>(m_outputs.size()); }
    // False for a port that does not exist (1-based) or a state other than 1 or 2.
    bool SetInput(unsigned port, unsigned state);
    std::vector<unsigned> Inputs();
    std::vector<unsigned> Outputs();
    bool Trigger(unsigned port, unsigned state);
    std::vector<OutputTrigger> Triggers();

private:
    void ApplySchedule();  // caller holds m_lock

    std::mutex m_lock;
    std::vector<unsigned> m_inputs;
    std::vector<unsigned> m_outputs;
    std::vector<OutputTrigger> m_triggers;
    std::chrono::milliseconds m_togglePeriod;
    std::chrono::steady_clock::time_point m_start;
    std::int64_t m_togglesApplied = 0;
};

}  // namespace camsim

#endif
