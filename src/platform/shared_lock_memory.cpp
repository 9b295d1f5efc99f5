#include "platform/shared_lock_memory.h"

namespace kestrel::platform {

namespace {
constexpr char kEventPrefix[] = "Optex_Event_";  // the longer of the two prefixes
}

bool IsValidSharedLockName(const std::string& name) {
    if (name.empty() || name.size() + sizeof(kEventPrefix) - 1 > SharedLockMemory::kMaxObjectName)
        return false;
    // A slash or backslash would name a path or a kernel namespace rather than one object.
    return name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace kestrel::platform
