#include "driver/quillon_driver.h"

#include <gtest/gtest.h>

#include <thread>

#include "host/reference_host.h"

namespace kestrel {
namespace {

using namespace quillon_host;

struct InitializedDriver {
    explicit InitializedDriver(HostCameraConfig config) : settings(std::move(config)) {
        initialized = driver.Init(&debugSink, &pool, &settings);
    }
    CHostDebugSink debugSink;
    CHostFramePool pool;
    CHostDriverSettings settings;
    CQuillonDriver driver;
    bool initialized = false;
};

HostCameraConfig WithParameters(std::vector<std::string> parameters) {
    HostCameraConfig config;
    config.parameters = std::move(parameters);
    return config;
}

TEST(CIPCaptureDriverTest, InitCopiesTheHostsSettings) {
    HostCameraConfig config;
    config.address = "cam.example";
    config.port = 8080;
    config.codec = ipcapture::kCodecMpeg4;
    config.user = "operator";
    config.password = "s3cret";
    config.channelCount = 4;
    config.inputCount = 2;
    config.outputCount = 3;
    InitializedDriver fixture(config);
    ASSERT_TRUE(fixture.initialized);
    CIPCaptureDriver& driver = fixture.driver;

    const DEVICE_INFO info = driver.GetDeviceInfo();
    EXPECT_EQ(info.host, "cam.example");
    EXPECT_EQ(info.port, 8080);
    EXPECT_EQ(info.user, "operator");
    EXPECT_EQ(info.password, "s3cret");
    EXPECT_EQ(info.operationTimeout, 5000u);
    EXPECT_EQ(info.frameTimeout, 5000u);
    EXPECT_EQ(driver.GetCodec(), ipcapture::kCodecMpeg4);
    EXPECT_EQ(driver.GetChannelCount(), 4u);
    EXPECT_EQ(driver.GetIOPortCounts(), std::make_pair(2u, 3u));
    EXPECT_EQ(driver.GetFramePool(), &fixture.pool);
    ASSERT_NE(driver.GetVideoCapture(), nullptr);
    EXPECT_EQ(driver.GetVideoCapture()->GetChannelCount(), 4u);
    ASSERT_NE(driver.GetIOApi(), nullptr);
    EXPECT_EQ(driver.GetIOApi()->GetInputCount(), 2u);
    EXPECT_EQ(driver.GetIOApi()->GetOutputCount(), 3u);
    EXPECT_EQ(driver.QueryExtension(), nullptr);
    EXPECT_EQ(driver.GetAuxiliaryObject(), nullptr);
    EXPECT_EQ(driver.GetReservedValue(), 0u);
}

TEST(CIPCaptureDriverTest, BeforeInitAndAfterUninitThereAreNoObjects) {
    CQuillonDriver driver;
    EXPECT_EQ(driver.GetVideoCapture(), nullptr);
    EXPECT_EQ(driver.GetIOApi(), nullptr);
    EXPECT_EQ(driver.GetCodec(), 0u);
    EXPECT_EQ(driver.GetFramePool(), nullptr);
    EXPECT_EQ(driver.GetParameter(1), "");

    InitializedDriver fixture(HostCameraConfig{});
    ASSERT_TRUE(fixture.initialized);
    fixture.driver.Uninit();
    EXPECT_EQ(fixture.driver.GetVideoCapture(), nullptr);
    EXPECT_EQ(fixture.driver.GetIOApi(), nullptr);
    fixture.driver.Uninit();  // a second Uninit is harmless
}

TEST(CIPCaptureDriverTest, RepeatedInitIsRefusedUntilUninit) {
    InitializedDriver fixture(HostCameraConfig{});
    ASSERT_TRUE(fixture.initialized);
    ipcapture::IIPVideoCapture* capture = fixture.driver.GetVideoCapture();
    HostCameraConfig other;
    other.address = "10.0.0.9";
    CHostDriverSettings otherSettings(other);
    EXPECT_FALSE(fixture.driver.Init(&fixture.debugSink, &fixture.pool, &otherSettings));
    EXPECT_EQ(fixture.driver.GetVideoCapture(), capture);
    EXPECT_EQ(fixture.driver.GetDeviceInfo().host, "127.0.0.1");

    fixture.driver.Uninit();
    EXPECT_TRUE(fixture.driver.Init(&fixture.debugSink, &fixture.pool, &otherSettings));
    EXPECT_EQ(fixture.driver.GetDeviceInfo().host, "10.0.0.9");
}

TEST(CIPCaptureDriverTest, InitWithoutSettingsFails) {
    CHostDebugSink debugSink;
    CHostFramePool pool;
    CQuillonDriver driver;
    EXPECT_FALSE(driver.Init(&debugSink, &pool, nullptr));
    EXPECT_EQ(driver.GetVideoCapture(), nullptr);
}

TEST(CIPCaptureDriverTest, ParametersReadAsTextAndAsIntegers) {
    struct Case {
        const char* value;
        const char* text;
        std::int32_t integer;
    };
    const Case cases[] = {
        {"42", "42", 42},
        {"+12", "+12", 12},
        {"-7", "-7", -7},
        {"007", "007", 7},
        {"(none)", "", IDriver::kNoInteger},  // absent as text, and not an integer
        {"", "", IDriver::kNoInteger},
        {"+", "+", IDriver::kNoInteger},
        {"-", "-", IDriver::kNoInteger},
        {"12a", "12a", IDriver::kNoInteger},
        {" 12", " 12", IDriver::kNoInteger},
        {"1 2", "1 2", IDriver::kNoInteger},
        {"+-1", "+-1", IDriver::kNoInteger},
        {"2147483647", "2147483647", 2147483647},
        {"-2147483647", "-2147483647", -2147483647},
        {"2147483648", "2147483648", IDriver::kNoInteger},  // beyond 32 bits: rejected
        {"99999999999999999999", "99999999999999999999", IDriver::kNoInteger},
        {"-99999999999", "-99999999999", IDriver::kNoInteger},
    };
    std::vector<std::string> parameters;
    for (const Case& c : cases) parameters.push_back(c.value);
    InitializedDriver fixture(WithParameters(parameters));
    ASSERT_TRUE(fixture.initialized);
    for (std::uint32_t key = 1; key <= std::size(cases); ++key) {
        const Case& c = cases[key - 1];
        EXPECT_EQ(fixture.driver.GetParameter(key), c.text) << "value '" << c.value << "'";
        EXPECT_EQ(fixture.driver.GetParameterInt(key), c.integer) << "value '" << c.value << "'";
    }
    EXPECT_EQ(fixture.driver.GetParameter(0), "");
    EXPECT_EQ(fixture.driver.GetParameterInt(std::size(cases) + 1), IDriver::kNoInteger);
}

TEST(CIPCaptureDriverTest, EmptyParameterListLeavesTheTableEmpty) {
    InitializedDriver fixture(WithParameters({}));
    ASSERT_TRUE(fixture.initialized);
    EXPECT_EQ(fixture.driver.GetParameter(1), "");
    EXPECT_EQ(fixture.driver.GetParameterInt(1), IDriver::kNoInteger);
}

TEST(CQuillonDriverTest, CodecAndTransportSelectTheChannelKind) {
    struct Case {
        std::uint32_t codec;
        const char* transport;
        ChannelKind kind;
    };
    const Case cases[] = {
        {1, "", ChannelKind::kJpegRtsp},
        {1, "1", ChannelKind::kMjpegHttp},
        {1, "01", ChannelKind::kJpegRtsp},  // only the exact text "1" means HTTP
        {1, " 1", ChannelKind::kJpegRtsp},
        {1, "http", ChannelKind::kJpegRtsp},
        {2, "", ChannelKind::kMpegRtsp},
        {2, "1", ChannelKind::kMpegRtsp},
        {3, "", ChannelKind::kH264Rtsp},
        {3, "1", ChannelKind::kH264Rtsp},
        {0, "", ChannelKind::kNone},
        {4, "1", ChannelKind::kNone},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SelectChannelKind(c.codec, c.transport), c.kind)
            << "codec " << c.codec << " transport '" << c.transport << "'";
    }
}

TEST(CQuillonDriverTest, FactoryNeedsASink) {
    InitializedDriver fixture(HostCameraConfig{});
    ASSERT_TRUE(fixture.initialized);
    EXPECT_EQ(fixture.driver.CreateChannel(0, nullptr), nullptr);
}

TEST(CQuillonDriverTest, UnsupportedCodecIsReportedAndLeavesTheSlotEmpty) {
    HostCameraConfig config;
    config.codec = 4;
    InitializedDriver fixture(config);
    ASSERT_TRUE(fixture.initialized);
    CRecordingSink sink;
    CHostChannelSettings settings(HostChannelConfig{});
    ipcapture::IIPVideoCapture* capture = fixture.driver.GetVideoCapture();
    EXPECT_TRUE(capture->StartChannel(0, &sink, &settings));
    std::uint32_t state = 99;
    std::uint32_t reserved = 99;
    EXPECT_FALSE(capture->GetChannelState(0, &state, &reserved, nullptr, 0));
    const std::vector<DebugRecord> messages = fixture.debugSink.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].level, 1);
    EXPECT_EQ(messages[0].text,
              "kestrel::CQuillonDriver::CreateChannel: codec 4 is not supported (channel 0)");
}

TEST(CIPCaptureDriverTest, DebugMessagesReachTheSinkFromAnyThread) {
    InitializedDriver fixture(HostCameraConfig{});
    ASSERT_TRUE(fixture.initialized);
    fixture.driver.DebugMessage(2, "%s", "");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) fixture.driver.DebugMessage(1, "thread %d message %d", t, i);
        });
    }
    for (std::thread& thread : threads) thread.join();
    const std::string longText(10000, 'x');
    fixture.driver.DebugMessage(2, "%s!", longText.c_str());

    const std::vector<DebugRecord> messages = fixture.debugSink.Messages();
    ASSERT_EQ(messages.size(), 202u);
    EXPECT_EQ(messages.front().level, 2);
    EXPECT_EQ(messages.front().text, "");
    EXPECT_EQ(messages.back().text, longText + "!");
}

TEST(CIPCaptureDriverTest, DebugMessageWithoutSinkIsDropped) {
    CHostFramePool pool;
    CHostDriverSettings settings(HostCameraConfig{});
    CQuillonDriver driver;
    ASSERT_TRUE(driver.Init(nullptr, &pool, &settings));
    driver.DebugMessage(1, "%s: %d", "nobody listens", 1);
}

TEST(ExportsTest, DestroyEntryFreesTheDriver) {
    // Through the host's face, as DeleteIPCapture does: the first table entry with flag 1.
    ipcapture::IIPCaptureDriver* driver = new CQuillonDriver;
    EXPECT_EQ(driver->Destroy(1), driver);
}

}  // namespace
}  // namespace kestrel
