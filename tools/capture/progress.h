// What the capture shows while it runs: one channel's figures of the last second as a progress
// line or as a JSON object, and the driver's messages as a site engineer reads them.
#ifndef QUILLON_TOOLS_CAPTURE_PROGRESS_H
#define QUILLON_TOOLS_CAPTURE_PROGRESS_H

#include <cstdint>
#include <optional>
#include <string>

#include "capture/channel_status.h"

namespace quillon_capture {

struct ChannelProgress {
    std::string label;           // "channel 2", "camera 3 channel 1"
    double seconds = 0;          // since the capture started
    double framesPerSecond = 0;  // over the last second
    double bitsPerSecond = 0;
    std::uint64_t frames = 0;
    std::uint64_t keyFrames = 0;
    std::uint64_t bytes = 0;
    std::uint64_t framesMissing = 0;  // estimated from the arrival times
    std::optional<ChannelLosses> losses;  // as the driver counts them; absent when not reported
    std::optional<std::uint32_t> state;   // absent when the driver holds no such channel
    std::string status;                   // the driver's condition text
};

// "channel 1: 25.0 fps, 3.90 Mbit/s, 12.3 MB, 50 key, frames missing 0, sequence gaps 0, ..."
std::string ProgressLine(const ChannelProgress& progress);
// One line of JSON with the same figures.
std::string ProgressJson(const ChannelProgress& progress);

// "streaming", "no frames", "not connected".
const char* StateName(std::uint32_t state);

// At most `columns` - 1 characters (a line as wide as the terminal wraps on some terminals);
// unchanged when `columns` is 0 (no terminal).
std::string FitToWidth(const std::string& line, int columns);

// A driver message as the program prints it: the level as a word, without the name of the
// reporting function, with the driver's channels (from 0) counted from 1 as the program counts.
std::string DriverMessage(std::uint32_t level, const std::string& text);

}  // namespace quillon_capture

#endif
