// The arrival times of one channel's frames, reduced to what a site engineer asks of a recording:
// the stream's own rate, the longest time without a frame, and how many frames are missing.
#ifndef QUILLON_TOOLS_CAPTURE_FRAME_TIMING_H
#define QUILLON_TOOLS_CAPTURE_FRAME_TIMING_H

#include <cstdint>
#include <vector>

namespace quillon_capture {

struct TimingFigures {
    std::uint64_t frames = 0;
    double medianIntervalMs = 0;  // 0 before two frames
    std::int64_t longestGapMs = 0;  // the longest time between two frames, or since the last one
    std::uint64_t framesMissing = 0;  // intervals longer than the median, counted in medians

    // Frames per second at the median interval; 0 before two frames.
    double Rate() const { return medianIntervalMs > 0 ? 1000.0 / medianIntervalMs : 0; }
};

// Not thread-safe; the owner guards it. Memory stays bounded by the capture's length divided by
// kLongIntervalMs, however long the capture runs.
class CFrameTiming {
public:
    // Times in milliseconds on one clock, never decreasing.
    void Add(std::int64_t arrivalMs);
    // `nowMs` counts the silence since the last frame as a gap too.
    TimingFigures Figures(std::int64_t nowMs) const;

    // Intervals up to this long are counted per millisecond; longer ones are kept one by one.
    static constexpr std::int64_t kLongIntervalMs = 2000;

private:
    double MedianInterval() const;

    std::uint64_t m_frames = 0;
    std::int64_t m_lastMs = 0;
    std::vector<std::uint32_t> m_shortIntervals = std::vector<std::uint32_t>(kLongIntervalMs + 1);
    std::vector<std::int64_t> m_longIntervals;
};

}  // namespace quillon_capture

#endif
