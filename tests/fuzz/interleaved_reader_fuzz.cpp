// Feeds arbitrary bytes to the interleaved reader in pieces whose sizes the input chooses, as a
// connection delivers them, and checks that every item lies within what was fed and that the
// reader never holds more than one unfinished item.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtsp/interleaved_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = std::size_t(data[0]) * 16 + 1;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    kestrel::CInterleavedReader reader;
    std::size_t fed = 0;
    std::size_t taken = 0;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        std::string_view part = bytes.substr(at, piece);
        reader.Append(part);
        fed += part.size();
        kestrel::InterleavedItem item;
        while (reader.Next(item)) {
            taken += item.data.size();
            if (item.data.empty() || taken > fed) __builtin_trap();
            if (item.kind == kestrel::InterleavedItem::Kind::kMessage &&
                item.data.size() > kestrel::CInterleavedReader::kMaxMessageSize)
                __builtin_trap();
        }
        if (reader.Buffered() > kestrel::CInterleavedReader::kMaxMessageSize + piece) __builtin_trap();
    }
    return 0;
}
