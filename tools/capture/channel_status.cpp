#include "capture/channel_status.h"

#include <cctype>

namespace quillon_capture {

namespace {

constexpr const char* kCounterSeparator = " | ";

std::string Trim(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

// "name N": the number is the last word, all digits; the name is everything before it.
bool ReadCounter(const std::string& item, std::string* name, std::uint64_t* value) {
    const std::string counter = Trim(item);
    const std::size_t space = counter.rfind(' ');
    if (space == std::string::npos || space + 1 == counter.size()) return false;
    std::uint64_t number = 0;
    for (std::size_t i = space + 1; i < counter.size(); ++i) {
        const char digit = counter[i];
        if (digit < '0' || digit > '9') return false;
        if (number > (UINT64_MAX - 9) / 10) return false;
        number = number * 10 + std::uint64_t(digit - '0');
    }
    *name = Trim(counter.substr(0, space));
    *value = number;
    return !name->empty();
}

std::uint64_t* LossCounter(ChannelLosses& losses, const std::string& name) {
    if (name == "gaps") return &losses.gaps;
    if (name == "refused") return &losses.refused;
    if (name == "no buffer") return &losses.noBuffer;
    if (name == "kernel drops") {
        losses.kernelDrops = 0;
        return &*losses.kernelDrops;
    }
    return nullptr;
}

}  // namespace

ChannelLosses& ChannelLosses::operator+=(const ChannelLosses& other) {
    gaps += other.gaps;
    refused += other.refused;
    noBuffer += other.noBuffer;
    if (other.kernelDrops) kernelDrops = kernelDrops.value_or(0) + *other.kernelDrops;
    return *this;
}

ChannelStatus ParseChannelStatus(const std::string& text) {
    ChannelStatus status;
    const std::size_t separator = text.find(kCounterSeparator);
    status.condition = Trim(text.substr(0, separator));
    if (separator == std::string::npos) return status;
    const std::string counters = text.substr(separator + std::string(kCounterSeparator).size());
    ChannelLosses losses;
    bool anyLoss = false;
    std::size_t begin = 0;
    while (begin <= counters.size()) {
        std::size_t end = counters.find(',', begin);
        if (end == std::string::npos) end = counters.size();
        std::string name;
        std::uint64_t value = 0;
        if (ReadCounter(counters.substr(begin, end - begin), &name, &value)) {
            if (std::uint64_t* counter = LossCounter(losses, name)) {
                *counter = value;
                anyLoss = true;
            }
        }
        begin = end + 1;
    }
    if (anyLoss) status.losses = losses;
    return status;
}

std::string FormatLosses(const std::optional<ChannelLosses>& losses) {
    if (!losses) return "not reported";
    return "gaps " + std::to_string(losses->gaps) + ", refused " + std::to_string(losses->refused) +
           ", no buffer " + std::to_string(losses->noBuffer) + ", kernel drops " +
           (losses->kernelDrops ? std::to_string(*losses->kernelDrops) : std::string("n/a"));
}

}  // namespace quillon_capture
