// Entry point of Quillon.dll. It does no work: sockets and threads start with the channels.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
