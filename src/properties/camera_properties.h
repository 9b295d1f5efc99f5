// What a camera can deliver (model, I/O port counts, codecs, picture sizes and frame intervals)
// and the generic writing of it into the host's capability results.
//
// CCameraProperties is the plain record; CCameraPropertiesEx adds the camera's connection record,
// the query interface that a camera family implements, and Save.
//
// Threading: Query and Save run on one thread (the capability query's worker). Cancel and Abort
// may come from any thread while the object lives.
#ifndef QUILLON_PROPERTIES_CAMERA_PROPERTIES_H
#define QUILLON_PROPERTIES_CAMERA_PROPERTIES_H

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/driver_interface.h"

namespace kestrel {

// One picture size with the frame intervals (milliseconds) the camera offers for it.
class CResolution {
public:
    CResolution(std::uint16_t width, std::uint16_t height) : m_width(width), m_height(height) {}

    std::uint16_t GetWidth() const { return m_width; }
    std::uint16_t GetHeight() const { return m_height; }
    // Appends the interval unless it is below `minimum`.
    void AddFrameInterval(std::uint32_t interval, std::uint32_t minimum);
    // The first interval (0 when there is none); resets the cursor.
    std::uint32_t FirstFrameInterval();
    // The interval after the last one returned; 0 at the end.
    std::uint32_t NextFrameInterval();

private:
    std::vector<std::uint32_t> m_frameIntervals;
    std::size_t m_frameIntervalCursor = 0;
    std::uint16_t m_width;
    std::uint16_t m_height;
};

class CCameraProperties {
public:
    // Result properties 4, 1, 5, 11 and 12, in this order.
    static constexpr std::size_t kFeatureCount = 5;

    const std::string& GetVendor() const { return m_vendor; }
    const std::string& GetModelName() const { return m_modelName; }
    std::uint32_t GetPropertyZeroValue() const { return m_propertyZeroValue; }
    std::uint32_t GetInputCount() const { return m_inputCount; }
    std::uint32_t GetOutputCount() const { return m_outputCount; }
    bool GetFeature(std::size_t index) const { return m_features.at(index); }

    // The first codec code (0 when there is none); resets the cursor.
    std::uint32_t FirstCodec();
    // The codec code after the last one returned; 0 at the end.
    std::uint32_t NextCodec();
    // The first resolution (null when there is none); resets the cursor. The record stays owned
    // by this object and valid until the next AddResolution.
    CResolution* FirstResolution();
    CResolution* NextResolution();

    void SetInputCount(std::uint32_t count) { m_inputCount = count; }
    void SetOutputCount(std::uint32_t count) { m_outputCount = count; }
    void SetPropertyZeroValue(std::uint32_t value) { m_propertyZeroValue = value; }
    void SetVendor(const std::string& vendor) { m_vendor = vendor; }
    void SetModelName(const std::string& name) { m_modelName = name; }
    void AddCodec(std::uint32_t code) { m_codecs.push_back(code); }
    // Appends a copy unless a record of the same non-zero width and the same height is listed.
    void AddResolution(const CResolution& resolution);

private:
    std::vector<std::uint32_t> m_codecs;
    std::vector<CResolution> m_resolutions;
    std::string m_vendor;
    std::string m_modelName;
    std::uint32_t m_propertyZeroValue = 0;
    std::uint32_t m_inputCount = 0;
    std::uint32_t m_outputCount = 0;
    std::size_t m_codecCursor = 0;
    std::size_t m_resolutionCursor = 0;
    std::array<bool, kFeatureCount> m_features{};
};

class CCameraPropertiesEx : public CCameraProperties {
public:
    // The code a failed Query reports.
    static constexpr unsigned kQueryFailed = 3;

    // requestedVideoStandard: 1 for the 480-line standard, 0 for the 576-line one.
    CCameraPropertiesEx(const DEVICE_INFO& connection, std::uint32_t requestedVideoStandard);
    virtual ~CCameraPropertiesEx() = default;
    CCameraPropertiesEx(const CCameraPropertiesEx&) = delete;
    CCameraPropertiesEx& operator=(const CCameraPropertiesEx&) = delete;

    // Asks the camera and builds the tables. False on any failure, with *errorCode (when given)
    // set to kQueryFailed. Call once.
    virtual bool Query(unsigned* errorCode) = 0;
    // Writes everything into the host's results (borrowed for the call); false, writing nothing,
    // when there are none.
    virtual bool Save(ipcapture::ICapabilityResults* results);
    // Makes Query stop before its next step; a request in progress runs to its end.
    virtual void Cancel();
    // Cancel, and make a request in progress and every later one fail at once.
    virtual void Abort();

protected:
    bool IsCancelled() const { return m_cancelled.load(); }
    const DEVICE_INFO& GetConnection() const { return m_connection; }
    std::uint32_t GetRequestedVideoStandard() const { return m_requestedVideoStandard; }
    // Nothing happens without results or with an empty name; an empty value is sent as "(none)".
    static void WriteCustomProperty(ipcapture::ICapabilityResults* results, std::uint32_t index,
                                    const std::string& name, const std::string& value);

private:
    void WriteProperties(ipcapture::ICapabilityResults* results);
    void WriteResolutions(ipcapture::ICapabilityResults* results);
    void WriteConnection(ipcapture::ICapabilityResults* results);

    std::atomic<bool> m_cancelled{false};
    const DEVICE_INFO m_connection;
    const std::uint32_t m_requestedVideoStandard;
};

}  // namespace kestrel

#endif
