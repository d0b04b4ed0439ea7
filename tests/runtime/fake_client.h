// A stand-in for a connected client's HDAServer, recording what the
// runtime asks of it.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

#include "runtime/client.h"
#include "runtime/server_state.h"

namespace zqtest {

class FakeClient : public zq::HDAServerBase
{
public:
    std::atomic<LONG> refs{1};
    std::atomic<bool> running{true};
    std::atomic<int> ticks{0};
    std::atomic<int> shutdowns{0};
    std::atomic<DWORD> tickThread{0};
    std::atomic<bool> tickUnderServerLock{false};
    std::function<void()> onTick;

    bool TryAddRef() override
    {
        LONG n = refs.load();
        while (n > 0) {
            if (refs.compare_exchange_weak(n, n + 1))
                return true;
        }
        return false;
    }
    void ReleaseRef() override
    {
        if (--refs == 0)
            zq::RemoveClient(this);
    }
    void StopRunning() override { running = false; }
    bool IsRunning() const override { return running; }
    void TickStep() override
    {
        ++ticks;
        tickThread = GetCurrentThreadId();
        // The critical section is recursive: owned by this thread means held.
        CRITICAL_SECTION &cs = zq::State().serverLock;
        tickUnderServerLock = reinterpret_cast<DWORD_PTR>(cs.OwningThread) ==
                              static_cast<DWORD_PTR>(GetCurrentThreadId());
        if (onTick)
            onTick();
    }
    void SendShutdownRequest() override { ++shutdowns; }
};

} // namespace zqtest
