// The driver object: what the host creates per camera. It keeps the camera's connection record
// and the host's configuration, forwards debug messages to the host, and owns the capture
// object and the digital I/O object.
#ifndef QUILLON_DRIVER_IP_CAPTURE_DRIVER_H
#define QUILLON_DRIVER_IP_CAPTURE_DRIVER_H

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/custom_creator.h"
#include "driver/ip_video_capture.h"
#include "runtime/driver_interface.h"

namespace kestrel {

// Init runs on a host thread while no channel runs; every other thread only reads the fields
// Init wrote. Uninit on a host thread destroys the capture and I/O objects, joining their
// threads. Uninit on a driver thread (from inside a callback) cannot wait for them: it asks every
// channel and the I/O service to stop, keeps the objects aside, and the next Init, Uninit or the
// destructor on a host thread destroys them. m_objectsLock guards the object pointers. The debug
// sink is borrowed until Uninit (no message reaches it afterwards); the frame pool until the
// driver is destroyed, as a frame in hand when a channel stopped is still given back.
class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx, public IDriver, public ICustomCreator {
public:
    CIPCaptureDriver() = default;
    ~CIPCaptureDriver() override;
    CIPCaptureDriver(const CIPCaptureDriver&) = delete;
    CIPCaptureDriver& operator=(const CIPCaptureDriver&) = delete;

    // Host face.
    void* Destroy(unsigned int flags) override;
    // A second Init while the capture object exists is refused (false) and changes nothing:
    // replacing the objects would orphan channels that are running.
    bool Init(ipcapture::IDebugInfoSink* debugSink, ipcapture::IFramePool* framePool,
              ipcapture::IDriverSettings* settings) override;
    void Uninit() override;
    ipcapture::IIPVideoCapture* GetVideoCapture() override;
    ipcapture::ICaptureIOApi* GetIOApi() override;
    void* QueryExtension() override;
    void* GetAuxiliaryObject() override;

    // What a concrete driver supplies.
    // Creates the digital I/O object if there is none; true when one exists.
    virtual bool CreateIOApi() = 0;
    // Whether Init may create the capture object.
    virtual bool CanCreateVideoCapture() = 0;

    // What every component holds of the driver.
    void DebugMessage(std::uint8_t level, const char* format, ...) override;
    DEVICE_INFO GetDeviceInfo() override;
    std::pair<std::uint32_t, std::uint32_t> GetIOPortCounts() override;
    ipcapture::IFramePool* GetFramePool() override;
    std::uint32_t GetReservedValue() override;
    std::uint32_t GetCodec() override;
    std::uint32_t GetChannelCount() override;
    std::string GetParameter(std::uint32_t key) override;
    std::int32_t GetParameterInt(std::uint32_t key) override;

protected:
    using IOApiPointer = std::unique_ptr<ipcapture::ICaptureIOApi, void (*)(ipcapture::ICaptureIOApi*)>;
    IOApiPointer m_ioApi{nullptr, &DestroyIOApi};  // guarded by m_objectsLock

private:
    static void DestroyIOApi(ipcapture::ICaptureIOApi* io);
    // Destroys the objects an Uninit on a driver thread kept aside.
    void DestroyRetired();
    bool InitUnguarded(ipcapture::IDebugInfoSink* debugSink, ipcapture::IFramePool* framePool,
                       ipcapture::IDriverSettings* settings);
    void ReadServerSettings(ipcapture::IDriverSettings* settings);
    void ReadCameraSettings(ipcapture::IDriverSettings* settings);
    void ReadParameters(ipcapture::IDriverSettings* settings);

    std::mutex m_objectsLock;
    std::atomic<ipcapture::IDebugInfoSink*> m_debugSink{nullptr};
    ipcapture::IFramePool* m_framePool = nullptr;
    DEVICE_INFO m_deviceInfo;
    std::uint32_t m_inputCount = 0;
    std::uint32_t m_outputCount = 0;
    std::uint32_t m_channelCount = 0;
    std::uint32_t m_codec = 0;
    std::map<std::uint32_t, std::string> m_parameters;
    std::unique_ptr<CIPVideoCapture> m_videoCapture;               // guarded by m_objectsLock
    std::vector<std::unique_ptr<CIPVideoCapture>> m_retiredCaptures;  // guarded by m_objectsLock
    std::vector<IOApiPointer> m_retiredIOApis;                        // guarded by m_objectsLock
};

}  // namespace kestrel

#endif
