#include "capture/frame_timing.h"

#include <algorithm>
#include <cmath>

namespace quillon_capture {

namespace {

// An interval counts as holding missing frames from this many medians on: arrival jitter
// stretches single intervals by half a median and more, a lost frame doubles one.
constexpr double kMissingFromMedians = 1.75;

// Frames missing in one interval: how many medians it spans beyond the one it should.
std::uint64_t MissingIn(std::int64_t intervalMs, double median) {
    const double spans = double(intervalMs) / median;
    return spans >= kMissingFromMedians ? std::uint64_t(std::lround(spans) - 1) : 0;
}

}  // namespace

void CFrameTiming::Add(std::int64_t arrivalMs) {
    if (m_frames++ > 0) {
        const std::int64_t interval = std::max<std::int64_t>(arrivalMs - m_lastMs, 0);
        if (interval <= kLongIntervalMs) ++m_shortIntervals[std::size_t(interval)];
        else m_longIntervals.push_back(interval);
    }
    m_lastMs = arrivalMs;
}

double CFrameTiming::MedianInterval() const {
    const std::uint64_t intervals = m_frames - 1;
    // The lower median, so that two rates alternating evenly give the faster one's interval.
    std::uint64_t rank = (intervals - 1) / 2;
    for (std::size_t interval = 0; interval < m_shortIntervals.size(); ++interval) {
        if (rank < m_shortIntervals[interval]) return double(std::max<std::size_t>(interval, 1));
        rank -= m_shortIntervals[interval];
    }
    std::vector<std::int64_t> longOnes = m_longIntervals;
    std::nth_element(longOnes.begin(), longOnes.begin() + std::ptrdiff_t(rank), longOnes.end());
    return double(longOnes[std::size_t(rank)]);
}

TimingFigures CFrameTiming::Figures(std::int64_t nowMs) const {
    TimingFigures figures;
    figures.frames = m_frames;
    if (m_frames == 0) return figures;
    figures.longestGapMs = std::max<std::int64_t>(nowMs - m_lastMs, 0);
    if (m_frames < 2) return figures;
    const double median = MedianInterval();
    figures.medianIntervalMs = median;
    for (std::size_t interval = 0; interval < m_shortIntervals.size(); ++interval) {
        if (m_shortIntervals[interval] == 0) continue;
        figures.longestGapMs = std::max<std::int64_t>(figures.longestGapMs, std::int64_t(interval));
        figures.framesMissing += m_shortIntervals[interval] * MissingIn(std::int64_t(interval), median);
    }
    for (std::int64_t interval : m_longIntervals) {
        figures.longestGapMs = std::max(figures.longestGapMs, interval);
        figures.framesMissing += MissingIn(interval, median);
    }
    return figures;
}

}  // namespace quillon_capture
