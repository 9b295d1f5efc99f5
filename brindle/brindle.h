// Brindle: reads the picture size of an MPEG-4 part 2 (ISO/IEC 14496-2) stream from its video
// object layer header. Brindle.dll exports it as "_ParseMpegHeader@16" (stdcall on 32-bit
// Windows), libbrindle.so as "ParseMpegHeader". The build defines BRINDLE_CALL.
#ifndef BRINDLE_BRINDLE_H
#define BRINDLE_BRINDLE_H

#include <cstdint>

extern "C" {
// Looks for the first video object layer start code in `data` and reads the layer's width and
// height. Returns 1 with both written when they were found and are above 0; 0 otherwise (null
// pointers, a negative length, no layer header, a non-rectangular shape, a header cut short),
// leaving the outputs alone. Reads nothing at or past `data + length`. Thread-safe.
std::int32_t BRINDLE_CALL ParseMpegHeader(const std::uint8_t* data, std::int32_t length,
                                          std::int32_t* width, std::int32_t* height);
}

using ParseMpegHeaderFunction = std::int32_t(BRINDLE_CALL*)(const std::uint8_t*, std::int32_t,
                                                            std::int32_t*, std::int32_t*);

#endif
