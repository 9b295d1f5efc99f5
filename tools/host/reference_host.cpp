#include "host/reference_host.h"

#include "runtime/host_call.h"

namespace quillon_host {

using kestrel::DestroyObject;

CHostDebugSink::CHostDebugSink(std::function<void(const DebugRecord&)> echo)
    : m_echo(std::move(echo)) {}

void* CHostDebugSink::Destroy(unsigned int flags) { return DestroyObject(this, flags); }

void CHostDebugSink::OnDebugInfo(CDebugInfoIf* info) {
    DebugRecord record{info->GetLevel(), info->GetText()};
    if (m_echo) m_echo(record);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(std::move(record));
}

std::vector<DebugRecord> CHostDebugSink::Messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

CHostVideoFrame::CHostVideoFrame(std::uint32_t fourCC, std::uint32_t capacity)
    : m_data(capacity), m_fourCC(fourCC) {}

void* CHostVideoFrame::Destroy(unsigned int flags) { return DestroyObject(this, flags); }

void CHostVideoFrame::Reuse(std::uint32_t fourCC, std::uint32_t capacity) {
    if (m_data.size() < capacity) m_data.resize(capacity);
    m_dataSize = 0;
    m_fourCC = fourCC;
    m_width = m_height = m_sizeClass = m_flags = 0;
    m_timestamp = 0;
    m_complete = false;
}
std::uint32_t CHostVideoFrame::GetCapacity() { return std::uint32_t(m_data.size()); }
std::uint8_t* CHostVideoFrame::GetData() { return m_data.data(); }
std::uint32_t CHostVideoFrame::GetDataSize() { return m_dataSize; }
void CHostVideoFrame::SetDataSize(std::uint32_t bytes) { m_dataSize = bytes; }
void CHostVideoFrame::Complete() { m_complete = true; }
std::uint64_t CHostVideoFrame::GetTimestamp() { return m_timestamp; }
void CHostVideoFrame::SetTimestamp(std::uint64_t time) { m_timestamp = time; }
std::uint32_t CHostVideoFrame::GetFlags() { return m_flags; }
void CHostVideoFrame::SetFlags(std::uint32_t flags) { m_flags = flags; }
void CHostVideoFrame::SetFourCC(std::uint32_t fourCC) { m_fourCC = fourCC; }
std::uint32_t CHostVideoFrame::GetFourCC() { return m_fourCC; }
void CHostVideoFrame::SetHeight(std::uint32_t height) { m_height = height; }
std::uint32_t CHostVideoFrame::GetHeight() { return m_height; }
void CHostVideoFrame::SetWidth(std::uint32_t width) { m_width = width; }
std::uint32_t CHostVideoFrame::GetWidth() { return m_width; }
void CHostVideoFrame::SetSizeClass(std::uint32_t sizeClass) { m_sizeClass = sizeClass; }

CHostFramePool::CHostFramePool(std::uint32_t maxOutstanding) : m_maxOutstanding(maxOutstanding) {}

CHostFramePool::~CHostFramePool() = default;

void* CHostFramePool::Destroy(unsigned int flags) { return DestroyObject(this, flags); }

std::uint32_t CHostFramePool::GetFrameCount() { return m_maxOutstanding; }

IVideoFrame* CHostFramePool::AllocateFrame(std::uint32_t fourCC, std::uint32_t capacity,
                                           const char* source) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_outstanding >= m_maxOutstanding) return nullptr;
    ++m_outstanding;
    ++m_allocated;
    m_lastSource = source ? source : "";
    return new CHostVideoFrame(fourCC, capacity);
}

std::uint32_t CHostFramePool::GetFreeFrameCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_maxOutstanding - m_outstanding;
}

std::uint32_t CHostFramePool::GetMaxCapacity() { return UINT32_MAX; }

void CHostFramePool::Trim() {}

void CHostFramePool::ReleaseFrame(IVideoFrame* frame) {
    if (!frame) return;
    frame->Destroy(1);
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_outstanding;
}

std::uint32_t CHostFramePool::Outstanding() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outstanding;
}

std::uint64_t CHostFramePool::Allocated() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_allocated;
}

std::string CHostFramePool::LastSource() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastSource;
}

void* CHostServerSettings::Destroy(unsigned int flags) { return DestroyObject(this, flags); }
const char* CHostServerSettings::GetServerName() { return "Quillon reference host"; }
std::uint32_t CHostServerSettings::GetServerVersion() { return 1; }
std::uint32_t CHostServerSettings::GetChannelCount() { return m_config.channelCount; }
std::uint32_t CHostServerSettings::GetAudioChannelCount() { return 0; }
std::uint32_t CHostServerSettings::GetInputCount() { return m_config.inputCount; }
std::uint32_t CHostServerSettings::GetOutputCount() { return m_config.outputCount; }

void* CHostCameraSettings::Destroy(unsigned int flags) { return DestroyObject(this, flags); }
const char* CHostCameraSettings::GetAddress() { return m_config.address.c_str(); }
std::uint16_t CHostCameraSettings::GetPort() { return m_config.port; }
const char* CHostCameraSettings::GetModel() { return ""; }
std::uint32_t CHostCameraSettings::GetCodec() { return m_config.codec; }
const char* CHostCameraSettings::GetUser() { return m_config.user.c_str(); }
const char* CHostCameraSettings::GetPassword() { return m_config.password.c_str(); }

CHostDriverSettings::CHostDriverSettings(HostCameraConfig config) : m_config(std::move(config)) {}

void* CHostDriverSettings::Destroy(unsigned int flags) { return DestroyObject(this, flags); }
IServerSettings* CHostDriverSettings::GetServerSettings() { return &m_server; }
ICameraSettings* CHostDriverSettings::GetCameraSettings() { return &m_camera; }

std::uint32_t CHostDriverSettings::GetParameterCount() {
    return std::uint32_t(m_config.parameters.size());
}

const char* CHostDriverSettings::GetParameter(std::uint32_t key) {
    if (key == 0 || key > m_config.parameters.size()) return nullptr;
    return m_config.parameters[key - 1].c_str();
}

void* CHostVideoSize::Destroy(unsigned int flags) { return DestroyObject(this, flags); }
std::uint32_t CHostVideoSize::GetWidth() { return m_width; }
std::uint32_t CHostVideoSize::GetHeight() { return m_height; }

CHostChannelSettings::CHostChannelSettings(const HostChannelConfig& config)
    : m_config(config), m_size(config.width, config.height) {}

void* CHostChannelSettings::Destroy(unsigned int flags) { return DestroyObject(this, flags); }
IVideoFormat* CHostChannelSettings::GetVideoFormat() { return this; }
IRateSettings* CHostChannelSettings::GetRateSettings() { return this; }
std::uint32_t CHostChannelSettings::GetCodec() { return 0; }
std::uint32_t CHostChannelSettings::GetColorDepth() { return 24; }
IVideoSize* CHostChannelSettings::GetSize() { return &m_size; }
std::uint32_t CHostChannelSettings::GetFrameInterval() { return m_config.frameInterval; }
std::uint32_t CHostChannelSettings::GetBitRate() { return 0; }
std::uint32_t CHostChannelSettings::GetQuality() { return m_config.quality; }

void* CRecordingSink::Destroy(unsigned int flags) { return DestroyObject(this, flags); }

bool CRecordingSink::DeliverFrame(IVideoFrame* frame) {
    auto* hostFrame = static_cast<CHostVideoFrame*>(frame);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_accepting) return false;
    const std::uint8_t* data = frame->GetData();
    m_frames.push_back(ReceivedFrame{frame->GetFourCC(), frame->GetWidth(), frame->GetHeight(),
                                     hostFrame->SizeClass(), hostFrame->IsComplete(),
                                     {data, data + frame->GetDataSize()}});
    m_arrived.notify_all();
    return true;
}

void CRecordingSink::OnChannelEvent(std::uint32_t) {}

void CRecordingSink::OnSignalLost() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_signalLost;
}

void CRecordingSink::SetAccepting(bool accepting) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_accepting = accepting;
}

bool CRecordingSink::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
}

std::vector<ReceivedFrame> CRecordingSink::Frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

std::uint32_t CRecordingSink::SignalLostCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signalLost;
}

}  // namespace quillon_host
