// A video file in a container (Matroska or MP4) that keeps each frame's arrival time, so that a
// player shows the recording at the speed it arrived and an outage as a pause. Written through
// FFmpeg's libavformat where the build has it; other builds have raw streams only.
#ifndef QUILLON_TOOLS_CAPTURE_CONTAINER_FILE_H
#define QUILLON_TOOLS_CAPTURE_CONTAINER_FILE_H

#include <cstdint>
#include <memory>
#include <string>

namespace quillon_capture {

enum class ContainerFormat { kMatroska, kMp4 };

struct ContainerFrame {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    bool key = false;
    std::int64_t timeMs = 0;  // arrival, from the file's first frame
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Used by one thread at a time. Failures come back as false with a readable reason.
class IContainerFile {
public:
    virtual ~IContainerFile() = default;
    virtual bool Write(const ContainerFrame& frame, std::string* error) = 0;
    // Writes the index and closes the file; the file plays only after this.
    virtual bool Finish(std::string* error) = 0;
};

// False in builds without a container library.
bool ContainerFilesAvailable();

// Creates `path` (replacing a file there) for frames of the host codec `codec`, starting with
// `first`, a key frame, which it writes. Null with the reason in `error`.
std::unique_ptr<IContainerFile> CreateContainerFile(ContainerFormat format, std::uint32_t codec,
                                                    const std::string& path, const ContainerFrame& first,
                                                    std::string* error);

}  // namespace quillon_capture

#endif
