// The command line of quillon-capture: one sub-command and its options. Parsing only checks
// and converts; nothing runs here.
#ifndef QUILLON_TOOLS_CAPTURE_OPTIONS_H
#define QUILLON_TOOLS_CAPTURE_OPTIONS_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "capture/frame_file_sink.h"
#include "host/reference_host.h"

namespace quillon_capture {

enum class Command { kHelp, kVersion, kCapture, kQuery, kIo };

// Which camera, and how the host configures it. With `simulate` the address and port are
// those of the simulator the program starts.
struct CameraOptions {
    quillon_host::HostCameraConfig camera;
    bool simulate = false;
    bool askPassword = false;  // a camera URL named a user without password: prompt for it
    std::string library;  // the driver library file; empty: the one beside the program
};

enum class ProgressOutput { kLines, kJson, kNone };

struct CaptureOptions {
    CameraOptions target;
    quillon_host::HostChannelConfig channel{704, 576, 40, 50};
    std::uint32_t cameras = 1;          // driver objects, each with the channels of `target`
    double seconds = 0;                 // 0: until Ctrl-C
    std::uint32_t connectSeconds = 15;  // the wait for a first frame before giving up
    std::string output = "capture";     // file name without its extension
    FrameOutput frames = FrameOutput::kMatroska;
    bool overwrite = false;             // replace existing files
    ProgressOutput progress = ProgressOutput::kLines;
    bool stopOneByOne = false;          // else the cameras stop side by side
};

struct QueryOptions {
    CameraOptions target;
    bool ntsc = false;  // ask for the 480-line standard's resolutions and rates
};

struct IoOptions {
    CameraOptions target;  // port counts 0: as the camera reports them
    std::vector<std::pair<std::uint32_t, std::uint32_t>> outputs;  // port from 1, state 1 or 2
    double seconds = 0;  // 0: until Ctrl-C
};

struct ParsedCommand {
    Command command = Command::kHelp;
    std::string helpText;  // for kHelp: the usage asked for; for kVersion the version line
    CaptureOptions capture;
    QueryOptions query;
    IoOptions io;
};

// False with a one-line reason in `error` for bad arguments. `environmentPassword` is the value
// of QUILLON_PASSWORD (null when unset): a password there need not show in the process list.
bool ParseCommandLine(const std::vector<std::string>& arguments, const char* environmentPassword,
                      ParsedCommand* parsed, std::string* error);

// The environment variable a camera password may come from.
constexpr const char* kPasswordVariable = "QUILLON_PASSWORD";

// The usage of the program (`command` empty) or of one sub-command.
std::string Usage(const std::string& command);

}  // namespace quillon_capture

#endif
