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
    "'quillon-capture COMMAND --help' lists the options of a command; --version the version.\n"
    "\n"
    "example: quillon-capture capture http://admin@192.0.2.10/ -t 60 -o entrance\n"
    "         (asks for the password; or set QUILLON_PASSWORD)\n";

constexpr const char* kCameraUsage =
    "camera:\n"
    "  http://[USER[:PASSWORD]@]HOST[:PORT]/  the camera in one argument; a user without\n"
    "                        password takes QUILLON_PASSWORD or asks for it\n"
    "  --address HOST        the camera's host name or IPv4 address\n"
    "  --port N              its web (HTTP) port (80)\n"
    "  --user NAME           account name (admin)\n"
    "  --password TEXT       account password (QUILLON_PASSWORD, else admin); visible to\n"
    "                        other users in the process list\n"
    "  --simulate            start the camera simulator on 127.0.0.1 and use it (Linux build)\n"
    "  --library PATH        the driver library to load (the one beside this program)\n";

constexpr const char* kCaptureUsage =
    "usage: quillon-capture capture (CAMERA-URL | --address HOST | --simulate) [options]\n"
    "Starts the channels, writes what arrives and prints one progress line per channel each\n"
    "second; --duration or Ctrl-C stops, and a summary per channel follows. The exit status is 0\n"
    "when every channel delivered video (also after Ctrl-C), 1 when one did not (the message says\n"
    "which step failed), 2 for bad arguments or an output file that exists already.\n"
    "\n"
    "video:\n"
    "  --codec h264|mpeg4|jpeg   (h264)\n"
    "  --transport rtsp|http     how JPEG travels: RTP over RTSP, or MJPEG over HTTP (rtsp);\n"
    "                            http alone implies --codec jpeg\n"
    "  --rtsp-transport udp|tcp|auto  how RTP travels: UDP, inside the RTSP connection, or UDP\n"
    "                            with a fall-back to TCP when UDP is refused or never arrives (auto)\n"
    "  --size WIDTHxHEIGHT       (704x576)\n"
    "  --fps N                   frames per second, 1 to 60 (25); the camera may send fewer\n"
    "  --quality N               the camera's fixed-quality value (50)\n"
    "  --channels N              channels 1..N of the camera (1)\n"
    "  --cameras N               N driver objects for the same camera, as a server holding N\n"
    "                            cameras would (1)\n"
    "\n"
    "run:\n"
    "  --connect-timeout SECONDS give up when no channel has video after this long (15); a\n"
    "                            refused login or a name that does not resolve ends at once\n"
    "  -t, --duration SECONDS    stop after this long (until Ctrl-C)\n"
    "  -o, --output NAME         file name without extension (capture), or a folder to write\n"
    "                            'capture' into; several channels add -chK, several cameras -camJ\n"
    "  -y, --overwrite           replace existing files (otherwise the capture refuses to start)\n"
    "  --format mkv|mp4|raw      %s\n"
    "  --jpeg-files              JPEG: one NAME-NNNNNN.jpg per frame\n"
    "  --discard                 count frames, write nothing\n"
    "  --progress lines|json|none  each second: a line per channel, one JSON object per\n"
    "                            channel on standard output, or nothing (lines)\n"
    "  --quiet                   as --progress none\n"
    "  --stop-one-by-one         stop the cameras one after another, as the summary's stop\n"
    "                            times then add up to a server's shutdown (side by side)\n"
    "\n";

constexpr const char* kFormatsWithContainers =
    "Matroska or MP4 with each frame's arrival time,\n"
    "                            or the raw stream (.h264, .m4v, .mjpeg) without times (mkv)";
constexpr const char* kFormatsRawOnly =
    "raw: this build has no container writer (libavformat);\n"
    "                            it writes the raw stream (.h264, .m4v, .mjpeg) without times";

constexpr const char* kQueryUsage =
    "usage: quillon-capture query (CAMERA-URL | --address HOST | --simulate) [options]\n"
    "Runs the driver's capability query and prints model, series, video standard, codecs,\n"
    "resolutions with their frame intervals and I/O port counts, or the failure message.\n"
    "\n"
    "  --ntsc                    ask as a host set up for the 480-line standard (576-line\n"
    "                            otherwise); the camera's own standard decides its sizes\n"
    "\n";

constexpr const char* kIoUsage =
    "usage: quillon-capture io (CAMERA-URL | --address HOST | --simulate) [options]\n"
    "Asks the camera for its port counts, starts the driver's digital I/O service, sets the\n"
    "outputs asked for (each reported set once the camera shows it so) and prints input\n"
    "changes and failures as they come, until --duration or Ctrl-C. Ports count from 1.\n"
    "\n"
    "  --inputs N                digital inputs (as the camera reports; 2 with --simulate)\n"
    "  --outputs N               digital outputs (likewise)\n"
    "  --set PORT=active|inactive  set an output (repeat)\n"
    "  -t, --duration SECONDS    stop after this long (until Ctrl-C)\n"
    "\n";

// Walks the arguments of one sub-command.
class CArguments {
public:
    CArguments(const std::vector<std::string>& arguments, const char* environmentPassword, std::string* error)
        : m_arguments(arguments), m_environmentPassword(environmentPassword), m_error(error) {}

    const char* EnvironmentPassword() const { return m_environmentPassword; }

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
        bool digits = !text.empty();
        for (char digit : text) {
            digits = digits && digit >= '0' && digit <= '9' && value <= high;
            if (digits) value = value * 10 + std::uint64_t(digit - '0');
        }
        if (!digits || value < low || value > high) {
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
    const char* m_environmentPassword;
    std::string* m_error;
    std::size_t m_at = 1;  // after the sub-command
};

enum class Match { kNo, kYes, kBad };

// http://[user[:password]@]host[:port][/]
bool ParseCameraUrl(CArguments& args, const std::string& url, CameraOptions* target) {
    HostCameraConfig& camera = target->camera;
    std::string rest = url.substr(7);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const std::size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string account = rest.substr(0, at);
        const std::size_t colon = account.find(':');
        camera.user = account.substr(0, colon);
        if (colon != std::string::npos) camera.password = account.substr(colon + 1);
        target->askPassword = colon == std::string::npos;
        rest.erase(0, at + 1);
    }
    const std::size_t colon = rest.find(':');
    camera.address = rest.substr(0, colon);
    bool ok = !camera.address.empty() && rest.find('/') == std::string::npos &&
              (at == std::string::npos || !camera.user.empty());
    if (ok && colon != std::string::npos) {
        char* end = nullptr;
        const std::string port = rest.substr(colon + 1);
        const unsigned long number = std::strtoul(port.c_str(), &end, 10);
        ok = !port.empty() && *end == '\0' && number >= 1 && number <= 65535 && port[0] != '-' && port[0] != '+';
        camera.port = std::uint16_t(number);
    }
    if (!ok) return args.Fail("bad camera URL '" + url + "' (http://[USER[:PASSWORD]@]HOST[:PORT]/)");
    return true;
}

// `passwordGiven` becomes true when the option gave a password.
Match CameraOption(CArguments& args, const std::string& option, CameraOptions* target, bool* passwordGiven) {
    HostCameraConfig& camera = target->camera;
    bool ok = true;
    std::uint32_t port = 0;
    if (option == "--address") {
        ok = args.Value(option, &camera.address);
    } else if (option == "--port") {
        ok = args.Unsigned(option, 1, 65535, &port);
        camera.port = std::uint16_t(port);
    } else if (option == "--user") {
        ok = args.Value(option, &camera.user);
    } else if (option == "--password") {
        ok = args.Value(option, &camera.password);
        *passwordGiven = true;
    } else if (option == "--simulate") {
        target->simulate = true;
    } else if (option == "--library") {
        ok = args.Value(option, &target->library);
    } else if (option.compare(0, 7, "http://") == 0) {
        ok = ParseCameraUrl(args, option, target);
        *passwordGiven = *passwordGiven || (ok && !target->askPassword && option.find('@') != std::string::npos);
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

// The camera named once, and the password from where it was given.
bool NeedCamera(CArguments& args, CameraOptions& target, const std::string& command, bool passwordGiven) {
    const char* environment = args.EnvironmentPassword();
    if (target.simulate && !target.camera.address.empty()) {
        return args.Fail("--simulate and a camera address exclude each other");
    }
    if (!target.simulate && target.camera.address.empty()) {
        return args.Fail(command + " needs a camera: http://HOST/, --address HOST or --simulate");
    }
    if (!passwordGiven && environment) {
        target.camera.password = environment;
        target.askPassword = false;
    }
    if (passwordGiven) target.askPassword = false;
    return true;
}

bool ParseFormat(CArguments& args, const std::string& option, FrameOutput* output) {
    std::string name;
    if (!args.Value(option, &name)) return false;
    if (name == "raw") *output = FrameOutput::kStream;
    else if (name == "mkv" && ContainerFilesAvailable()) *output = FrameOutput::kMatroska;
    else if (name == "mp4" && ContainerFilesAvailable()) *output = FrameOutput::kMp4;
    else if (name == "mkv" || name == "mp4") return args.Fail("--format " + name + ": this build writes raw only");
    else return args.Fail(CArguments::BadValue(option, name) + " (mkv, mp4 or raw)");
    return true;
}

bool ParseProgress(CArguments& args, const std::string& option, ProgressOutput* progress) {
    std::string name;
    if (!args.Value(option, &name)) return false;
    if (name == "lines") *progress = ProgressOutput::kLines;
    else if (name == "json") *progress = ProgressOutput::kJson;
    else if (name == "none") *progress = ProgressOutput::kNone;
    else return args.Fail(CArguments::BadValue(option, name) + " (lines, json or none)");
    return true;
}

bool ParseCapture(CArguments& args, CaptureOptions* capture) {
    std::string option;
    std::uint32_t fps = 25;
    bool codecGiven = false;
    bool http = false;
    std::string rtspTransport = "auto";
    bool passwordGiven = false;
    if (!ContainerFilesAvailable()) capture->frames = FrameOutput::kStream;
    while (args.Next(&option)) {
        const Match camera = CameraOption(args, option, &capture->target, &passwordGiven);
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
        } else if (option == "--rtsp-transport") {
            ok = args.Value(option, &rtspTransport);
            if (ok && rtspTransport != "udp" && rtspTransport != "tcp" && rtspTransport != "auto") {
                ok = args.Fail(CArguments::BadValue(option, rtspTransport) + " (udp, tcp or auto)");
            }
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
        } else if (option == "--duration" || option == "-t") {
            ok = args.Seconds(option, &capture->seconds);
        } else if (option == "--connect-timeout") {
            ok = args.Unsigned(option, 1, 3600, &capture->connectSeconds);
        } else if (option == "--output" || option == "-o") {
            ok = args.Value(option, &capture->output);
            if (ok && capture->output.empty()) ok = args.Fail(option + " needs a file name");
        } else if (option == "--overwrite" || option == "-y") {
            capture->overwrite = true;
        } else if (option == "--format") {
            ok = ParseFormat(args, option, &capture->frames);
        } else if (option == "--jpeg-files") {
            capture->frames = FrameOutput::kJpegPerFrame;
        } else if (option == "--discard") {
            capture->frames = FrameOutput::kDiscard;
        } else if (option == "--progress") {
            ok = ParseProgress(args, option, &capture->progress);
        } else if (option == "--quiet") {
            capture->progress = ProgressOutput::kNone;
        } else if (option == "--stop-one-by-one") {
            capture->stopOneByOne = true;
        } else {
            ok = args.Fail("unknown option " + option);
        }
        if (!ok) return false;
    }
    HostCameraConfig& camera = capture->target.camera;
    if (http && !codecGiven) camera.codec = kCodecJpeg;
    if (http && camera.codec != kCodecJpeg) return args.Fail("--transport http carries JPEG only");
    // Host parameter 1 "1" selects MJPEG over HTTP for a JPEG camera; parameter 2 the RTSP
    // transport, automatic when absent.
    camera.parameters = http ? std::vector<std::string>{"1"} : std::vector<std::string>{};
    if (rtspTransport != "auto") camera.parameters = {http ? "1" : "(none)", rtspTransport};
    if (capture->frames == FrameOutput::kJpegPerFrame && camera.codec != kCodecJpeg) {
        return args.Fail("--jpeg-files needs --codec jpeg");
    }
    capture->channel.frameInterval = (1000 + fps / 2) / fps;
    return NeedCamera(args, capture->target, "capture", passwordGiven);
}

bool ParseQuery(CArguments& args, QueryOptions* query) {
    std::string option;
    bool passwordGiven = false;
    while (args.Next(&option)) {
        const Match camera = CameraOption(args, option, &query->target, &passwordGiven);
        if (camera == Match::kBad) return false;
        if (camera == Match::kYes) continue;
        if (option == "--ntsc") query->ntsc = true;
        else return args.Fail("unknown option " + option);
    }
    return NeedCamera(args, query->target, "query", passwordGiven);
}

bool ParseIo(CArguments& args, IoOptions* io) {
    std::string option;
    bool passwordGiven = false;
    while (args.Next(&option)) {
        const Match camera = CameraOption(args, option, &io->target, &passwordGiven);
        if (camera == Match::kBad) return false;
        if (camera == Match::kYes) continue;
        bool ok = true;
        if (option == "--inputs") ok = args.Unsigned(option, 0, 64, &io->target.camera.inputCount);
        else if (option == "--outputs") ok = args.Unsigned(option, 0, 64, &io->target.camera.outputCount);
        else if (option == "--set") ok = ParseOutputSetting(args, option, io);
        else if (option == "--duration" || option == "-t") ok = args.Seconds(option, &io->seconds);
        else ok = args.Fail("unknown option " + option);
        if (!ok) return false;
    }
    return NeedCamera(args, io->target, "io", passwordGiven);
}

bool AsksForHelp(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") return true;
    }
    return false;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& arguments, const char* environmentPassword,
                      ParsedCommand* parsed, std::string* error) {
    if (arguments.empty()) {
        *error = "no command given";
        return false;
    }
    const std::string& command = arguments[0];
    if (command == "--version" || (arguments.size() > 1 && arguments[1] == "--version")) {
        parsed->command = Command::kVersion;
        parsed->helpText = std::string("quillon-capture ") + QUILLON_VERSION + "\n";
        return true;
    }
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
    CArguments args(arguments, environmentPassword, error);
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
    if (command == "capture") {
        std::string usage = kCaptureUsage;
        const std::size_t at = usage.find("%s");
        usage.replace(at, 2, ContainerFilesAvailable() ? kFormatsWithContainers : kFormatsRawOnly);
        return usage + kCameraUsage;
    }
    if (command == "query") return std::string(kQueryUsage) + kCameraUsage;
    if (command == "io") return std::string(kIoUsage) + kCameraUsage;
    return kProgramUsage;
}

}  // namespace quillon_capture
