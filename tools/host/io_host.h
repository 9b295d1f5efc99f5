// Reference host object for the digital I/O service: a callback that records every input change
// and failure notice.
//
// Usage (as the capture program's "io" command does it):
//     quillon_host::CHostIOCallback callback;
//     ICaptureIOApi* io = driver->GetIOApi();
//     io->SetCallback(&callback);
//     io->Start();
//     callback.WaitForChanges(2, std::chrono::seconds(5));
//     io->SetOutput(0, 2);
//     io->Stop();
//     for (const auto& change : callback.Changes()) ...
//
// Threading: the driver calls it from its I/O threads and from the host's thread in Start; every
// accessor locks, so it may be read from any thread.
#ifndef QUILLON_TOOLS_HOST_IO_HOST_H
#define QUILLON_TOOLS_HOST_IO_HOST_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "quillon/quillon.h"

namespace quillon_host {

using namespace kestrel::ipcapture;

struct InputChange {
    std::uint32_t port;
    std::uint32_t state;
    bool operator==(const InputChange& other) const { return port == other.port && state == other.state; }
};

class CHostIOCallback final : public ICaptureIOCallback {
public:
    // `echo`, when set, also sees each change (failures as port 0xFFFFFFFF, state 0).
    explicit CHostIOCallback(std::function<void(const InputChange&)> echo = nullptr);
    void* Destroy(unsigned int flags) override;
    void OnInputStateChanged(std::uint32_t port, std::uint32_t state) override;
    void OnIOFailure() override;

    // Wait until at least that many changes or failures arrived in all; true when they did.
    bool WaitForChanges(std::size_t count, std::chrono::milliseconds timeout);
    bool WaitForFailures(std::size_t count, std::chrono::milliseconds timeout);
    std::vector<InputChange> Changes() const;
    std::size_t FailureCount() const;
    void Clear();

    static constexpr std::uint32_t kFailurePort = 0xFFFFFFFF;

private:
    std::function<void(const InputChange&)> m_echo;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<InputChange> m_changes;  // guarded by m_mutex
    std::size_t m_failures = 0;          // guarded by m_mutex
};

}  // namespace quillon_host

#endif
