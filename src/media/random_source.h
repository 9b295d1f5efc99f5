// Random 32-bit values for protocol identifiers such as RTP SSRCs (RFC 3550 8.1 asks for
// identifiers that independent sessions do not share).
#ifndef QUILLON_MEDIA_RANDOM_SOURCE_H
#define QUILLON_MEDIA_RANDOM_SOURCE_H

#include <cstdint>
#include <functional>

namespace kestrel {

// A replaceable source of random values; tests pass a fixed one.
using RandomSource = std::function<std::uint32_t()>;

// One generator for the whole process, seeded once from the system's entropy source and the
// clock; safe to call from any thread.
std::uint32_t ProcessRandom32();

}  // namespace kestrel

#endif
