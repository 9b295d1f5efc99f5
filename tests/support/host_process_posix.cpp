#include "support/host_process.h"

#include <fstream>

#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace kestrel::testing {

bool HostShellAvailable() { return access("/bin/sh", X_OK) == 0; }

bool HostFileExists(const std::string& hostPath) { return access(hostPath.c_str(), F_OK) == 0; }

bool WriteHostFile(const std::string& hostPath, const std::string& content) {
    std::ofstream file(hostPath, std::ios::binary | std::ios::trunc);
    file << content;
    return static_cast<bool>(file);
}

bool MakeHostDirectory(const std::string& hostPath) { return mkdir(hostPath.c_str(), 0700) == 0; }

bool StartHostScript(const std::string& hostScriptPath) {
    pid_t pid = 0;
    char shell[] = "/bin/sh";
    std::string script = hostScriptPath;
    char* argv[] = {shell, &script[0], nullptr};
    return posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) == 0;
}

unsigned long ProcessNumber() { return static_cast<unsigned long>(getpid()); }

}  // namespace kestrel::testing
