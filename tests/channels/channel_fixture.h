// A simulated camera on free ports, a driver whose time-outs a test chooses, and a recording
// sink: what the channel tests drive a channel with.
#ifndef QUILLON_TESTS_CHANNELS_CHANNEL_FIXTURE_H
#define QUILLON_TESTS_CHANNELS_CHANNEL_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsim/camera_simulator.h"
#include "channels/camera_channel.h"
#include "host/reference_host.h"
#include "runtime/driver_interface.h"
#include "runtime/string_helpers.h"

namespace kestrel::testing_support {

// The driver as a channel sees it, with the time-outs and names a test chooses.
class CTestDriver final : public IDriver {
public:
    void DebugMessage(std::uint8_t level, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        const std::string text = FormatStringV(format, args);
        va_end(args);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_messages.push_back({level, text});
        }
        if (onMessage) onMessage(text);
    }
    DEVICE_INFO GetDeviceInfo() override { return device; }
    std::pair<std::uint32_t, std::uint32_t> GetIOPortCounts() override { return {0, 0}; }
    ipcapture::IFramePool* GetFramePool() override { return &pool; }
    std::uint32_t GetReservedValue() override { return 0; }
    std::uint32_t GetCodec() override { return 0; }
    std::uint32_t GetChannelCount() override { return channelCount; }
    std::string GetParameter(std::uint32_t key) override {
        const auto found = parameters.find(key);
        return found != parameters.end() ? found->second : std::string();
    }
    std::int32_t GetParameterInt(std::uint32_t) override { return kNoInteger; }

    std::vector<quillon_host::DebugRecord> Messages() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_messages;
    }
    void ClearMessages() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_messages.clear();
    }
    // How many messages contain `text`.
    std::size_t CountMessages(const std::string& text) {
        std::size_t count = 0;
        for (const quillon_host::DebugRecord& record : Messages()) count += record.text.find(text) != std::string::npos;
        return count;
    }

    DEVICE_INFO device;
    std::uint32_t channelCount = 1;
    std::map<std::uint32_t, std::string> parameters;  // set before a channel starts
    // Sees each message as the host's debug sink would, on the thread that sent it.
    std::function<void(const std::string&)> onMessage;
    quillon_host::CHostFramePool pool{256};

private:
    std::mutex m_lock;
    std::vector<quillon_host::DebugRecord> m_messages;
};

// Polls `condition` every 20 ms until it holds or `timeout` passes.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class ChannelTest : public ::testing::Test {
protected:
    // The simulator alone, the driver's record untouched (channels may be reading it).
    void StartSimulator(camsim::CameraConfig config) {
        config.mediaDir = QUILLON_TESTDATA_DIR;
        config.senderReportMs = 500;
        camera = std::make_unique<camsim::CameraSimulator>(config);
        ASSERT_TRUE(camera->Start());
    }

    void StartCamera(camsim::CameraConfig config = camsim::CameraConfig()) {
        StartSimulator(config);
        driver.device.host = "127.0.0.1";
        driver.device.port = camera->WebPort();
        driver.device.user = config.user;
        driver.device.password = config.password;
    }

    // Short supervision: a second without frames is a time-out, a stop waits a second at most
    // before it cuts the worker's exchanges short.
    void UseShortTimeouts() {
        driver.device.frameTimeout = 1000;
        driver.device.operationTimeout = 1000;
    }

    unsigned Count(const char* protocol, const char* request) {
        const std::string answer = camera->Execute(std::string("count ") + protocol + " " + request);
        return answer.rfind("OK ", 0) == 0 ? unsigned(std::stoul(answer.substr(3))) : 0;
    }

    std::string StatusText(ICameraChannel& channel) { return channel.GetStatusText(); }

    std::unique_ptr<camsim::CameraSimulator> camera;
    CTestDriver driver;
    quillon_host::CRecordingSink sink;
};

}  // namespace kestrel::testing_support

#endif
