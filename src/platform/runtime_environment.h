// Facts about the process's environment that tests and diagnostics need.
#ifndef QUILLON_PLATFORM_RUNTIME_ENVIRONMENT_H
#define QUILLON_PLATFORM_RUNTIME_ENVIRONMENT_H

namespace kestrel::platform {

// True for a Windows build running under Wine, whose system libraries differ from Windows' in places.
bool IsRunningUnderWine();

}  // namespace kestrel::platform

#endif
