#include "capture/options.h"

#include <cmath>
#include <cstdlib>

namespace quillon_capture {

using quillon_host::HostCameraConfig;
using namespace kestrel::ipcapture;

namespace {

constexpr const char* kProgramUsage =
    "usage: quillon-capture COMMAND [options]\n"
    "Drives the Quillon capture driver as a recording server does: it loads the driver library\n"
    "through its exports and gives it the reference host's objects.\n"
    "\n"
    "commands:\n"
    "  capture   take live video from a camera (or the built-in simulator) and write it to files\n"
    "  query     ask a camera what it can do: model, codecs, resolutions, I/O ports\n"
    "  io        watch a camera's digital inputs and set its outputs\n"
    "\n"
    "'quillon-capture COMMAND --help' lists the options of a command.\n";

constexpr const char* kCameraUsage =
    "camera:\n"
    "  --address HOST        the camera's host name or IPv4 address\n"
    "  --port N              its web (HTTP) port (80)\n"
    "  --user NAME           account name (admin)\n"
    "  --password TEXT       account password (admin)\n"
    "  --simulate            start the camera simulator on 127.0.0.1 and use it (Linux build)\n"
    "  --library PATH        the driver library to load (the one beside this program)\n";

constexpr const char* kCaptureUsage =
    "usage: quillon-capture capture (--address HOST | --simulate) [options]\n"
    "Starts the channels, writes what arrives and prints one progress line per channel each\n"
    "second; --duration or Ctrl-C stops, and a summary per channel follows. The exit status is 0\n"
    "when every channel delivered video, 1 when one did not (the message says which step failed),\n"
    "2 for bad arguments.\n"
    "\n"
    "video:\n"
    "  --codec h264|mpeg4|jpeg   (h264)\n"
    "  --transport rtsp|http     how JPEG travels: RTP over RTSP, or MJPEG over HTTP (rtsp);\n"
    "                            http alone implies --codec jpeg\n"
    "  --size WIDTHxHEIGHT       (704x576)\n"
    "  --fps N                   frames per second, 1 to 60 (25)\n"
    "  --quality N               the camera's fixed-quality value (50)\n"
    "  --channels N              channels 1..N of the camera (1)\n"
    "  --cameras N               N driver objects for the same camera, as a server holding N\n"
    "                            cameras would (1)\n"
    "\n"
    "run:\n"
    "  --duration SECONDS        stop after this long (until Ctrl-C)\n"
    "  --connect-timeout SECONDS give up when no channel has video after this long (15)\n"
    "  --output NAME             file name without extension (capture); several channels add\n"
    "                            -chK, several cameras -camJ\n"
    "  --jpeg-files              JPEG: one NAME-NNNNNN.jpg per frame instead of NAME.mjpeg\n"
    "  --discard                 count frames, write nothing\n"
    "  --quiet                   no progress lines, only messages and the summary\n"
    "\n";

constexpr const char* kQueryUsage =
    "usage: quillon-capture query (--address HOST | --simulate) [options]\n"
    "Runs the driver's capability query and prints model, series, video standard, codecs,\n"
    "resolutions with their frame intervals and I/O port counts, or the failure message.\n"
    "\n"
    "  --ntsc                    ask as a host set up for the 480-line standard (576-line\n"
    "                            otherwise); the camera's own standard decides its sizes\n"
    "\n";

constexpr const char* kIoUsage =
    "usage: quillon-capture io (--address HOST | --simulate) [options]\n"
    "Starts the driver's digital I/O service, sets the outputs asked for and prints input\n"
    "changes and failures as they come, until --duration or Ctrl-C. Ports count from 1.\n"
    "\n"
    "  --inputs N                digital inputs the camera has (2)\n"
    "  --outputs N               digital outputs the camera has (2)\n"
    "  --set PORT=active|inactive  set an output (repeat)\n"
    "  --duration SECONDS        stop after this long (until Ctrl-C)\n"
    "\n";

// Walks the arguments of one sub-command.
class CArguments {
public:
    CArguments(const std::vector<std::string>& arguments, std::string* error)
        : m_arguments(arguments), m_error(error) {}

    bool Next(std::string* option) {
        if (m_at >= m_arguments.size()) return false;
        *option = m_arguments[m_at++];
        return true;
    }

    // The value after `option`; false (with the error set) when there is none.
    bool Value(const std::string& option, std::string* value) {
        if (m_at >= m_arguments.size()) return Fail(option + " needs a value");
        *value = m_arguments[m_at++];
        return true;
    }

    bool Unsigned(const std::string& option, std::uint32_t low, std::uint32_t high,
                  std::uint32_t* result) {
        std::string text;
        if (!Value(option, &text)) return false;
        std::uint64_t value = 0;
        for (char digit : text) {
            if (digit < '0' || digit > '9' || value > high) return Fail(BadValue(option, text));
            value = value * 10 + std::uint64_t(digit - '0');
        }
        if (text.empty() || value < low || value > high) {
            return Fail(BadValue(option, text) + " (" + std::to_string(low) + " to " +
                        std::to_string(high) + ")");
        }
        *result = std::uint32_t(value);
        return true;
    }

    bool Seconds(const std::string& option, double* result) {
        std::string text;
        if (!Value(option, &text)) return false;
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(value > 0) || value > 366 * 86400.0) {
            return Fail(BadValue(option, text) + " (seconds above 0)");
        }
        *result = value;
        return true;
    }

    bool Fail(const std::string& reason) {
        *m_error = reason;
        return false;
    }

    static std::string BadValue(const std::string& option, const std::string& text) {
        return "bad value '" + text + "' for " + option;
    }

private:
    const std::vector<std::string>& m_arguments;
    std::string* m_error;
    std::size_t m_at = 1;  // after the sub-command
};

enum class Match { kNo, kYes, kBad };

Match CameraOption(CArguments& args, const std::string& option, CameraOptions* target) {
    HostCameraConfig& camera = target->camera;
    bool ok = true;
    std::uint32_t port = 0;
    if (option == "--address") {
        ok = args.Value(option, &camera.address);
        target->simulate = false;
    } else if (option == "--port") {
        ok = args.Unsigned(option, 1, 65535, &port);
        camera.port = std::uint16_t(port);
    } else if (option == "--user") {
        ok = args.Value(option, &camera.user);
    } else if (option == "--password") {
        ok = args.Value(option, &camera.password);
    } else if (option == "--simulate") {
        target->simulate = true;
    } else if (option == "--library") {
        ok = args.Value(option, &target->library);
    } else {
        return Match::kNo;
    }
    return ok ? Match::kYes : Match::kBad;
}

bool ParseCodec(CArguments& args, const std::string& option, std::uint32_t* codec) {
    std::string name;
    if (!args.Value(option, &name)) return false;
    if (name == "h264") *codec = kCodecH264;
    else if (name == "mpeg4") *codec = kCodecMpeg4;
    else if (name == "jpeg") *codec = kCodecJpeg;
    else return args.Fail(CArguments::BadValue(option, name) + " (h264, mpeg4 or jpeg)");
    return true;
}

bool ParseSize(CArguments& args, const std::string& option, quillon_host::HostChannelConfig* channel) {
    std::string text;
    if (!args.Value(option, &text)) return false;
    unsigned width = 0, height = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%5ux%5u%c", &width, &height, &rest) != 2 || width < 16 ||
        height < 16 || width > 8192 || height > 8192) {
        return args.Fail(CArguments::BadValue(option, text) + " (WIDTHxHEIGHT, 16 to 8192)");
    }
    channel->width = width;
    channel->height = height;
    return true;
}

bool ParseOutputSetting(CArguments& args, const std::string& option, IoOptions* io) {
    std::string text;
    if (!args.Value(option, &text)) return false;
    const std::size_t equals = text.find('=');
    const std::string port = text.substr(0, equals);
    const std::string state = equals == std::string::npos ? "" : text.substr(equals + 1);
    const std::uint32_t stateCode = state == "active" ? 2 : state == "inactive" ? 1 : 0;
    char* end = nullptr;
    const unsigned long number = std::strtoul(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || number < 1 || number > 64 || stateCode == 0) {
        return args.Fail(CArguments::BadValue(option, text) + " (PORT=active or PORT=inactive)");
    }
    io->outputs.emplace_back(std::uint32_t(number), stateCode);
    return true;
}

bool NeedCamera(CArguments& args, const CameraOptions& target, const std::string& command) {
    if (target.simulate || !target.camera.address.empty()) return true;
    return args.Fail(command + " needs --address HOST or --simulate");
}

bool ParseCapture(CArguments& args, CaptureOptions* capture) {
    std::string option;
    std::uint32_t fps = 25;
    bool codecGiven = false;
    bool http = false;
    while (args.Next(&option)) {
        const Match camera = CameraOption(args, option, &capture->target);
        if (camera == Match::kBad) return false;
        if (camera == Match::kYes) continue;
        bool ok = true;
        std::string text;
        if (option == "--codec") {
            ok = ParseCodec(args, option, &capture->target.camera.codec);
            codecGiven = true;
        } else if (option == "--transport") {
            ok = args.Value(option, &text);
            if (ok && text != "rtsp" && text != "http") {
                ok = args.Fail(CArguments::BadValue(option, text) + " (rtsp or http)");
            }
            http = text == "http";
        } else if (option == "--size") {
            ok = ParseSize(args, option, &capture->channel);
        } else if (option == "--fps") {
            ok = args.Unsigned(option, 1, 60, &fps);
        } else if (option == "--quality") {
            ok = args.Unsigned(option, 1, 100, &capture->channel.quality);
        } else if (option == "--channels") {
            ok = args.Unsigned(option, 1, 64, &capture->target.camera.channelCount);
        } else if (option == "--cameras") {
            ok = args.Unsigned(option, 1, 1024, &capture->cameras);
        } else if (option == "--duration") {
            ok = args.Seconds(option, &capture->seconds);
        } else if (option == "--connect-timeout") {
            ok = args.Unsigned(option, 1, 3600, &capture->connectSeconds);
        } else if (option == "--output") {
            ok = args.Value(option, &capture->output);
            if (ok && capture->output.empty()) ok = args.Fail("--output needs a file name");
        } else if (option == "--jpeg-files") {
            capture->frames = FrameOutput::kJpegPerFrame;
        } else if (option == "--discard") {
            capture->frames = FrameOutput::kDiscard;
        } else if (option == "--quiet") {
            capture->quiet = true;
        } else {
            ok = args.Fail("unknown option " + option);
        }
        if (!ok) return false;
    }
    HostCameraConfig& camera = capture->target.camera;
    if (http && !codecGiven) camera.codec = kCodecJpeg;
    if (http && camera.codec != kCodecJpeg) return args.Fail("--transport http carries JPEG only");
    // Host parameter 1 "1" selects MJPEG over HTTP for a JPEG camera.
    camera.parameters = http ? std::vector<std::string>{"1"} : std::vector<std::string>{};
    if (capture->frames == FrameOutput::kJpegPerFrame && camera.codec != kCodecJpeg) {
        return args.Fail("--jpeg-files needs --codec jpeg");
    }
    capture->channel.frameInterval = (1000 + fps / 2) / fps;
    return NeedCamera(args, capture->target, "capture");
}

bool ParseQuery(CArguments& args, QueryOptions* query) {
    std::string option;
    while (args.Next(&option)) {
        const Match camera = CameraOption(args, option, &query->target);
        if (camera == Match::kBad) return false;
        if (camera == Match::kYes) continue;
        if (option == "--ntsc") query->ntsc = true;
        else return args.Fail("unknown option " + option);
    }
    return NeedCamera(args, query->target, "query");
}

bool ParseIo(CArguments& args, IoOptions* io) {
    std::string option;
    io->target.camera.inputCount = 2;
    io->target.camera.outputCount = 2;
    while (args.Next(&option)) {
        const Match camera = CameraOption(args, option, &io->target);
        if (camera == Match::kBad) return false;
        if (camera == Match::kYes) continue;
        bool ok = true;
        if (option == "--inputs") ok = args.Unsigned(option, 0, 64, &io->target.camera.inputCount);
        else if (option == "--outputs") ok = args.Unsigned(option, 0, 64, &io->target.camera.outputCount);
        else if (option == "--set") ok = ParseOutputSetting(args, option, io);
        else if (option == "--duration") ok = args.Seconds(option, &io->seconds);
        else ok = args.Fail("unknown option " + option);
        if (!ok) return false;
    }
    for (const auto& output : io->outputs) {
        if (output.first > io->target.camera.outputCount) {
            return args.Fail("--set " + std::to_string(output.first) + ": the camera has " +
                             std::to_string(io->target.camera.outputCount) + " output(s)");
        }
    }
    return NeedCamera(args, io->target, "io");
}

bool AsksForHelp(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") return true;
    }
    return false;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& arguments, ParsedCommand* parsed,
                      std::string* error) {
    if (arguments.empty()) {
        *error = "no command given";
        return false;
    }
    const std::string& command = arguments[0];
    if (command == "--help" || command == "-h" || command == "help") {
        parsed->command = Command::kHelp;
        parsed->helpText = Usage(arguments.size() > 1 && command == "help" ? arguments[1] : "");
        return true;
    }
    if (command != "capture" && command != "query" && command != "io") {
        *error = "unknown command '" + command + "'";
        return false;
    }
    if (AsksForHelp(arguments)) {
        parsed->command = Command::kHelp;
        parsed->helpText = Usage(command);
        return true;
    }
    // No default address: a capture aimed at nothing in particular is a mistake.
    parsed->capture.target.camera.address.clear();
    parsed->query.target.camera.address.clear();
    parsed->io.target.camera.address.clear();
    CArguments args(arguments, error);
    if (command == "capture") {
        parsed->command = Command::kCapture;
        return ParseCapture(args, &parsed->capture);
    }
    if (command == "query") {
        parsed->command = Command::kQuery;
        return ParseQuery(args, &parsed->query);
    }
    parsed->command = Command::kIo;
    return ParseIo(args, &parsed->io);
}

std::string Usage(const std::string& command) {
    if (command == "capture") return std::string(kCaptureUsage) + kCameraUsage;
    if (command == "query") return std::string(kQueryUsage) + kCameraUsage;
    if (command == "io") return std::string(kIoUsage) + kCameraUsage;
    return kProgramUsage;
}

const char* StreamExtension(std::uint32_t codec) {
    switch (codec) {
        case kCodecJpeg: return ".mjpeg";
        case kCodecMpeg4: return ".m4v";
        default: return ".h264";
    }
}

}  // namespace quillon_capture
