#include "host/recycling_frame_pool.h"

#include <algorithm>

#include "runtime/host_call.h"

namespace quillon_host {

void* CRecyclingFramePool::Destroy(unsigned int flags) { return kestrel::DestroyObject(this, flags); }

std::uint32_t CRecyclingFramePool::GetFrameCount() { return m_maxFrames; }

IVideoFrame* CRecyclingFramePool::AllocateFrame(std::uint32_t fourCC, std::uint32_t capacity,
                                                const char*) {
    std::unique_ptr<CHostVideoFrame> frame;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_outstanding >= m_maxFrames) {
            ++m_refusals;
            return nullptr;
        }
        ++m_outstanding;
        // The most recently freed buffer that is large enough, else the most recent one (grown).
        auto fits = std::find_if(m_free.rbegin(), m_free.rend(), [&](const auto& candidate) {
            return candidate->GetCapacity() >= capacity;
        });
        if (fits == m_free.rend() && !m_free.empty()) fits = m_free.rbegin();
        if (fits != m_free.rend()) {
            frame = std::move(*fits);
            m_free.erase(std::next(fits).base());
        }
    }
    if (!frame) return new CHostVideoFrame(fourCC, capacity);
    frame->Reuse(fourCC, capacity);
    return frame.release();
}

std::uint32_t CRecyclingFramePool::GetFreeFrameCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_maxFrames - m_outstanding;
}

std::uint32_t CRecyclingFramePool::GetMaxCapacity() { return UINT32_MAX; }

void CRecyclingFramePool::Trim() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_free.clear();
}

void CRecyclingFramePool::ReleaseFrame(IVideoFrame* frame) {
    if (!frame) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_outstanding;
    m_free.emplace_back(static_cast<CHostVideoFrame*>(frame));
}

std::uint32_t CRecyclingFramePool::Outstanding() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outstanding;
}

std::uint64_t CRecyclingFramePool::Refusals() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refusals;
}

}  // namespace quillon_host
