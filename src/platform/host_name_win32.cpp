#include "platform/host_name.h"

#include <winsock2.h>

namespace kestrel::platform {

std::string LocalHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return std::string();
    return std::string(name);
}

}  // namespace kestrel::platform
