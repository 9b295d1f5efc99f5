#include "capture/container_file.h"

namespace quillon_capture {

bool ContainerFilesAvailable() { return false; }

std::unique_ptr<IContainerFile> CreateContainerFile(ContainerFormat, std::uint32_t, const std::string& path,
                                                    const ContainerFrame&, std::string* error) {
    *error = "cannot create " + path + ": this build writes raw streams only (--format raw)";
    return nullptr;
}

}  // namespace quillon_capture
