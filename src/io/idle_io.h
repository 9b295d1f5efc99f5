// The digital I/O object of a driver without camera I/O support: it reports the port counts the
// host configured, accepts a callback, and refuses every output change.
#ifndef QUILLON_IO_IDLE_IO_H
#define QUILLON_IO_IDLE_IO_H

#include "runtime/driver_interface.h"

namespace kestrel {

// Host threads call every operation. The driver must outlive this object.
class CIdleIO final : public ipcapture::ICaptureIOApi {
public:
    explicit CIdleIO(IDriver* driver) : m_driver(driver) {}

    void* Destroy(unsigned int flags) override;
    bool SetCallback(ipcapture::ICaptureIOCallback* callback) override;
    bool Start() override;
    bool Stop() override;
    std::uint32_t GetInputCount() override;
    std::uint32_t GetOutputCount() override;
    bool SetOutput(std::uint32_t port, std::uint32_t state) override;

private:
    IDriver* m_driver;
};

}  // namespace kestrel

#endif
