// quillon-capture end to end, as a person runs it: the program loads the driver library, starts
// the simulator in-process (or is pointed at a broken camera), writes files, and ffprobe must
// decode them. Linux only: the simulator runs in-process.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "camsim/camera_simulator.h"
#include "support/loopback_socket.h"

namespace {

struct ProgramRun {
    int status = -1;
    std::string output;  // standard output and standard error together
    double seconds = 0;
};

// The program with its arguments, ended by `timeout` after 90 s should it hang.
ProgramRun RunProgram(const std::string& program, const std::string& arguments) {
    ProgramRun run;
    const auto started = std::chrono::steady_clock::now();
    FILE* pipe = popen(("timeout -s KILL 90 " + program + " " + arguments + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char chunk[4096];
    std::size_t read;
    while ((read = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, read);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return run;
}

// The program as built, behind the emulator that runs it where this machine cannot.
const std::string kCapture = std::string(QUILLON_PROGRAM_EMULATOR " ") + QUILLON_CAPTURE_PROGRAM;
const bool kEmulated = std::string(QUILLON_PROGRAM_EMULATOR).size() > 0;

ProgramRun RunCapture(const std::string& arguments) {
    return RunProgram(kCapture, arguments);
}

bool Installed(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string OutputFolder(const std::string& name) {
    const std::filesystem::path folder =
        std::filesystem::path(testing::TempDir()) / ("quillon-capture-" + std::to_string(getpid())) / name;
    std::filesystem::create_directories(folder);
    return folder.string();
}

// The number after `label` in the program's output ("channel 1: 75 frames"), or -1.
long Number(const std::string& output, const std::string& pattern) {
    std::smatch match;
    if (!std::regex_search(output, match, std::regex(pattern))) return -1;
    return std::stol(match[1]);
}

// Ctrl-C after six seconds (time to start under the sanitizers too), as a person stops a
// capture without --duration.
ProgramRun RunInterrupted(const std::string& arguments) {
    return RunProgram("sh", "-c '" + kCapture + " " + arguments +
                                " & pid=$!; sleep 6; kill -INT $pid; wait $pid'");
}

TEST(CaptureProgramTest, EveryCodecAndJpegOverHttpGivesAFileThatDecodes) {
    if (!Installed("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    struct Case {
        const char* name;
        const char* arguments;
        const char* file;
        const char* codec;  // as ffprobe names it
    } cases[] = {
        {"h264", "--codec h264 --duration 3", "capture.h264", "h264"},
        {"mpeg4", "--codec mpeg4 --duration 3", "capture.m4v", "mpeg4"},
        {"jpeg", "--codec jpeg --duration 3", "capture.mjpeg", "mjpeg"},
        {"mjpeg-http", "--transport http --duration 3", "capture.mjpeg", "mjpeg"},
        {"interrupted", "--codec h264", "capture.h264", "h264"},  // no duration: Ctrl-C ends it
    };
    std::vector<std::future<ProgramRun>> runs;
    std::vector<const Case*> ran;
    for (const Case& c : cases) {
        const std::string arguments = std::string("capture --simulate ") + c.arguments +
                                      " --size 352x288 --fps 25 --output " + OutputFolder(c.name) + "/capture";
        const bool interrupted = std::string(c.arguments).find("--duration") == std::string::npos;
        if (interrupted && kEmulated) {
            std::printf("skipped '%s': qemu-user 7.2 resumes a thread with another thread's TLS after a "
                        "signal handler returns, so an interrupted program crashes in pthread_join\n",
                        c.name);
            continue;
        }
        ran.push_back(&c);
        runs.push_back(std::async(std::launch::async, interrupted ? RunInterrupted : RunCapture, arguments));
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Case& c = *ran[i];
        const ProgramRun run = runs[i].get();
        ASSERT_EQ(run.status, 0) << c.name << ":\n" << run.output;
        const long frames = Number(run.output, "channel 1: ([0-9]+) frames");
        const long skipped = std::max(0L, Number(run.output, "([0-9]+) frames before the first key frame"));
        EXPECT_GE(frames - skipped, 25) << c.name << ":\n" << run.output;  // a second of video at least
        const std::string file = OutputFolder(c.name) + "/" + c.file;
        EXPECT_TRUE(std::regex_search(run.output, std::regex("play it with: ffplay -framerate [0-9]+ " + file)))
            << run.output;

        // Every frame decodes, at the size asked for, and ffprobe has nothing to complain about.
        const ProgramRun probe = RunProgram(
            "ffprobe", "-v error -count_frames -select_streams v:0 -show_entries "
                       "stream=codec_name,width,height,nb_read_frames -of csv=p=0 " + file);
        EXPECT_EQ(probe.status, 0) << c.name << ": " << probe.output;
        EXPECT_EQ(probe.output, std::string(c.codec) + ",352,288," + std::to_string(frames - skipped) + "\n")
            << c.name;
    }
}

TEST(CaptureProgramTest, UnusableCameraEndsWithTheFailedStepWithinItsBound) {
    camsim::CameraConfig config;
    config.mediaDir = QUILLON_TESTDATA_DIR;
    config.password = "secret";
    camsim::CameraSimulator camera(config);
    ASSERT_TRUE(camera.Start());
    std::uint16_t closedPort = 0;
    kestrel::testing::CloseSocket(kestrel::testing::ListenLoopback(closedPort));
    std::uint16_t silentPort = 0;  // accepts connections (the kernel does) and never answers
    const kestrel::testing::SocketHandle silent = kestrel::testing::ListenLoopback(silentPort);
    ASSERT_NE(silent, kestrel::testing::kNoSocket);

    struct Case {
        const char* name;
        std::uint16_t port;
        int connectSeconds;  // long enough for the driver to have judged its first attempt
        const char* step;    // what the message must name
    } cases[] = {
        {"wrong password", camera.WebPort(), 3, "login refused"},
        {"no camera", closedPort, 3, "unreachable"},
        // A request without an answer takes the driver's 5 s operation time-out to fail.
        {"port answering nothing", silentPort, 8, "not answering"},
    };
    std::vector<std::future<ProgramRun>> runs;
    for (const Case& c : cases) {
        runs.push_back(std::async(std::launch::async, RunCapture,
                                  "capture --address 127.0.0.1 --port " + std::to_string(c.port) +
                                      " --password wrong --connect-timeout " + std::to_string(c.connectSeconds) +
                                      " --output " + OutputFolder("failure") + "/" + std::to_string(c.port)));
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Case& c = cases[i];
        const ProgramRun run = runs[i].get();
        EXPECT_EQ(run.status, 1) << c.name << ":\n" << run.output;
        const std::string failure = "no video from 127.0.0.1:" + std::to_string(c.port) + " channel 1 within ";
        const std::size_t at = run.output.find(failure);
        ASSERT_NE(at, std::string::npos) << c.name << ":\n" << run.output;
        const std::string line = run.output.substr(at, run.output.find('\n', at) - at);
        EXPECT_NE(line.find(c.step), std::string::npos) << c.name << ": " << line;
        // The wait for video, then the channel's stop bound (twice the 5 s operation time-out).
        EXPECT_LT(run.seconds, c.connectSeconds + 10 + 3) << c.name;
    }
    kestrel::testing::CloseSocket(silent);
}

TEST(CaptureProgramTest, QueryPrintsTheCameraOrWhyNot) {
    camsim::CameraConfig config;
    config.mediaDir = QUILLON_TESTDATA_DIR;
    config.password = "secret";
    camsim::CameraSimulator camera(config);
    ASSERT_TRUE(camera.Start());
    const std::string address = "--address 127.0.0.1 --port " + std::to_string(camera.WebPort());

    ProgramRun run = RunCapture("query " + address + " --password secret");
    EXPECT_EQ(run.status, 0) << run.output;
    for (const char* line : {"model: Cisco CIVS-IPC-4500\n", "series: 2\n", "video standard: 2 (576 lines, PAL)\n",
                             "codecs: H.264, JPEG\n", "resolution 704x576: frame interval", "inputs: 2, outputs: 2\n"}) {
        EXPECT_NE(run.output.find(line), std::string::npos) << line << " in:\n" << run.output;
    }
    run = RunCapture("query " + address + " --password wrong");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("the capability query of 127.0.0.1:" + std::to_string(camera.WebPort()) +
                              " failed: Failed to get camera properties"),
              std::string::npos)
        << run.output;
}

TEST(CaptureProgramTest, IoSetsOutputsAndPrintsInputChanges) {
    camsim::CameraConfig config;
    config.mediaDir = QUILLON_TESTDATA_DIR;
    camsim::CameraSimulator camera(config);
    ASSERT_TRUE(camera.Start());
    auto run = std::async(std::launch::async, RunCapture,
                          "io --address 127.0.0.1 --port " + std::to_string(camera.WebPort()) +
                              " --set 2=active --duration 5");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(camera.Execute("input 1 2").rfind("OK", 0), 0u);  // the driver polls every 2 s
    const ProgramRun io = run.get();
    EXPECT_EQ(io.status, 0) << io.output;
    EXPECT_NE(io.output.find("digital I/O: 2 input(s), 2 output(s)"), std::string::npos) << io.output;
    EXPECT_NE(io.output.find("output 2 to active: accepted"), std::string::npos) << io.output;
    EXPECT_NE(io.output.find("input 1: active (2)"), std::string::npos) << io.output;
    EXPECT_NE(camera.Execute("triggers").find("2:2"), std::string::npos) << camera.Execute("triggers");
}

TEST(CaptureProgramTest, BadArgumentsAndHelpAnswerAtOnce) {
    struct Case {
        const char* arguments;
        int status;
        const char* says;
    } cases[] = {
        {"", 2, "no command given"},
        {"capture --simulate --fps 0", 2, "bad value '0' for --fps (1 to 60)"},
        {"capture --simulate --codec vp8", 2, "run 'quillon-capture capture --help'"},
        {"capture", 2, "capture needs --address HOST or --simulate"},
        {"--help", 0, "usage: quillon-capture COMMAND"},
        {"capture --help", 0, "--transport rtsp|http"},
        {"io --help", 0, "--set PORT=active|inactive"},
        {"query --help", 0, "usage: quillon-capture query"},
        {"capture --simulate --library /nonexistent/libquillon.so --duration 1", 1,
         "cannot load the driver library /nonexistent/libquillon.so"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = RunCapture(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << ":\n" << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << ":\n" << run.output;
        EXPECT_LT(run.seconds, 5) << c.arguments;
    }
}

}  // namespace
