// The digital I/O service of a Cisco camera: inputs read and outputs triggered through the
// camera's web API, with one client and session for both.
//
// The client logs in at its first use and again at the use after a failed read or write, so a
// camera whose session ended (a reboot, a session time-out) is served again from the next poll.
//
// Threading: as CIOBase. The client and its flag belong to the service thread (and to Start on
// the host's thread before that thread exists); Stop touches them only after the thread ended.
// Abort reaches the client from any thread.
#ifndef QUILLON_IO_CISCO_IO_H
#define QUILLON_IO_CISCO_IO_H

#include "io/io_base.h"
#include "webapi/cisco_client.h"

namespace kestrel {

class CCiscoIO final : public CIOBase {
public:
    static constexpr std::uint32_t kPollPeriodMs = 2000;

    // The driver (borrowed) must outlive this object.
    explicit CCiscoIO(IDriver* driver, std::uint32_t pollPeriodMs = kPollPeriodMs);
    // Stops the service if the owner did not.
    ~CCiscoIO() override;

    void* Destroy(unsigned int flags) override;

private:
    bool WriteOutput(std::uint32_t port, std::uint32_t state) override;
    bool ReadInputs(std::uint32_t count) override;
    void Disconnect() override;
    void AbortRequests() override;
    void ResumeRequests() override;

    // Logs the client in unless it is; false when the camera refused or could not be reached.
    bool EnsureLoggedIn();

    CCiscoClient m_client;
    bool m_loggedIn = false;
};

}  // namespace kestrel

#endif
