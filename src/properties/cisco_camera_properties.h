// The capabilities of a Cisco IP camera or video server: the model, video standard and I/O ports
// read through the camera's web API, and the fixed codec, frame rate and picture size tables of
// the two supported camera series.
//
// Threading: as CCameraPropertiesEx. The web API client is a member so that Abort can reach a
// request in progress from another thread.
#ifndef QUILLON_PROPERTIES_CISCO_CAMERA_PROPERTIES_H
#define QUILLON_PROPERTIES_CISCO_CAMERA_PROPERTIES_H

#include <cstdint>
#include <set>

#include "properties/camera_properties.h"
#include "webapi/cisco_client.h"

namespace kestrel {

class CCiscoCameraProperties final : public CCameraPropertiesEx {
public:
    // Video standards.
    static constexpr std::uint32_t kStandard576 = 0;
    static constexpr std::uint32_t kStandard480 = 1;
    // Camera series.
    static constexpr std::uint32_t kSeriesUnknown = 0;
    static constexpr std::uint32_t kSeries1 = 1;  // first model digit 2
    static constexpr std::uint32_t kSeries2 = 2;  // first model digit 4

    CCiscoCameraProperties(const DEVICE_INFO& connection, const unsigned& requestedVideoStandard);

    bool Query(unsigned* errorCode) override;
    bool Save(ipcapture::ICapabilityResults* results) override;
    void Abort() override;

    std::uint32_t GetVideoStandard() const { return m_videoStandard; }
    std::uint32_t GetCameraSeries() const { return m_series; }
    std::uint32_t GetDefaultFrameInterval() const { return m_defaultFrameInterval; }
    const std::set<std::int32_t>& GetFrameRates() const { return m_frameRates; }

private:
    bool ReadDeviceInfo();
    bool ReadVideoStandard();
    bool ReadIOPorts();
    bool BuildTables();
    void BuildSeries1();
    void BuildSeries2();

    CCiscoClient m_client;
    std::uint32_t m_videoStandard;
    std::set<std::int32_t> m_frameRates;
    std::uint32_t m_defaultFrameInterval = 0;
    std::uint32_t m_series = kSeriesUnknown;
};

}  // namespace kestrel

#endif
