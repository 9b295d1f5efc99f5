// The status line a channel gives through GetChannelState: its condition, then " | " and
// counters as "name N" pairs separated by ", ", for example
//   "streaming H.264 704x576 25.0 fps 3.9 Mbit/s | packets 12034, gaps 0, frames 250, ..."
#ifndef QUILLON_TOOLS_CAPTURE_CHANNEL_STATUS_H
#define QUILLON_TOOLS_CAPTURE_CHANNEL_STATUS_H

#include <cstdint>
#include <optional>
#include <string>

namespace quillon_capture {

// The losses a channel counts, by cause.
struct ChannelLosses {
    std::uint64_t gaps = 0;         // RTP sequence gaps
    std::uint64_t refused = 0;      // frames the host refused
    std::uint64_t noBuffer = 0;     // frames dropped for want of a pool buffer
    // Datagrams the kernel dropped; absent where that does not apply (RTP over TCP) or is not
    // reported. A sum has it when any of its parts has.
    std::optional<std::uint64_t> kernelDrops;

    std::uint64_t Total() const { return gaps + refused + noBuffer + kernelDrops.value_or(0); }
    ChannelLosses& operator+=(const ChannelLosses& other);
};

struct ChannelStatus {
    std::string condition;  // the text before " | ", or all of it
    std::optional<ChannelLosses> losses;  // absent when the text carries no loss counter
};

// Never fails: a text without " | " is all condition; counters that do not read as
// "name N" and names not known here are skipped.
ChannelStatus ParseChannelStatus(const std::string& text);

// "gaps 0, refused 0, no buffer 0, kernel drops 0" ("kernel drops n/a" when absent), or
// "not reported".
std::string FormatLosses(const std::optional<ChannelLosses>& losses);

}  // namespace quillon_capture

#endif
