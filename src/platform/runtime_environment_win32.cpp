#include "platform/runtime_environment.h"

#include <windows.h>

namespace kestrel::platform {

bool IsRunningUnderWine() {
    // Wine's ntdll exports its version; Windows' never does.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace kestrel::platform
