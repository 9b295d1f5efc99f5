#include "properties/cisco_camera_properties.h"

#include <initializer_list>

namespace kestrel {

using namespace ipcapture;

namespace {

constexpr const char kVendor[] = "Cisco";
// videoStandardType of the camera's streaming settings.
constexpr const char kCameraStandard576[] = "2";
constexpr const char kCameraStandard480[] = "1";

// Codec codes of the two series, in the order they are listed.
constexpr std::uint32_t kCodecSeries1[] = {4, 1};
constexpr std::uint32_t kCodecSeries2[] = {16, 1};

constexpr std::uint32_t kSeries2FrameInterval = 33;
constexpr std::uint32_t kValueListFrameInterval = 1;
constexpr std::uint32_t kCustomVideoStandard = 0;
constexpr std::uint32_t kCustomCameraSeries = 1;

struct Size {
    std::uint16_t width;
    std::uint16_t height;
};

void InsertRates(std::set<std::int32_t>& rates, std::initializer_list<std::int32_t> added) {
    rates.insert(added.begin(), added.end());
}

}  // namespace

CCiscoCameraProperties::CCiscoCameraProperties(const DEVICE_INFO& connection, const unsigned& requestedVideoStandard)
    : CCameraPropertiesEx(connection, requestedVideoStandard), m_videoStandard(requestedVideoStandard) {}

void CCiscoCameraProperties::Abort() {
    CCameraPropertiesEx::Abort();
    m_client.Abort();
}

bool CCiscoCameraProperties::Query(unsigned* errorCode) {
    bool ok = m_client.Connect(GetConnection());
    if (ok) {
        for (bool (CCiscoCameraProperties::*read)() :
             {&CCiscoCameraProperties::ReadDeviceInfo, &CCiscoCameraProperties::ReadVideoStandard,
              &CCiscoCameraProperties::ReadIOPorts}) {
            if (!ok || IsCancelled()) break;
            ok = (this->*read)();
        }
        m_client.Disconnect();
        // A query cancelled between its steps has fewer tables than the camera: a failure.
        ok = ok && !IsCancelled() && BuildTables();
    }
    if (!ok && errorCode) *errorCode = kQueryFailed;
    return ok;
}

bool CCiscoCameraProperties::ReadDeviceInfo() {
    DEVICE_BASIC_INFO info;
    if (!m_client.GetDeviceBasicInfo(info) || info.model.empty()) return false;
    SetVendor(kVendor);
    SetModelName(std::string(kVendor) + " " + info.model);
    // The first digit of the model names the series; a model without digits stays undetermined.
    const std::size_t digit = info.model.find_first_of("0123456789");
    if (digit != std::string::npos) {
        const char first = info.model[digit];
        m_series = first == '4' ? kSeries2 : first == '2' ? kSeries1 : kSeriesUnknown;
    }
    return true;
}

bool CCiscoCameraProperties::ReadVideoStandard() {
    STREAMING_SETTING setting;
    if (!m_client.GetStreamingSetting(setting) || setting.channels.empty()) return false;
    const std::string& type = setting.channels.front().video.videoStandardType;
    if (type == kCameraStandard576) {
        m_videoStandard = kStandard576;
    } else if (type == kCameraStandard480) {
        m_videoStandard = kStandard480;
    } else {
        return false;
    }
    return true;
}

bool CCiscoCameraProperties::ReadIOPorts() {
    IO_PORT_SETTING setting;
    if (!m_client.GetIOPortSetting(setting)) return false;
    SetInputCount(static_cast<std::uint32_t>(setting.inputs.size()));
    SetOutputCount(static_cast<std::uint32_t>(setting.outputs.size()));
    return true;
}

bool CCiscoCameraProperties::BuildTables() {
    switch (m_series) {
        case kSeries1:
            BuildSeries1();
            return true;
        case kSeries2:
            BuildSeries2();
            return true;
        default:
            return false;  // a camera family this driver has no tables for
    }
}

void CCiscoCameraProperties::BuildSeries1() {
    SetPropertyZeroValue(1);
    for (std::uint32_t codec : kCodecSeries1) AddCodec(codec);
    InsertRates(m_frameRates, {1, 2, 3, 4, 5, 6, 8, 10, 15, 20, 25});
    if (m_videoStandard == kStandard480) InsertRates(m_frameRates, {30});
    const std::int32_t highest = *m_frameRates.rbegin();
    m_defaultFrameInterval = static_cast<std::uint32_t>(1000 / highest);
    const bool is480 = m_videoStandard == kStandard480;
    const std::uint16_t lines = is480 ? 480 : 576;
    for (Size size : {Size{720, lines}, Size{704, lines}, Size{352, static_cast<std::uint16_t>(lines / 2)}}) {
        CResolution resolution(size.width, size.height);
        resolution.AddFrameInterval(m_defaultFrameInterval, static_cast<std::uint32_t>(highest));
        AddResolution(resolution);
    }
}

void CCiscoCameraProperties::BuildSeries2() {
    SetPropertyZeroValue(1);
    for (std::uint32_t codec : kCodecSeries2) AddCodec(codec);
    InsertRates(m_frameRates, {1, 3, 5, 6, 8, 10, 15, 20, 25, 30});
    if (m_videoStandard == kStandard480) {
        InsertRates(m_frameRates, {1, 3, 5, 10, 15, 30});
    } else {
        InsertRates(m_frameRates, {1, 5, 13, 25});
    }
    m_defaultFrameInterval = kSeries2FrameInterval;
    const std::uint32_t interval = static_cast<std::uint32_t>(1000 / *m_frameRates.rbegin());
    const std::uint16_t lines = m_videoStandard == kStandard480 ? 480 : 576;
    for (Size size : {Size{1920, 1080}, Size{1280, 720}, Size{720, lines}, Size{704, lines},
                      Size{352, static_cast<std::uint16_t>(lines / 2)}}) {
        CResolution resolution(size.width, size.height);
        resolution.AddFrameInterval(interval, 0);
        AddResolution(resolution);
    }
}

bool CCiscoCameraProperties::Save(ICapabilityResults* results) {
    // Checked first: the frame intervals below are written before the generic part would check.
    if (!results) return false;
    if (ICapabilityValueList* intervals = results->GetValueList(kValueListFrameInterval)) {
        for (std::int32_t rate : m_frameRates) {
            if (rate != 0) intervals->AddValue(static_cast<std::uint32_t>(1000 / rate));
        }
        intervals->SetDefaultValue(m_defaultFrameInterval);
    }
    if (!CCameraPropertiesEx::Save(results)) return false;
    // The standard the host asked for, not the camera's.
    WriteCustomProperty(results, kCustomVideoStandard, "Video standard",
                        GetRequestedVideoStandard() == kStandard480 ? "1" : "2");
    WriteCustomProperty(results, kCustomCameraSeries, "Camera series", m_series == kSeries1 ? "1" : "2");
    return true;
}

}  // namespace kestrel
