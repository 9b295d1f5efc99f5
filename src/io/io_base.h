// The generic digital I/O service: polls the camera's inputs, reports each input whose state
// changed, and writes the outputs the host asks for, one at a time. One thread per camera, the
// "Digital Input thread", does both: the writes queue between polls and go at once, a poll never
// waits behind a stream of writes (see CWorkItemThread). A camera family supplies the reading and
// writing.
//
// State codes: 0 no valid state (nothing read yet, or after a failure); 1 and 2 as the camera
// reports them. After a failure every tracked state drops to 0 and the host hears OnIOFailure.
//
// Threading: the host's threads call the ICaptureIOApi operations (Start also polls and writes
// on the calling thread, before the service thread exists); the service thread polls and
// writes. So the camera is only ever asked from one thread at a time. m_stateLock guards both
// state maps and is never held while the host is called back or the camera is asked.
// m_hostLock serialises Start and Stop on host threads (it is recursive: a callback made during
// Start may stop). Stop aborts the camera requests in progress and no callback follows its
// return. On a host thread it joins the service thread. On a driver thread (inside a callback,
// where the caller may be the service thread, or a thread it waits for) it only asks it to end;
// the next Start or Stop on a host thread, or the destructor, joins it, and a Start on a driver
// thread meanwhile is refused.
#ifndef QUILLON_IO_IO_BASE_H
#define QUILLON_IO_IO_BASE_H

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "runtime/driver_interface.h"
#include "runtime/work_item_thread.h"

namespace kestrel {

class CIOBase : public ipcapture::ICaptureIOApi, private thread::CWorkItemThread {
public:
    static constexpr std::uint32_t kNoState = 0;
    // The two states an output can be set to.
    static constexpr std::uint32_t kActiveState = 1;
    static constexpr std::uint32_t kInactiveState = 2;
    // More ports per direction than any camera has. A host that configures more gets this many
    // tracked (and a failing poll, as the camera reports fewer inputs), not a Start that writes
    // billions of outputs.
    static constexpr std::uint32_t kMaxPorts = 256;

    // One queued output request.
    class CWorkItem final : public thread::CWorkItemThread::IWorkItem {
    public:
        CWorkItem(std::uint32_t port, std::uint32_t state) : m_port(port), m_state(state) {}
        std::uint32_t GetPort() const { return m_port; }
        std::uint32_t GetState() const { return m_state; }

    private:
        std::uint32_t m_port;
        std::uint32_t m_state;
    };

    // The driver (borrowed) must outlive this object; it gives the port counts and the camera.
    CIOBase(IDriver* driver, std::uint32_t tickPeriodMs);
    // Owners call Stop first: the threads call back into the derived class.
    ~CIOBase() override = default;

    // False for a null callback, which leaves the previous one. Register before Start.
    bool SetCallback(ipcapture::ICaptureIOCallback* callback) override;
    // Polls once and writes state 1 to every output, then starts the service thread; false when
    // a callback of the start stopped the service, at once when the service is already started,
    // and when no thread can be created (reported to the driver's debug sink; the service is
    // then left stopped, its camera session ended).
    bool Start() override;
    // Stops the service thread (queued writes are discarded), forgets every state, ends the camera
    // sessions. Bounded while the camera hangs: its requests are aborted.
    bool Stop() override;
    std::uint32_t GetInputCount() override;
    std::uint32_t GetOutputCount() override;
    // Queues the write; false while stopped and for a state other than active or inactive.
    // Ports outside the output table are ignored later.
    bool SetOutput(std::uint32_t port, std::uint32_t state) override;

protected:
    // Writes one output state to the camera; true on success.
    virtual bool WriteOutput(std::uint32_t port, std::uint32_t state) = 0;
    // Reads `count` input states from the camera and hands each to ApplyInputState; false when
    // the camera could not be read or reported another number of inputs.
    virtual bool ReadInputs(std::uint32_t count) = 0;
    // Ends any camera sessions.
    virtual void Disconnect() = 0;
    // Makes the camera requests in progress, and later ones, fail at once (from any thread), or
    // lets them run again.
    virtual void AbortRequests() = 0;
    virtual void ResumeRequests() = 0;

    IDriver* GetDriver() const { return m_driver; }
    // One input's new state: recorded, and reported to the host when it differs from the last.
    void ApplyInputState(std::uint32_t port, std::uint32_t state);

private:
    void OnTick() override;
    void ProcessWorkItem(IWorkItem* item) override;
    // The driver's counts, each at most kMaxPorts.
    std::pair<std::uint32_t, std::uint32_t> TrackedPortCounts();
    void Poll();
    void GuardedWrite(std::uint32_t port, std::uint32_t state);
    // Forgets every state, then reports the failure (unless stopping).
    void Fail();
    void ResetStates();
    // Joins the service thread (already asked to end), lets the camera requests run again,
    // forgets every state and ends the camera sessions.
    void FinishStop();

    IDriver* const m_driver;
    std::atomic<ipcapture::ICaptureIOCallback*> m_callback{nullptr};
    std::atomic<bool> m_stopping{false};
    std::recursive_mutex m_hostLock;
    std::mutex m_stateLock;
    std::map<std::uint32_t, std::uint32_t> m_inputStates;   // guarded by m_stateLock
    std::map<std::uint32_t, std::uint32_t> m_outputStates;  // guarded by m_stateLock
};

}  // namespace kestrel

#endif
