// Native peers for tests: files and /bin/sh scripts of the machine the tests run on. A Windows
// test binary reaches them only under Wine (which maps the host's root to drive Z: and starts
// host executables); elsewhere HostShellAvailable() is false and such tests skip.
#ifndef QUILLON_TESTS_SUPPORT_HOST_PROCESS_H
#define QUILLON_TESTS_SUPPORT_HOST_PROCESS_H

#include <string>

namespace kestrel::testing {

bool HostShellAvailable();
bool HostFileExists(const std::string& hostPath);
bool WriteHostFile(const std::string& hostPath, const std::string& content);
bool MakeHostDirectory(const std::string& hostPath);
// Starts `/bin/sh hostScriptPath` detached; the script must end by itself.
bool StartHostScript(const std::string& hostScriptPath);
// A number that differs between concurrently running test processes.
unsigned long ProcessNumber();

}  // namespace kestrel::testing

#endif
