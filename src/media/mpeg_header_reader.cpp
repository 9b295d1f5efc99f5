#include "media/mpeg_header_reader.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>

#include "platform/dynamic_library.h"

namespace kestrel {

namespace {

constexpr char kLibraryFileName[] = QUILLON_BRINDLE_FILE_NAME;
// Brindle.dll exports the decorated stdcall name on both Windows architectures, libbrindle.so
// the plain C name.
constexpr const char* kEntryPointNames[] = {"_ParseMpegHeader@16", "ParseMpegHeader"};

// The library is freed by ReleaseShared, on a host thread, never while the driver itself is
// being unloaded (static destruction runs under the loader lock on Windows, where freeing
// another library is not safe).
std::mutex g_libraryLock;
// A plain pointer: a library still loaded when the driver is unloaded stays loaded.
platform::CDynamicLibrary* g_library = nullptr;         // guarded by g_libraryLock
ParseMpegHeaderFunction g_entry = nullptr;              // guarded by g_libraryLock
bool g_loadTried = false;                               // guarded by g_libraryLock

ParseMpegHeaderFunction LoadEntryPoint() {
    g_loadTried = true;
    g_library = platform::CDynamicLibrary::Load(platform::OwnModuleFolder() + kLibraryFileName).release();
    if (!g_library) return nullptr;
    for (const char* name : kEntryPointNames) {
        if (platform::LibraryFunction entry = g_library->Symbol(name)) {
            return reinterpret_cast<ParseMpegHeaderFunction>(entry);
        }
    }
    return nullptr;
}

}  // namespace

const CMpegHeaderReader& CMpegHeaderReader::Shared() {
    static const CMpegHeaderReader reader = [] {
        CMpegHeaderReader shared;
        shared.m_shared = true;
        return shared;
    }();
    return reader;
}

void CMpegHeaderReader::ReleaseShared() {
    std::lock_guard<std::mutex> guard(g_libraryLock);
    g_entry = nullptr;
    delete g_library;
    g_library = nullptr;
    g_loadTried = false;
}

bool CMpegHeaderReader::Available() const { return Entry() != nullptr; }

ParseMpegHeaderFunction CMpegHeaderReader::Entry() const {
    if (!m_shared) return m_entry;
    std::lock_guard<std::mutex> guard(g_libraryLock);
    if (!g_loadTried) g_entry = LoadEntryPoint();
    return g_entry;
}

bool CMpegHeaderReader::ReadPictureSize(const std::uint8_t* data, std::size_t length,
                                        std::uint32_t& width, std::uint32_t& height) const {
    const ParseMpegHeaderFunction entry = Entry();
    if (!entry || length > std::size_t(std::numeric_limits<std::int32_t>::max())) return false;
    std::int32_t w = 0;
    std::int32_t h = 0;
    if (entry(data, static_cast<std::int32_t>(length), &w, &h) <= 0 || w <= 0 || h <= 0) {
        return false;
    }
    width = static_cast<std::uint32_t>(w);
    height = static_cast<std::uint32_t>(h);
    return true;
}

}  // namespace kestrel
