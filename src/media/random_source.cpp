#include "media/random_source.h"

#include <chrono>
#include <mutex>
#include <random>

namespace kestrel {

std::uint32_t ProcessRandom32() {
    static std::mutex lock;
    static std::mt19937 generator = [] {
        // The clock is mixed in for run-times whose random_device is deterministic or missing.
        const auto now = static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
        std::uint32_t entropy[4] = {};
        try {
            std::random_device device;
            for (auto& value : entropy) value = device();
        } catch (...) {
        }
        std::seed_seq seed{entropy[0], entropy[1], entropy[2], entropy[3], static_cast<std::uint32_t>(now),
                           static_cast<std::uint32_t>(now >> 32)};
        return std::mt19937(seed);
    }();
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<std::uint32_t>(generator());
}

}  // namespace kestrel
