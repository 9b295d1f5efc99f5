// The lock of the web API objects: recursive, because the client's connect sequence runs the login
// under the lock and the login takes it again to copy the sender holder.
#ifndef QUILLON_WEBAPI_WEBAPI_LOCK_H
#define QUILLON_WEBAPI_WEBAPI_LOCK_H

#include <mutex>

namespace kestrel {

using WebApiLock = std::recursive_mutex;
using WebApiLockGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace kestrel

#endif
