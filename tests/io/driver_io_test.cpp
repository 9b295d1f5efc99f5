#include <gtest/gtest.h>

#include "driver/quillon_driver.h"
#include "host/io_host.h"
#include "host/reference_host.h"
#include "support/camera_peer.h"

namespace kestrel {
namespace {

using namespace quillon_host;

struct DriverFixture {
    DriverFixture() {
        HostCameraConfig config;
        config.port = camera.WebPort();
        config.inputCount = 2;
        config.outputCount = 2;
        settings = std::make_unique<CHostDriverSettings>(config);
    }
    testing::CameraPeer camera;
    CHostDebugSink debugSink;
    CHostFramePool pool;
    std::unique_ptr<CHostDriverSettings> settings;
    CHostIOCallback callback;
};

TEST(DriverIOTest, InitCreatesTheCameraIOAndUninitReleasesIt) {
    DriverFixture f;
    if (!f.camera.Problem().empty()) GTEST_SKIP() << f.camera.Problem();
    CQuillonDriver driver;
    ASSERT_TRUE(driver.Init(&f.debugSink, &f.pool, f.settings.get()));
    ipcapture::ICaptureIOApi* io = driver.GetIOApi();
    ASSERT_NE(io, nullptr);
    ASSERT_TRUE(io->SetCallback(&f.callback));
    ASSERT_TRUE(io->Start());
    EXPECT_EQ(f.callback.Changes().size(), 2u);
    EXPECT_EQ(f.camera.Execute("triggers"), "OK 1:1 2:1");
    EXPECT_TRUE(io->Stop());
    driver.Uninit();
    EXPECT_EQ(driver.GetIOApi(), nullptr);
    EXPECT_EQ(f.camera.Execute("sessions"), "OK rtsp=0 web=0");
}

TEST(DriverIOTest, UninitWithoutTheHostsStopStopsTheService) {
    DriverFixture f;
    if (!f.camera.Problem().empty()) GTEST_SKIP() << f.camera.Problem();
    CQuillonDriver driver;
    ASSERT_TRUE(driver.Init(&f.debugSink, &f.pool, f.settings.get()));
    ASSERT_TRUE(driver.GetIOApi()->SetCallback(&f.callback));
    ASSERT_TRUE(driver.GetIOApi()->Start());
    driver.Uninit();  // the threads must not outlive the object they poll for
    EXPECT_EQ(f.camera.Execute("sessions"), "OK rtsp=0 web=0");
}

}  // namespace
}  // namespace kestrel
