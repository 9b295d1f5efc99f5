#include "runtime/ticker_thread.h"

namespace kestrel::thread {

CTickerThread::CTickerThread(std::uint32_t periodMs) : m_period(periodMs) {}

CTickerThread::~CTickerThread() = default;

bool CTickerThread::Start(const std::string& name) { return CSimpleThread::Start(name); }

bool CTickerThread::Stop() {
    if (!IsStarted()) return true;
    RequestStop();
    return WaitForExit();
}

void CTickerThread::Run() {
    // Waiting on the stop request is both the period and the way out, so a stop never waits for
    // the rest of a period.
    while (!WaitForStop(m_period)) {
        try {
            OnTick();
        } catch (...) {
            // A failed tick must not end the periodic work; the next period tries again.
        }
    }
}

}  // namespace kestrel::thread
