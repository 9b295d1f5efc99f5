#include "driver/ip_capture_driver.h"

#include <cstdarg>

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
    if (m_videoCapture || !settings || !settings->GetServerSettings() ||
        !settings->GetCameraSettings()) {
        return false;
    }
    m_codec = settings->GetCameraSettings()->GetCodec();
    m_debugSink = debugSink;
    m_framePool = framePool;
    ReadServerSettings(settings);
    ReadCameraSettings(settings);
    ReadParameters(settings);
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
        m_videoCapture.reset();
        m_ioApi.reset();
        return 0;
    });
}

IIPVideoCapture* CIPCaptureDriver::GetVideoCapture() {
    return m_videoCapture.get();
}

ICaptureIOApi* CIPCaptureDriver::GetIOApi() {
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
    SendDebugMessage(m_debugSink, level, format, args);
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
