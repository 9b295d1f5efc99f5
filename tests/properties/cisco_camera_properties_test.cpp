#include "properties/cisco_camera_properties.h"

#include <gtest/gtest.h>

#include <chrono>

#include "host/capability_host.h"
#include "properties/camera_test_device.h"

namespace kestrel {
namespace {

using quillon_host::CHostCapabilityResults;
using testing::CameraPeer;
using testing::CameraPeerOptions;
using Properties = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

struct SeriesCase {
    const char* what;
    const char* model;
    const char* cameraStandard;  // the stream's videoStandardType
    unsigned requestedStandard;
    unsigned inputs;
    unsigned outputs;
    Properties properties;  // in the order written
    std::vector<std::string> resolutions;
    std::uint32_t resolutionInterval;
    std::vector<std::uint32_t> intervals;
    std::uint32_t defaultInterval;
    const char* videoStandardValue;
    const char* seriesValue;
};

const std::vector<std::uint32_t> kSeries1Pal = {1000, 500, 333, 250, 200, 166, 125, 100, 66, 50, 40};

const SeriesCase kSeriesCases[] = {
    {"series 1, 576 lines", "CIVS-IPC-2500", "2", 0, 2, 2,
     {{0, 1}, {2, 2}, {3, 2}, {11, 0}, {12, 0}, {6, 1}, {7, 1}},
     {"720x576", "704x576", "352x288"}, 40, kSeries1Pal, 40, "2", "1"},
    {"series 1, 480 lines: 30 fps joins", "CIVS-IPC-2500", "1", 1, 2, 2,
     {{0, 1}, {2, 2}, {3, 2}, {11, 0}, {12, 0}, {6, 1}, {7, 1}},
     {"720x480", "704x480", "352x240"}, 33,
     {1000, 500, 333, 250, 200, 166, 125, 100, 66, 50, 40, 33}, 33, "1", "1"},
    {"series 2, 576 lines: shared rates once", "CIVS-IPC-4500", "2", 0, 2, 2,
     {{0, 1}, {2, 2}, {3, 2}, {11, 0}, {12, 0}, {8, 1}, {7, 1}},
     {"1920x1080", "1280x720", "720x576", "704x576", "352x288"}, 33,
     {1000, 333, 200, 166, 125, 100, 76, 66, 50, 40, 33}, 33, "2", "2"},
    {"series 2, camera at 480 lines, host asked for 576", "CIVS-IPC-4500", "1", 0, 2, 2,
     {{0, 1}, {2, 2}, {3, 2}, {11, 0}, {12, 0}, {8, 1}, {7, 1}},
     {"1920x1080", "1280x720", "720x480", "704x480", "352x240"}, 33,
     {1000, 333, 200, 166, 125, 100, 66, 50, 40, 33}, 33, "2", "2"},
    {"no inputs: property 2 not written", "CIVS-IPC-4500", "2", 0, 0, 1,
     {{0, 1}, {3, 1}, {11, 0}, {12, 0}, {8, 1}, {7, 1}},
     {"1920x1080", "1280x720", "720x576", "704x576", "352x288"}, 33,
     {1000, 333, 200, 166, 125, 100, 76, 66, 50, 40, 33}, 33, "2", "2"},
};

TEST(CiscoCameraPropertiesTest, QueryAndSaveWriteTheSeriesTables) {
    for (const SeriesCase& c : kSeriesCases) {
        SCOPED_TRACE(c.what);
        CameraPeerOptions options;
        options.model = c.model;
        options.videoStandard = c.cameraStandard;
        options.inputs = c.inputs;
        options.outputs = c.outputs;
        CameraPeer camera(options);
        if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();

        CCiscoCameraProperties properties(QueryDevice(camera.WebPort()), c.requestedStandard);
        unsigned code = 0;
        ASSERT_TRUE(properties.Query(&code));
        EXPECT_EQ(code, 0u);
        CHostCapabilityResults results;
        ASSERT_TRUE(properties.Save(&results));

        const auto s = results.Snapshot();
        EXPECT_EQ(s.modelName, std::string("Cisco ") + c.model);
        EXPECT_EQ(s.properties, c.properties);
        std::vector<std::string> sizes;
        for (const auto& item : s.resolutions) {
            sizes.push_back(item.text);
            EXPECT_EQ(item.text, std::to_string(item.width) + "x" + std::to_string(item.height));
            EXPECT_EQ(item.frameInterval, c.resolutionInterval) << item.text;
        }
        EXPECT_EQ(sizes, c.resolutions);
        EXPECT_EQ(s.frameIntervals, c.intervals);
        EXPECT_TRUE(s.defaultSet);
        EXPECT_EQ(s.defaultFrameInterval, c.defaultInterval);
        EXPECT_EQ(s.customProperties.at(0).name, "Video standard");
        EXPECT_EQ(s.customProperties.at(0).value, c.videoStandardValue);
        EXPECT_EQ(s.customProperties.at(1).name, "Camera series");
        EXPECT_EQ(s.customProperties.at(1).value, c.seriesValue);
        EXPECT_EQ(s.connectionItems, (std::map<std::uint32_t, std::string>{
                                         {1, "127.0.0.1"}, {2, std::to_string(camera.WebPort())}, {3, "admin"},
                                         {4, "admin"}}));
        EXPECT_EQ(camera.Execute("sessions"), "OK rtsp=0 web=0");  // logged out again
    }
}

TEST(CiscoCameraPropertiesTest, QueryFailsWithCode3) {
    struct Case {
        const char* what;
        const char* model;
        const char* standard;
        const char* password;
    } cases[] = {
        {"a model without a digit: reads succeed, series unsupported", "CIVS-IPC", "2", "admin"},
        {"first digit neither 2 nor 4", "CIVS-IPC-3500", "2", "admin"},
        {"video standard type 3", "CIVS-IPC-4500", "3", "admin"},
        {"login refused", "CIVS-IPC-4500", "2", "wrong"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CameraPeerOptions options;
        options.model = c.model;
        options.videoStandard = c.standard;
        CameraPeer camera(options);
        if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
        CCiscoCameraProperties properties(QueryDevice(camera.WebPort(), c.password), 0);
        unsigned code = 0;
        EXPECT_FALSE(properties.Query(&code));
        EXPECT_EQ(code, 3u);
    }
}

TEST(CiscoCameraPropertiesTest, UnknownVideoStandardStopsBeforeThePortsAreRead) {
    CameraPeerOptions options;
    options.videoStandard = "3";
    CameraPeer camera(options);
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    // A port read would wait out this delay.
    ASSERT_EQ(camera.Execute("delay http IOPortSetting.xml 2000"), "OK");
    CCiscoCameraProperties properties(QueryDevice(camera.WebPort()), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(properties.Query(nullptr));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

TEST(CiscoCameraPropertiesTest, CancelledQuerySkipsTheRestAndFails) {
    CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    CCiscoCameraProperties properties(QueryDevice(camera.WebPort()), 0);
    properties.Cancel();
    unsigned code = 0;
    // Tables from some of the steps would read as a camera that supports nothing.
    EXPECT_FALSE(properties.Query(&code));
    EXPECT_EQ(code, CCiscoCameraProperties::kQueryFailed);
    EXPECT_EQ(properties.FirstCodec(), 0u);
    EXPECT_EQ(properties.GetCameraSeries(), CCiscoCameraProperties::kSeriesUnknown);
}

}  // namespace
}  // namespace kestrel
