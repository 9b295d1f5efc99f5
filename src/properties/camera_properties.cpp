#include "properties/camera_properties.h"

#include "runtime/string_helpers.h"

namespace kestrel {

using namespace ipcapture;

namespace {

// The property each feature flag sets, in flag order.
constexpr std::array<std::uint32_t, CCameraProperties::kFeatureCount> kFeatureProperties = {4, 1, 5, 11, 12};
// The first three features are written only when set; the last two always, as 0 or 1.
constexpr std::size_t kAlwaysWrittenFeatures = 3;

constexpr std::uint32_t kPropertyZero = 0;
constexpr std::uint32_t kPropertyInputCount = 2;
constexpr std::uint32_t kPropertyOutputCount = 3;

// The result property a codec code sets to 1; 0 for codes without one.
std::uint32_t CodecProperty(std::uint32_t codec) {
    switch (codec) {
        case 1:
        case 2:
            return 7;
        case 4:
            return 6;
        case 16:
            return 8;
        default:
            return 0;
    }
}

constexpr std::uint32_t kConnectionAddress = 1;
constexpr std::uint32_t kConnectionPort = 2;
constexpr std::uint32_t kConnectionUser = 3;
constexpr std::uint32_t kConnectionPassword = 4;

constexpr const char kNoValue[] = "(none)";

void WriteConnectionItem(ICapabilityResults* results, std::uint32_t index, const std::string& text) {
    if (ICapabilityItem* item = results->GetConnectionItem(index)) item->SetText(text.c_str());
}

}  // namespace

void CResolution::AddFrameInterval(std::uint32_t interval, std::uint32_t minimum) {
    if (interval >= minimum) m_frameIntervals.push_back(interval);
}

std::uint32_t CResolution::FirstFrameInterval() {
    m_frameIntervalCursor = 0;
    return NextFrameInterval();
}

std::uint32_t CResolution::NextFrameInterval() {
    if (m_frameIntervalCursor >= m_frameIntervals.size()) return 0;
    return m_frameIntervals[m_frameIntervalCursor++];
}

std::uint32_t CCameraProperties::FirstCodec() {
    m_codecCursor = 0;
    return NextCodec();
}

std::uint32_t CCameraProperties::NextCodec() {
    if (m_codecCursor >= m_codecs.size()) return 0;
    return m_codecs[m_codecCursor++];
}

CResolution* CCameraProperties::FirstResolution() {
    m_resolutionCursor = 0;
    return NextResolution();
}

CResolution* CCameraProperties::NextResolution() {
    if (m_resolutionCursor >= m_resolutions.size()) return nullptr;
    return &m_resolutions[m_resolutionCursor++];
}

void CCameraProperties::AddResolution(const CResolution& resolution) {
    if (resolution.GetWidth() != 0) {
        for (const CResolution& listed : m_resolutions) {
            if (listed.GetWidth() == resolution.GetWidth() && listed.GetHeight() == resolution.GetHeight()) return;
        }
    }
    m_resolutions.push_back(resolution);
}

CCameraPropertiesEx::CCameraPropertiesEx(const DEVICE_INFO& connection, std::uint32_t requestedVideoStandard)
    : m_connection(connection), m_requestedVideoStandard(requestedVideoStandard) {}

void CCameraPropertiesEx::Cancel() {
    m_cancelled.store(true);
}

void CCameraPropertiesEx::Abort() {
    Cancel();
}

bool CCameraPropertiesEx::Save(ICapabilityResults* results) {
    if (!results) return false;
    results->SetModelName(GetModelName().c_str());
    WriteProperties(results);
    WriteResolutions(results);
    WriteConnection(results);
    return true;
}

void CCameraPropertiesEx::WriteProperties(ICapabilityResults* results) {
    results->SetProperty(kPropertyZero, GetPropertyZeroValue());
    if (GetInputCount() > 0) results->SetProperty(kPropertyInputCount, GetInputCount());
    if (GetOutputCount() > 0) results->SetProperty(kPropertyOutputCount, GetOutputCount());
    for (std::size_t i = 0; i < kFeatureCount; ++i) {
        if (i >= kAlwaysWrittenFeatures || GetFeature(i)) results->SetProperty(kFeatureProperties[i], GetFeature(i) ? 1 : 0);
    }
    for (std::uint32_t codec = FirstCodec(); codec != 0; codec = NextCodec()) {
        if (const std::uint32_t property = CodecProperty(codec)) results->SetProperty(property, 1);
    }
}

void CCameraPropertiesEx::WriteResolutions(ICapabilityResults* results) {
    ICapabilityResolutionList* list = results->GetResolutionList();
    if (!list) return;
    for (CResolution* resolution = FirstResolution(); resolution; resolution = NextResolution()) {
        const std::string text = FormatString("%dx%d", resolution->GetWidth(), resolution->GetHeight());
        list->AddResolutionItem(text.c_str(), resolution->GetWidth(), resolution->GetHeight(),
                                resolution->FirstFrameInterval());
    }
}

void CCameraPropertiesEx::WriteConnection(ICapabilityResults* results) {
    WriteConnectionItem(results, kConnectionAddress, m_connection.host);
    WriteConnectionItem(results, kConnectionPort, FormatString("%u", static_cast<unsigned>(m_connection.port)));
    WriteConnectionItem(results, kConnectionUser, m_connection.user);
    WriteConnectionItem(results, kConnectionPassword, m_connection.password);
}

void CCameraPropertiesEx::WriteCustomProperty(ICapabilityResults* results, std::uint32_t index,
                                              const std::string& name, const std::string& value) {
    if (!results || name.empty()) return;
    ICapabilityCustomProperty* property = results->GetCustomProperty(index);
    if (!property) return;
    property->SetName(name.c_str());
    property->SetValueType(0);
    property->SetReadOnly(0);
    property->SetValue(value.empty() ? kNoValue : value.c_str());
}

}  // namespace kestrel
