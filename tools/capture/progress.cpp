#include "capture/progress.h"

#include <cctype>
#include <cstdio>

namespace quillon_capture {

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(byte));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

bool IsIdentifier(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The length of a leading "kestrel::CClass::Function: ", or 0.
std::size_t FunctionNameLength(const std::string& text) {
    std::size_t at = 0;
    bool qualified = false;
    while (at < text.size() && (IsIdentifier(text[at]) || text.compare(at, 2, "::") == 0)) {
        qualified = qualified || text[at] == ':';
        at += text[at] == ':' ? 2 : 1;
    }
    return qualified && text.compare(at, 2, ": ") == 0 ? at + 2 : 0;
}

// "(channel 0)" becomes "(channel 1)".
std::string ChannelsFromOne(std::string text) {
    const std::string marker = "(channel ";
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        const std::size_t digits = at + marker.size();
        std::size_t end = digits;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) && end - digits < 9) ++end;
        if (end == digits || end >= text.size() || text[end] != ')') continue;
        text.replace(digits, end - digits, std::to_string(std::stoul(text.substr(digits, end - digits)) + 1));
    }
    return text;
}

}  // namespace

const char* StateName(std::uint32_t state) {
    switch (state) {
        case 0: return "streaming";
        case 2: return "no frames";
        case 3: return "not connected";
        default: return "unknown";
    }
}

std::string ProgressLine(const ChannelProgress& p) {
    std::string line = p.label + ": " + Fixed(p.framesPerSecond, 1) + " fps, " + Fixed(p.bitsPerSecond / 1e6, 2) +
                       " Mbit/s, " + Fixed(p.bytes / 1e6, 1) + " MB, " + std::to_string(p.keyFrames) +
                       " key, frames missing " + std::to_string(p.framesMissing);
    if (p.losses) line += ", sequence gaps " + std::to_string(p.losses->gaps);
    if (!p.state) return line + ", no channel in the driver";
    // The driver's condition says more than the state's word when it says anything.
    return line + ", " + (p.status.empty() ? std::string(StateName(*p.state)) : p.status);
}

std::string ProgressJson(const ChannelProgress& p) {
    std::string json = "{\"channel\":" + JsonString(p.label) + ",\"time\":" + Fixed(p.seconds, 1) +
                       ",\"fps\":" + Fixed(p.framesPerSecond, 2) + ",\"bitrate\":" + Fixed(p.bitsPerSecond, 0) +
                       ",\"frames\":" + std::to_string(p.frames) + ",\"key_frames\":" + std::to_string(p.keyFrames) +
                       ",\"bytes\":" + std::to_string(p.bytes) +
                       ",\"frames_missing\":" + std::to_string(p.framesMissing);
    if (p.losses) {
        json += ",\"sequence_gaps\":" + std::to_string(p.losses->gaps) + ",\"refused\":" +
                std::to_string(p.losses->refused) + ",\"no_buffer\":" + std::to_string(p.losses->noBuffer) +
                ",\"kernel_drops\":" +
                (p.losses->kernelDrops ? std::to_string(*p.losses->kernelDrops) : std::string("null"));
    }
    if (p.state) {
        json += ",\"state\":" + std::to_string(*p.state) + ",\"state_name\":" + JsonString(StateName(*p.state));
    } else {
        json += ",\"state\":null";
    }
    return json + ",\"status\":" + JsonString(p.status) + "}";
}

std::string FitToWidth(const std::string& line, int columns) {
    if (columns <= 0 || line.size() < std::size_t(columns)) return line;
    if (columns < 4) return line.substr(0, std::size_t(columns - 1));
    return line.substr(0, std::size_t(columns) - 4) + "...";
}

std::string DriverMessage(std::uint32_t level, const std::string& text) {
    const std::string word = level == 1   ? "driver error"
                             : level == 2 ? "driver info"
                                          : "driver level " + std::to_string(level);
    return word + ": " + ChannelsFromOne(text.substr(FunctionNameLength(text)));
}

}  // namespace quillon_capture
