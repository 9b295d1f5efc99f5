// A frame pool that keeps its buffers for the next frame, as a recording server's pool does,
// so that a long or wide capture spends no time allocating and clearing frame memory.
#ifndef QUILLON_TOOLS_HOST_RECYCLING_FRAME_POOL_H
#define QUILLON_TOOLS_HOST_RECYCLING_FRAME_POOL_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "host/reference_host.h"

namespace quillon_host {

// Callable from any driver thread. At most `maxFrames` buffers exist, lent or free; frames
// must be released before the pool ends.
class CRecyclingFramePool final : public IFramePool {
public:
    explicit CRecyclingFramePool(std::uint32_t maxFrames = 16) : m_maxFrames(maxFrames) {}
    void* Destroy(unsigned int flags) override;
    std::uint32_t GetFrameCount() override;
    IVideoFrame* AllocateFrame(std::uint32_t fourCC, std::uint32_t capacity,
                               const char* source) override;
    std::uint32_t GetFreeFrameCount() override;
    std::uint32_t GetMaxCapacity() override;
    void Trim() override;
    void ReleaseFrame(IVideoFrame* frame) override;

    std::uint32_t Outstanding() const;
    // Allocations refused because every buffer was lent.
    std::uint64_t Refusals() const;

private:
    const std::uint32_t m_maxFrames;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<CHostVideoFrame>> m_free;  // guarded by m_mutex
    std::uint32_t m_outstanding = 0;                       // guarded by m_mutex
    std::uint64_t m_refusals = 0;                          // guarded by m_mutex
};

}  // namespace quillon_host

#endif
