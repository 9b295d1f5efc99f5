#include "io/idle_io.h"

#include "runtime/host_call.h"

namespace kestrel {

void* CIdleIO::Destroy(unsigned int flags) {
    return DestroyObject(this, flags);
}

bool CIdleIO::SetCallback(ipcapture::ICaptureIOCallback*) {
    return true;
}

bool CIdleIO::Start() {
    return true;
}

bool CIdleIO::Stop() {
    return true;
}

std::uint32_t CIdleIO::GetInputCount() {
    return m_driver->GetIOPortCounts().first;
}

std::uint32_t CIdleIO::GetOutputCount() {
    return m_driver->GetIOPortCounts().second;
}

bool CIdleIO::SetOutput(std::uint32_t, std::uint32_t) {
    return false;
}

}  // namespace kestrel
