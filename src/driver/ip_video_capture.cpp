#include "driver/ip_video_capture.h"

#include <algorithm>
#include <string>

#include "runtime/host_call.h"

namespace kestrel {

using namespace ipcapture;

namespace {
constexpr std::uint32_t kTableSpinCount = 4000;

std::uint32_t Low16(std::uint32_t value) { return value & 0xFFFF; }

// As much of `source` as fits, always NUL-terminated.
void CopyText(const std::string& source, char* text, std::uint32_t textSize) {
    const std::size_t length = std::min<std::size_t>(source.size(), textSize - 1);
    source.copy(text, length);
    text[length] = '\0';
}
}  // namespace

std::optional<CHANNEL_PARAMS> ReadChannelParams(IChannelSettings* settings) {
    IRateSettings* rate = settings ? settings->GetRateSettings() : nullptr;
    IVideoFormat* format = settings ? settings->GetVideoFormat() : nullptr;
    IVideoSize* size = format ? format->GetSize() : nullptr;
    if (!rate || !size) return std::nullopt;
    return CHANNEL_PARAMS{Low16(rate->GetFrameInterval()), Low16(rate->GetQuality()),
                          Low16(size->GetWidth()), Low16(size->GetHeight())};
}

CIPVideoCapture::CIPVideoCapture(ICustomCreator* creator, std::uint32_t channelCount)
    : m_creator(creator), m_lock(kTableSpinCount), m_channels(channelCount) {}

CIPVideoCapture::~CIPVideoCapture() {
    for (std::uint32_t channel = 0; channel < m_channels.size(); ++channel) StopChannel(channel);
}

void* CIPVideoCapture::Destroy(unsigned int flags) {
    return DestroyObject(this, flags);
}

std::uint32_t CIPVideoCapture::GetChannelCount() {
    return std::uint32_t(m_channels.size());
}

bool CIPVideoCapture::StartChannel(std::uint32_t channel, IChannelSink* sink,
                                   IChannelSettings* settings) {
    return CatchAll(false, [&] {
        if (channel >= GetChannelCount()) return false;
        StopChannel(channel);
        std::unique_ptr<ICameraChannel> created = m_creator->CreateChannel(channel, sink);
        if (!created) return true;
        // Settings the host left out give a failed start rather than a crash.
        const std::optional<CHANNEL_PARAMS> params = ReadChannelParams(settings);
        const bool started = params && created->Start(&*params);
        // Stored even when the start failed, so the host can still stop it.
        CSpinMutexGuard guard(m_lock);
        m_channels[channel] = std::move(created);
        return started;
    });
}

bool CIPVideoCapture::StopChannel(std::uint32_t channel) {
    return CatchAll(false, [&] {
        std::unique_ptr<ICameraChannel> taken = TakeChannel(channel);
        if (!taken) return false;
        taken->Stop();
        return true;
    });
}

bool CIPVideoCapture::ReconfigureChannel(std::uint32_t channel, IVideoSize* size,
                                         std::uint32_t frameInterval) {
    return CatchAll(false, [&] {
        ICameraChannel* found = FindChannel(channel);
        if (!found || !size) return false;
        // Quality 0 is never applied: a restart keeps the channel's previous quality.
        const CHANNEL_PARAMS params{frameInterval, 0, Low16(size->GetWidth()),
                                    Low16(size->GetHeight())};
        return found->Restart(&params);
    });
}

void* CIPVideoCapture::QueryCaptureExtension() {
    return nullptr;
}

bool CIPVideoCapture::GetChannelState(std::uint32_t channel, std::uint32_t* state,
                                      std::uint32_t* reserved, char* text,
                                      std::uint32_t textSize) {
    return CatchAll(false, [&] {
        if (reserved) *reserved = 0;
        if (textSize != 0 && text) text[0] = '\0';
        // Read under the lock: a host thread may stop this index meanwhile, which destroys it.
        CSpinMutexGuard guard(m_lock);
        if (channel >= m_channels.size() || !m_channels[channel]) return false;
        const std::uint32_t current = m_channels[channel]->GetState();
        if (state) *state = current;
        if (text && textSize > 1) CopyText(m_channels[channel]->GetStatusText(), text, textSize);
        return true;
    });
}

bool CIPVideoCapture::Reserved1(std::uint32_t, std::uint32_t, std::uint32_t) {
    return false;
}

bool CIPVideoCapture::Reserved2(std::uint32_t, std::uint32_t, std::uint32_t) {
    return false;
}

ICameraChannel* CIPVideoCapture::FindChannel(std::uint32_t channel) {
    CSpinMutexGuard guard(m_lock);
    return channel < m_channels.size() ? m_channels[channel].get() : nullptr;
}

std::unique_ptr<ICameraChannel> CIPVideoCapture::TakeChannel(std::uint32_t channel) {
    CSpinMutexGuard guard(m_lock);
    if (channel >= m_channels.size()) return nullptr;
    return std::move(m_channels[channel]);
}

}  // namespace kestrel
