#include "media/mpeg_header_reader.h"

#include <cstdint>
#include <limits>

#include "platform/dynamic_library.h"

namespace kestrel {

namespace {

constexpr char kLibraryFileName[] = QUILLON_BRINDLE_FILE_NAME;
// Brindle.dll exports the decorated stdcall name on both Windows architectures, libbrindle.so
// the plain C name.
constexpr const char* kEntryPointNames[] = {"_ParseMpegHeader@16", "ParseMpegHeader"};

ParseMpegHeaderFunction LoadEntryPoint() {
    // Deliberately never unloaded: freeing a library while the driver itself is being unloaded
    // (static destruction runs under the loader lock on Windows) is not safe.
    static platform::CDynamicLibrary* library =
        platform::CDynamicLibrary::Load(platform::OwnModuleFolder() + kLibraryFileName).release();
    if (!library) return nullptr;
    for (const char* name : kEntryPointNames) {
        if (platform::LibraryFunction entry = library->Symbol(name)) {
            return reinterpret_cast<ParseMpegHeaderFunction>(entry);
        }
    }
    return nullptr;
}

}  // namespace

const CMpegHeaderReader& CMpegHeaderReader::Shared() {
    static const CMpegHeaderReader reader(LoadEntryPoint());
    return reader;
}

bool CMpegHeaderReader::ReadPictureSize(const std::uint8_t* data, std::size_t length,
                                        std::uint32_t& width, std::uint32_t& height) const {
    if (!m_entry || length > std::size_t(std::numeric_limits<std::int32_t>::max())) return false;
    std::int32_t w = 0;
    std::int32_t h = 0;
    if (m_entry(data, static_cast<std::int32_t>(length), &w, &h) <= 0 || w <= 0 || h <= 0) {
        return false;
    }
    width = static_cast<std::uint32_t>(w);
    height = static_cast<std::uint32_t>(h);
    return true;
}

}  // namespace kestrel
