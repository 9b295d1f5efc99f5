#include "platform/runtime_environment.h"

namespace kestrel::platform {

bool IsRunningUnderWine() { return false; }

}  // namespace kestrel::platform
