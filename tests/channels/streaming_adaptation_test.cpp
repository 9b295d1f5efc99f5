#include "channels/streaming_adaptation.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using ipcapture::CHANNEL_PARAMS;

STREAMING_CHANNEL Stream(const char* name, const char* standard) {
    STREAMING_CHANNEL entry;
    entry.channelID = "1";
    entry.channelName = name;
    entry.enabled = "1";
    entry.streamingTransportType = "1";
    entry.transport.rtspPortNo = "8554";
    entry.video.enabled = "1";
    entry.video.videoStandardType = standard;
    entry.video.videoCodecType = "2";
    entry.video.videoResolutionWidth = "640";
    entry.video.videoResolutionHeight = "480";
    entry.video.maxFrameRate = "30";
    return entry;
}

STREAMING_SETTING TwoStreams(const char* otherStandard = "2") {
    STREAMING_SETTING setting;
    setting.channels = {Stream("Front Door", "2"), Stream("Channel2", otherStandard)};
    return setting;
}

TEST(StreamingAdaptation, H264StreamTakesTheRequestAndOthersAreDisabled) {
    for (const char* otherStandard : {"2", "1"}) {
        STREAMING_SETTING setting = TwoStreams(otherStandard);
        StreamRequest request;
        request.codec = ipcapture::kCodecH264;
        request.streamName = "Channel1";
        request.params = CHANNEL_PARAMS{40, 50, 704, 576};
        EXPECT_TRUE(AdaptStreamingSetting(setting, request));

        const VIDEO_SETTING& own = setting.channels[0].video;
        EXPECT_EQ(setting.channels[0].enabled, "1");
        EXPECT_EQ(own.videoCodecType, "4");
        EXPECT_EQ(own.maxFrameRate, "25");
        EXPECT_EQ(own.videoResolutionWidth, "704");
        EXPECT_EQ(own.videoResolutionHeight, "576");
        EXPECT_EQ(own.fixedQuality, "50");
        EXPECT_EQ(own.videoQualityControlType, "2");
        EXPECT_EQ(own.keyFrameInterval, "1000");
        EXPECT_EQ(own.vbrLowerCap, "1000");
        EXPECT_EQ(own.vbrUpperCap, "6000");
        // The camera's own name and port win over the defaults.
        EXPECT_EQ(request.streamName, "Front Door");
        EXPECT_EQ(request.rtspPort, 8554);

        const STREAMING_CHANNEL& other = setting.channels[1];
        EXPECT_EQ(other.enabled, "0");
        EXPECT_EQ(other.video.enabled, "0");
        EXPECT_EQ(other.video.maxFrameRate, "1");
        EXPECT_EQ(other.video.videoResolutionWidth, "352");
        EXPECT_EQ(other.video.videoResolutionHeight, std::string(otherStandard) == "2" ? "288" : "240");

        // What the camera now holds needs no second write.
        EXPECT_FALSE(AdaptStreamingSetting(setting, request));
    }
}

TEST(StreamingAdaptation, JpegSizesAndRatesBecomeWhatTheCameraCanSend) {
    struct Case {
        CHANNEL_PARAMS asked;
        CHANNEL_PARAMS got;
        const char* maxFrameRate;
    };
    const Case cases[] = {
        {{33, 60, 1280, 960}, {40, 60, 720, 576}, "25"},
        {{90, 60, 704, 576}, {76, 60, 704, 576}, "13"},
        {{400, 60, 352, 288}, {1000, 60, 352, 288}, "1"},
        {{250, 60, 352, 288}, {200, 60, 352, 288}, "5"},
        {{0, 60, 704, 576}, {40, 60, 704, 576}, "25"},  // 0: the fastest rate
    };
    for (const Case& c : cases) {
        STREAMING_SETTING setting = TwoStreams();
        StreamRequest request;
        request.codec = ipcapture::kCodecJpeg;
        request.streamNumber = 2;
        request.streamName = "Channel2";
        request.params = c.asked;
        AdaptStreamingSetting(setting, request);
        EXPECT_EQ(request.params.frameInterval, c.got.frameInterval) << c.asked.frameInterval;
        EXPECT_EQ(request.params.width, c.got.width);
        EXPECT_EQ(request.params.height, c.got.height);
        EXPECT_EQ(setting.channels[1].video.videoCodecType, "2");
        EXPECT_EQ(setting.channels[1].video.maxFrameRate, c.maxFrameRate);
        EXPECT_EQ(setting.channels[1].video.videoResolutionWidth, std::to_string(c.got.width));
        EXPECT_EQ(setting.channels[0].enabled, "0");
    }
}

TEST(StreamingAdaptation, ZeroFrameIntervalAsksForTheStandardsFastestRate) {
    for (const auto& [standard, rate] : {std::pair{"2", "25"}, std::pair{"1", "30"}, std::pair{"", "25"}}) {
        STREAMING_SETTING setting;
        setting.channels = {Stream("Channel1", standard)};
        StreamRequest request;
        request.params = CHANNEL_PARAMS{0, 50, 704, 576};
        AdaptStreamingSetting(setting, request);
        EXPECT_EQ(setting.channels[0].video.maxFrameRate, rate) << standard;
    }
}

TEST(StreamingAdaptation, EmptyNameAndPortAreFilledFromTheRequest) {
    STREAMING_SETTING setting;
    setting.channels = {Stream("", "2")};
    setting.channels[0].transport.rtspPortNo.clear();
    StreamRequest request;
    request.streamName = "Channel1";
    request.params = CHANNEL_PARAMS{40, 50, 704, 576};
    AdaptStreamingSetting(setting, request);
    EXPECT_EQ(setting.channels[0].channelName, "Channel1");
    EXPECT_EQ(setting.channels[0].transport.rtspPortNo, "554");
    EXPECT_EQ(request.rtspPort, 554);
}

TEST(StreamingAdaptation, APortTheCameraNamesIsTakenOnlyWhenItIsAPort) {
    struct Case {
        const char* rtspPortNo;
        std::uint16_t port;
        bool unusable;
    };
    const Case cases[] = {
        {"8554", 8554, false},
        {"8554 ", 8554, false},  // leading digits, as the camera writes them
        {"65535", 65535, false},
        {"rtsp", 554, true},     // no digits at all: was port 0, for good
        {"0", 554, true},
        {"65536", 554, true},    // was cut to 16 bits: port 0
        {"4294967850", 554, true},  // was cut to 16 bits: port 554 by chance
        {"-1", 554, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rtspPortNo);
        STREAMING_SETTING setting;
        setting.channels = {Stream("Channel1", "2")};
        setting.channels[0].transport.rtspPortNo = c.rtspPortNo;
        StreamRequest request;
        request.rtspPort = 8000;  // what an earlier connection took
        request.params = CHANNEL_PARAMS{40, 50, 704, 576};
        AdaptStreamingSetting(setting, request);
        EXPECT_EQ(request.rtspPort, c.port);
        EXPECT_EQ(request.unusableRtspPort, c.unusable ? c.rtspPortNo : "");
        EXPECT_EQ(setting.channels[0].transport.rtspPortNo, c.rtspPortNo);  // the camera's own stays
    }
}

TEST(StreamingAdaptation, MjpegRateIsCappedAndOnlyTheFirstStreamRuns) {
    struct Case {
        std::uint32_t frameInterval;
        const char* maxFrameRate;
    };
    for (const Case& c : {Case{40, "15"}, Case{100, "10"}, Case{2000, "0"}, Case{0, "15"}}) {
        STREAMING_SETTING setting = TwoStreams();
        setting.channels[0].channelName.clear();
        AdaptMjpegSetting(setting, CHANNEL_PARAMS{c.frameInterval, 70, 352, 288});
        const STREAMING_CHANNEL& first = setting.channels[0];
        EXPECT_EQ(first.video.maxFrameRate, c.maxFrameRate) << c.frameInterval;
        EXPECT_EQ(first.streamingTransportType, "3");
        EXPECT_EQ(first.video.videoCodecType, "2");
        EXPECT_EQ(first.video.fixedQuality, "70");
        EXPECT_EQ(first.channelName, "Channel1");
        EXPECT_EQ(setting.channels[1].enabled, "0");
        EXPECT_EQ(setting.channels[1].video.enabled, "1");  // only the stream itself is switched off
    }
}

}  // namespace
}  // namespace kestrel
