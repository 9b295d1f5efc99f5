// A simulator on free ports for each test, and the driver's own clients pointed at it.
#ifndef QUILLON_TESTS_TOOLS_CAMSIM_FIXTURE_H
#define QUILLON_TESTS_TOOLS_CAMSIM_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>

#include "camsim/camera_simulator.h"
#include "rtsp/rtsp_client.h"
#include "webapi/cisco_client.h"

namespace camsim {

class CamsimTest : public ::testing::Test {
protected:
    void StartCamera(CameraConfig config = CameraConfig()) {
        config.mediaDir = QUILLON_TESTDATA_DIR;
        config.senderReportMs = 300;
        camera = std::make_unique<CameraSimulator>(config);
        ASSERT_TRUE(camera->Start());
    }

    kestrel::DEVICE_INFO Device(const std::string& password = "admin") const {
        kestrel::DEVICE_INFO device;
        device.host = "127.0.0.1";
        device.port = camera->WebPort();
        device.user = "admin";
        device.password = password;
        device.operationTimeout = 2000;
        return device;
    }

    std::string DescribePath(const std::string& session, unsigned channel, const std::string& name) const {
        return "StreamingSetting?version=1.0&action=getRTSPStream&sessionID=" + session +
               "&ChannelID=" + std::to_string(channel) + "&ChannelName=" + name;
    }

    kestrel::RTSPConnectSettings RtspSettings(const std::string& session, unsigned channel = 1) const {
        kestrel::RTSPConnectSettings settings;
        settings.host = "127.0.0.1";
        settings.serverPort = camera->RtspPort();
        settings.user = "admin";
        settings.password = "admin";
        settings.receiveTimeout = 2000;
        const std::string name = "Channel" + std::to_string(channel);
        settings.describePath = DescribePath(session, channel, name);
        settings.setupPath = settings.playPath = settings.teardownPath =
            "ChannelID=" + std::to_string(channel) + "&ChannelName=" + name;
        return settings;
    }

    std::unique_ptr<CameraSimulator> camera;
};

}  // namespace camsim

#endif
