#include "support/host_process.h"

#include <fstream>
#include <vector>

#include <windows.h>

namespace kestrel::testing {
namespace {

// Wine's default drive Z: is the host's root directory.
std::wstring WindowsPath(const std::string& hostPath) {
    std::wstring path = L"Z:";
    for (char c : hostPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

}  // namespace

bool HostShellAvailable() {
    return GetFileAttributesW(WindowsPath("/bin/sh").c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool HostFileExists(const std::string& hostPath) {
    return GetFileAttributesW(WindowsPath(hostPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteHostFile(const std::string& hostPath, const std::string& content) {
    HANDLE file = CreateFileW(WindowsPath(hostPath).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

bool MakeHostDirectory(const std::string& hostPath) {
    return CreateDirectoryW(WindowsPath(hostPath).c_str(), nullptr) != FALSE;
}

bool StartHostScript(const std::string& hostScriptPath) {
    // Wine starts a host executable named by its host path.
    std::wstring command = L"/bin/sh " + std::wstring(hostScriptPath.begin(), hostScriptPath.end());
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // For a host executable Wine 8 reports success but leaves the handles in `process` unset:
    // they hold whatever the stack held, often a live handle of this thread (Winsock's event),
    // and closing them broke the next socket with WSAENOTSOCK. So they are never closed; Wine
    // creates none for a host program. CREATE_SUSPENDED keeps Wine from resuming the same
    // stray "thread" handle; a host program starts regardless.
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                          &startup, &process) != FALSE;
}

unsigned long ProcessNumber() { return GetCurrentProcessId(); }

}  // namespace kestrel::testing
