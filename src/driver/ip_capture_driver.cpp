#include "driver/ip_capture_driver.h"

#include <cstdarg>

#include "platform/thread.h"
#include "runtime/host_call.h"
#include "runtime/debug_info.h"
#include "runtime/string_helpers.h"

namespace kestrel {

using namespace ipcapture;

namespace {
// Host parameters carry this text for "no value".
constexpr const char kNoneParameter[] = "(none)";
// More keys than any host configures; a list that never ends stops here instead of hanging Init.
constexpr std::uint32_t kMaxParameters = 65536;
}  // namespace

CIPCaptureDriver::~CIPCaptureDriver() {
    Uninit();
}

void* CIPCaptureDriver::Destroy(unsigned int flags) {
    return DestroyObject(this, flags);
}

void CIPCaptureDriver::DestroyIOApi(ICaptureIOApi* io) {
    io->Destroy(1);
}

bool CIPCaptureDriver::Init(IDebugInfoSink* debugSink, IFramePool* framePool,
                            IDriverSettings* settings) {
    return CatchAll(false, [&] { return InitUnguarded(debugSink, framePool, settings); });
}

bool CIPCaptureDriver::InitUnguarded(IDebugInfoSink* debugSink, IFramePool* framePool,
                                     IDriverSettings* settings) {
    if (GetVideoCapture() || !settings || !settings->GetServerSettings() ||
        !settings->GetCameraSettings()) {
        return false;
    }
    // A thread of the objects kept aside may be the one calling.
    if (!platform::IsOwnThread()) DestroyRetired();
    m_codec = settings->GetCameraSettings()->GetCodec();
    m_debugSink = debugSink;
    m_framePool = framePool;
    ReadServerSettings(settings);
    ReadCameraSettings(settings);
    ReadParameters(settings);
    std::lock_guard<std::mutex> guard(m_objectsLock);
    if (!CreateIOApi() || !CanCreateVideoCapture()) return false;
    m_videoCapture = std::make_unique<CIPVideoCapture>(
        this, settings->GetServerSettings()->GetChannelCount());
    return true;
}

// Each value fetches the settings object anew, as hosts expect of these calls.
void CIPCaptureDriver::ReadServerSettings(IDriverSettings* settings) {
    m_inputCount = settings->GetServerSettings()->GetInputCount();
    m_outputCount = settings->GetServerSettings()->GetOutputCount();
    m_channelCount = settings->GetServerSettings()->GetChannelCount();
}

void CIPCaptureDriver::ReadCameraSettings(IDriverSettings* settings) {
    ICameraSettings* camera = settings->GetCameraSettings();
    const char* host = camera->GetAddress();
    const char* user = camera->GetUser();
    const char* password = camera->GetPassword();
    m_deviceInfo.host = host ? host : "";
    m_deviceInfo.port = camera->GetPort();
    m_deviceInfo.user = user ? user : "";
    m_deviceInfo.password = password ? password : "";
}

void CIPCaptureDriver::ReadParameters(IDriverSettings* settings) {
    for (std::uint32_t key = 1; key <= kMaxParameters; ++key) {
        const char* value = settings->GetParameter(key);
        if (!value) break;
        m_parameters[key] = value;
    }
}

void CIPCaptureDriver::Uninit() {
    CatchAll(0, [&] {
        std::unique_ptr<CIPVideoCapture> capture;
        IOApiPointer io{nullptr, &DestroyIOApi};
        {
            std::lock_guard<std::mutex> guard(m_objectsLock);
            capture = std::move(m_videoCapture);
            io = std::move(m_ioApi);
        }
        if (platform::IsOwnThread()) {
            // From inside a callback: the caller's own thread may be one of theirs.
            if (capture) capture->RequestStopAll();
            if (io) io->Stop();
            std::lock_guard<std::mutex> guard(m_objectsLock);
            if (capture) m_retiredCaptures.push_back(std::move(capture));
            if (io) m_retiredIOApis.push_back(std::move(io));
        } else {
            capture.reset();
            io.reset();
            DestroyRetired();
        }
        m_debugSink.store(nullptr);
        return 0;
    });
}

void CIPCaptureDriver::DestroyRetired() {
    std::vector<std::unique_ptr<CIPVideoCapture>> captures;
    std::vector<IOApiPointer> ios;
    {
        std::lock_guard<std::mutex> guard(m_objectsLock);
        captures.swap(m_retiredCaptures);
        ios.swap(m_retiredIOApis);
    }
}

IIPVideoCapture* CIPCaptureDriver::GetVideoCapture() {
    std::lock_guard<std::mutex> guard(m_objectsLock);
    return m_videoCapture.get();
}

ICaptureIOApi* CIPCaptureDriver::GetIOApi() {
    std::lock_guard<std::mutex> guard(m_objectsLock);
    return m_ioApi.get();
}

void* CIPCaptureDriver::QueryExtension() {
    return nullptr;
}

void* CIPCaptureDriver::GetAuxiliaryObject() {
    return nullptr;
}

void CIPCaptureDriver::DebugMessage(std::uint8_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    SendDebugMessage(m_debugSink.load(), level, format, args);
    va_end(args);
}

DEVICE_INFO CIPCaptureDriver::GetDeviceInfo() {
    return m_deviceInfo;
}

std::pair<std::uint32_t, std::uint32_t> CIPCaptureDriver::GetIOPortCounts() {
    return {m_inputCount, m_outputCount};
}

IFramePool* CIPCaptureDriver::GetFramePool() {
    return m_framePool;
}

std::uint32_t CIPCaptureDriver::GetReservedValue() {
    return 0;
}

std::uint32_t CIPCaptureDriver::GetCodec() {
    return m_codec;
}

std::uint32_t CIPCaptureDriver::GetChannelCount() {
    return m_channelCount;
}

std::string CIPCaptureDriver::GetParameter(std::uint32_t key) {
    const auto found = m_parameters.find(key);
    if (found == m_parameters.end() || found->second == kNoneParameter) return "";
    return found->second;
}

std::int32_t CIPCaptureDriver::GetParameterInt(std::uint32_t key) {
    const auto found = m_parameters.find(key);
    std::int32_t value = 0;
    if (found == m_parameters.end() || !IsInteger(found->second, value)) return kNoInteger;
    return value;
}

}  // namespace kestrel
