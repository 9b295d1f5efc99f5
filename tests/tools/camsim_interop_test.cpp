// Independent clients against the simulator: ffmpeg decodes its RTSP streams (all three codecs,
// over UDP) and its MJPEG stream without errors, and curl speaks its web API. Skipped where a
// tool is not installed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/camsim_fixture.h"

namespace camsim {
namespace {

bool Installed(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; its exit status and everything it printed.
int RunTool(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char chunk[4096];
    std::size_t read;
    while ((read = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, read);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CamsimInteropTest : public CamsimTest {
protected:
    std::string Url(unsigned channel) {
        EXPECT_TRUE(web.Connect(Device()));
        return "rtsp://127.0.0.1:" + std::to_string(camera->RtspPort()) + "/" +
               DescribePath(web.GetSessionId(), channel, "Channel" + std::to_string(channel));
    }
    kestrel::CCiscoClient web;
};

TEST_F(CamsimInteropTest, FfmpegDecodesEveryRtspCodecWithoutErrors) {
    if (!Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    struct Case {
        const char* codecType;
        const char* decoder;
    } cases[] = {{kCodecH264, "h264"}, {kCodecMpeg4, "mpeg4"}, {kCodecJpeg, "mjpeg"}};
    for (const Case& c : cases) {
        CameraConfig config;
        config.streams = {{"Channel1", "2", c.codecType, 352, 288, 25, 50, true}};
        StartCamera(config);
        std::string output;
        // Decodes two seconds and prints one line per decoded frame; any decoder complaint fails.
        int status = RunTool("timeout 30 ffmpeg -nostdin -v error -rtsp_transport udp -i '" + Url(1) +
                             "' -t 2 -f framemd5 -", output);
        EXPECT_EQ(status, 0) << c.decoder << ": " << output;
        std::size_t frames = 0;
        for (std::size_t at = output.find("\n0,"); at != std::string::npos; at = output.find("\n0,", at + 1)) ++frames;
        EXPECT_GE(frames, 40u) << c.decoder;
        EXPECT_EQ(output.find("rror"), std::string::npos) << c.decoder << ": " << output.substr(0, 2000);
        std::string probe;
        ASSERT_EQ(RunTool("timeout 30 ffprobe -v error -rtsp_transport udp -show_entries stream=codec_name -of csv=p=0 '" +
                          Url(1) + "'", probe), 0);
        EXPECT_EQ(probe.substr(0, std::string(c.decoder).size()), c.decoder) << probe;
        web.Disconnect();
        camera->Stop();
    }
}

TEST_F(CamsimInteropTest, FfmpegDecodesTheMjpegStream) {
    if (!Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    StartCamera();
    std::string output;
    int status = RunTool("timeout 30 ffmpeg -nostdin -v error -f mpjpeg -i http://127.0.0.1:" +
                         std::to_string(camera->WebPort()) + "/img/video.mjpeg -frames:v 20 -f framemd5 -",
                     output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("\n0,         19,"), std::string::npos) << output.substr(0, 2000);
}

TEST_F(CamsimInteropTest, CurlSpeaksTheWebApiBehindDigest) {
    if (!Installed("curl")) GTEST_SKIP() << "curl not installed";
    CameraConfig config;
    config.httpAuth.scheme = AuthScheme::kDigestQop;
    StartCamera(config);
    const std::string base = "curl -s -i --digest -u admin:admin http://127.0.0.1:" + std::to_string(camera->WebPort());
    std::string login;
    ASSERT_EQ(RunTool(base + "/System.xml -d 'version=1.0&action=login&userName=admin&password=admin'", login), 0);
    std::size_t at = login.find("sessionID: ");
    ASSERT_NE(at, std::string::npos) << login;
    std::string session = login.substr(at + 11, login.find('\r', at) - at - 11);
    std::string info;
    ASSERT_EQ(RunTool(base + "/DeviceBasicInfo.xml?version=1.0\\&action=get\\&sessionID=" + session, info), 0);
    EXPECT_NE(info.find("<model>CIVS-IPC-4500</model>"), std::string::npos) << info;
    std::string refused;
    ASSERT_EQ(RunTool("curl -s -i http://127.0.0.1:" + std::to_string(camera->WebPort()) + "/System.xml", refused), 0);
    EXPECT_EQ(refused.substr(0, 12), "HTTP/1.1 401");
}

}  // namespace
}  // namespace camsim
