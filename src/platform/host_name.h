// The local computer's host name, as the system reports it.
#ifndef QUILLON_PLATFORM_HOST_NAME_H
#define QUILLON_PLATFORM_HOST_NAME_H

#include <string>

namespace kestrel::platform {

// Empty when the system gives none. On Windows the socket library must be started.
std::string LocalHostName();

}  // namespace kestrel::platform

#endif
