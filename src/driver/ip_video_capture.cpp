#include "driver/ip_video_capture.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "platform/thread.h"
#include "runtime/host_call.h"

namespace kestrel {

using namespace ipcapture;

namespace {
constexpr std::uint32_t kTableSpinCount = 4000;

// Operations of any capture object under way on this thread.
thread_local unsigned t_operationDepth = 0;

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

CIPVideoCapture::COperation::COperation(Slot& slot) : m_slot(slot) {
    // Nested inside any operation: waiting here could wait for the thread's own outer call, or
    // for another host thread nested the other way round.
    if (!platform::IsOwnThread() && t_operationDepth == 0) {
        slot.operationLock.lock();
        m_locked = true;
    }
    ++t_operationDepth;
}

CIPVideoCapture::COperation::~COperation() {
    --t_operationDepth;
    if (m_locked) m_slot.operationLock.unlock();
}

CIPVideoCapture::CIPVideoCapture(ICustomCreator* creator, std::uint32_t channelCount)
    : m_creator(creator), m_lock(kTableSpinCount) {
    for (std::uint32_t channel = 0; channel < channelCount; ++channel) {
        m_slots.push_back(std::make_unique<Slot>());
    }
}

CIPVideoCapture::~CIPVideoCapture() {
    for (std::uint32_t channel = 0; channel < m_slots.size(); ++channel) {
        StopIndex(channel, true);
        JoinRetired(channel);
    }
}

void* CIPVideoCapture::Destroy(unsigned int flags) {
    return DestroyObject(this, flags);
}

std::uint32_t CIPVideoCapture::GetChannelCount() {
    return std::uint32_t(m_slots.size());
}

bool CIPVideoCapture::StartChannel(std::uint32_t channel, IChannelSink* sink,
                                   IChannelSettings* settings) {
    return CatchAll(false, [&] {
        if (channel >= GetChannelCount()) return false;
        COperation operation(*m_slots[channel]);
        if (operation.MayWait()) JoinRetired(channel);
        StopIndex(channel, operation.MayWait());
        std::shared_ptr<ICameraChannel> created = m_creator->CreateChannel(channel, sink);
        if (!created) return true;
        // Settings the host left out give a failed start rather than a crash.
        const std::optional<CHANNEL_PARAMS> params = ReadChannelParams(settings);
        // Stored before it starts, and even when the start fails, so that any stop finds it; a
        // channel stopped meanwhile (from a callback of its own start) refuses to start.
        Install(channel, created);
        return params && created->Start(&*params);
    });
}

bool CIPVideoCapture::StopChannel(std::uint32_t channel) {
    return CatchAll(false, [&] {
        if (channel >= GetChannelCount()) return false;
        COperation operation(*m_slots[channel]);
        if (operation.MayWait()) JoinRetired(channel);
        return StopIndex(channel, operation.MayWait());
    });
}

bool CIPVideoCapture::ReconfigureChannel(std::uint32_t channel, IVideoSize* size,
                                         std::uint32_t frameInterval) {
    return CatchAll(false, [&] {
        if (channel >= GetChannelCount() || !size) return false;
        COperation operation(*m_slots[channel]);
        const std::shared_ptr<ICameraChannel> found = FindChannel(channel);
        if (!found) return false;
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
        // A host thread may stop this index meanwhile: the reference keeps the channel whole.
        const std::shared_ptr<ICameraChannel> found = FindChannel(channel);
        if (!found) return false;
        const std::uint32_t current = found->GetState();
        if (state) *state = current;
        if (text && textSize > 1) CopyText(found->GetStatusText(), text, textSize);
        return true;
    });
}

bool CIPVideoCapture::Reserved1(std::uint32_t, std::uint32_t, std::uint32_t) {
    return false;
}

bool CIPVideoCapture::Reserved2(std::uint32_t, std::uint32_t, std::uint32_t) {
    return false;
}

void CIPVideoCapture::RequestStopAll() {
    for (std::uint32_t channel = 0; channel < m_slots.size(); ++channel) StopIndex(channel, false);
}

std::shared_ptr<ICameraChannel> CIPVideoCapture::FindChannel(std::uint32_t channel) {
    CSpinMutexGuard guard(m_lock);
    return channel < m_slots.size() ? m_slots[channel]->channel : nullptr;
}

void CIPVideoCapture::Install(std::uint32_t channel, std::shared_ptr<ICameraChannel> installed) {
    std::shared_ptr<ICameraChannel> displaced;
    {
        CSpinMutexGuard guard(m_lock);
        displaced = std::exchange(m_slots[channel]->channel, std::move(installed));
    }
    if (displaced) {
        displaced->RequestStop();
        Retire(channel, std::move(displaced));
    }
}

bool CIPVideoCapture::StopIndex(std::uint32_t channel, bool wait) {
    std::shared_ptr<ICameraChannel> taken;
    {
        CSpinMutexGuard guard(m_lock);
        taken = std::move(m_slots[channel]->channel);
    }
    if (!taken) return false;
    if (wait) {
        taken->Stop();
    } else {
        taken->RequestStop();
        Retire(channel, std::move(taken));
    }
    return true;
}

void CIPVideoCapture::Retire(std::uint32_t channel, std::shared_ptr<ICameraChannel> retired) {
    // Those whose threads have ended are joined here at no wait, so a host that only ever
    // restarts from inside callbacks does not pile them up.
    std::vector<std::shared_ptr<ICameraChannel>> ended;
    {
        CSpinMutexGuard guard(m_lock);
        std::vector<std::shared_ptr<ICameraChannel>>& list = m_slots[channel]->retired;
        const auto split = std::partition(list.begin(), list.end(),
                                          [](const std::shared_ptr<ICameraChannel>& c) { return !c->HasEnded(); });
        std::move(split, list.end(), std::back_inserter(ended));
        list.erase(split, list.end());
        list.push_back(std::move(retired));
    }
    for (const std::shared_ptr<ICameraChannel>& stopped : ended) stopped->Stop();
}

void CIPVideoCapture::JoinRetired(std::uint32_t channel) {
    std::vector<std::shared_ptr<ICameraChannel>> retired;
    {
        CSpinMutexGuard guard(m_lock);
        retired.swap(m_slots[channel]->retired);
    }
    for (const std::shared_ptr<ICameraChannel>& stopping : retired) stopping->Stop();
}

}  // namespace kestrel
