// The capture object: one slot per video channel of the camera, started, reconfigured,
// stopped and polled by the host.
#ifndef QUILLON_DRIVER_IP_VIDEO_CAPTURE_H
#define QUILLON_DRIVER_IP_VIDEO_CAPTURE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "driver/custom_creator.h"
#include "runtime/spin_mutex.h"

namespace kestrel {

// Host threads call every operation, and so may the host's callbacks on the driver's own threads.
//
// Two kinds of call. On a host thread, Start, Stop and Reconfigure of one index are serialised by
// that index's operation lock, and a stop waits until the channel's threads have ended. On a
// driver thread (a callback), or nested inside another operation on the same thread (from a debug
// message that operation sent), a call takes no operation lock and never waits: a stop
// takes the channel out of its slot, asks it to stop and keeps it among the slot's retired
// channels, which the next host-thread operation on that index (or the destructor) joins, as does
// a later retirement once their threads have ended. Waiting there could wait for the very thread
// that calls, or for a thread that waits for it.
//
// `m_lock` guards the slots' channels and retired lists only; it is never held while a channel
// starts, stops or restarts, nor while the host is called, so GetChannelState stays quick from any
// thread. The creator (the driver) must outlive this object.
class CIPVideoCapture final : public ipcapture::IIPVideoCapture {
public:
    CIPVideoCapture(ICustomCreator* creator, std::uint32_t channelCount);
    ~CIPVideoCapture();
    CIPVideoCapture(const CIPVideoCapture&) = delete;
    CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

    void* Destroy(unsigned int flags) override;
    std::uint32_t GetChannelCount() override;
    bool StartChannel(std::uint32_t channel, ipcapture::IChannelSink* sink,
                      ipcapture::IChannelSettings* settings) override;
    bool StopChannel(std::uint32_t channel) override;
    bool ReconfigureChannel(std::uint32_t channel, ipcapture::IVideoSize* size,
                            std::uint32_t frameInterval) override;
    void* QueryCaptureExtension() override;
    bool GetChannelState(std::uint32_t channel, std::uint32_t* state, std::uint32_t* reserved,
                         char* text, std::uint32_t textSize) override;
    bool Reserved1(std::uint32_t a, std::uint32_t b, std::uint32_t c) override;
    bool Reserved2(std::uint32_t a, std::uint32_t b, std::uint32_t c) override;

    // Asks every channel to stop without waiting; the destructor joins them. For an Uninit
    // made on a driver thread.
    void RequestStopAll();

private:
    struct Slot {
        std::mutex operationLock;
        std::shared_ptr<ICameraChannel> channel;                // guarded by m_lock
        std::vector<std::shared_ptr<ICameraChannel>> retired;  // guarded by m_lock
    };

    // Holds a slot's operation lock for a host-thread call; a call that must not wait (see
    // above) goes on without it.
    class COperation {
    public:
        explicit COperation(Slot& slot);
        ~COperation();
        COperation(const COperation&) = delete;
        COperation& operator=(const COperation&) = delete;
        bool MayWait() const { return m_locked; }

    private:
        Slot& m_slot;
        bool m_locked = false;
    };

    // The channel in the slot, left there; null for an empty slot.
    std::shared_ptr<ICameraChannel> FindChannel(std::uint32_t channel);
    // Puts `channel` in the slot; a channel it displaces is asked to stop and retired.
    void Install(std::uint32_t channel, std::shared_ptr<ICameraChannel> installed);
    // Empties the slot: stops its channel, waiting for it only when `wait`; false when empty.
    bool StopIndex(std::uint32_t channel, bool wait);
    void Retire(std::uint32_t channel, std::shared_ptr<ICameraChannel> retired);
    // Joins the slot's retired channels.
    void JoinRetired(std::uint32_t channel);

    ICustomCreator* m_creator;
    CSpinMutex m_lock;
    std::vector<std::unique_ptr<Slot>> m_slots;
};

// The start parameters the host's channel settings describe, each value cut to 16 bits;
// nothing when the host's settings objects are missing.
std::optional<ipcapture::CHANNEL_PARAMS> ReadChannelParams(ipcapture::IChannelSettings* settings);

}  // namespace kestrel

#endif
