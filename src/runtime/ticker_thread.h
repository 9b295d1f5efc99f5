// A thread that calls OnTick() periodically until stopped.
//
// The first tick comes one period after Start, each later one a period after the previous
// OnTick() returned. Stop() lets a running OnTick() finish, so a tick that blocks must itself be
// interruptible (it can wait with WaitForStop or check IsStopRequested).
//
// Threading: Start and Stop on the owner's thread; OnTick on the ticker thread. Stop from inside
// OnTick does not wait for itself.
#ifndef QUILLON_RUNTIME_TICKER_THREAD_H
#define QUILLON_RUNTIME_TICKER_THREAD_H

#include <cstdint>
#include <string>

#include "runtime/simple_thread.h"

namespace kestrel::thread {

class CTickerThread : protected CSimpleThread {
public:
    explicit CTickerThread(std::uint32_t periodMs);
    ~CTickerThread() override;

    // False if a thread is already held or none can be created.
    bool Start(const std::string& name);
    // True at once when no thread runs; otherwise requests the stop and waits for the thread.
    bool Stop();

    std::uint32_t GetPeriod() const { return m_period; }

    using CSimpleThread::GetName;
    using CSimpleThread::IsCurrentThread;
    using CSimpleThread::IsStarted;
    using CSimpleThread::IsStopRequested;
    using CSimpleThread::SetPriority;

protected:
    // One tick, on the ticker thread. An exception escaping it is dropped and ticking goes on.
    virtual void OnTick() = 0;

    using CSimpleThread::WaitForStop;

private:
    void Run() override;

    const std::uint32_t m_period;
};

}  // namespace kestrel::thread

#endif
