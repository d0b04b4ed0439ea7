// Start-up scenarios that need a process of their own (the server starts
// once per process). Prints key=value lines for the test to check.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../fake_client.h"
#include "module.h"
#include "runtime/server_state.h"
#include "runtime/startup.h"
#include "runtime/task_memory.h"

namespace {

const CLSID kClsid = {0x5a1e0001, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const CLSID kOther = {0x5a1e0002, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

int ThreadMode(DWORD period)
{
    int first = InitZqHDAsvr(kClsid, period);
    int again = InitZqHDAsvr(kClsid, period);
    int other = InitZqHDAsvr1(&kOther, 50);
    zq::ServerState &s = zq::State();
    printf("first=%d again=%d other=%d\n", first, again, other);
    printf("mode=%s period=%lu\n", zq::CurrentTickMode() == zq::TickMode::Thread ? "thread" : "timer",
           static_cast<unsigned long>(s.settings.tickPeriod.load()));
    printf("allocator=%d start=%d\n", s.taskAllocator.load() != nullptr ? 1 : 0,
           (s.startTime.dwLowDateTime | s.startTime.dwHighDateTime) != 0 ? 1 : 0);
    CLSID c = zq::ServerClsid();
    printf("clsid=%d\n", IsEqualCLSID(c, kClsid) ? 1 : 0);
    void *block = zq::ZeroedTaskAlloc(64);
    bool zero = block != nullptr;
    for (int i = 0; zero && i < 64; ++i)
        zero = static_cast<unsigned char *>(block)[i] == 0;
    zq::TaskFree(block);
    printf("zeroed=%d\n", zero ? 1 : 0);
    // The tick thread pulses the tick event; every wait is bounded.
    int pulses = 0;
    for (int i = 0; i < 3; ++i)
        pulses += WaitForSingleObject(zq::TickEvent(), 2000) == WAIT_OBJECT_0 ? 1 : 0;
    printf("pulses=%d\n", pulses);
    // The tick thread made its hidden window.
    HWND w = FindWindowA("ZQTimerNotify", nullptr);
    printf("window=%d visible=%d\n", w != nullptr ? 1 : 0, w != nullptr && IsWindowVisible(w) ? 1 : 0);
    fflush(stdout);
    return 0;
}

int TimerMode()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    zqtest::FakeClient client;
    zq::AddClient(&client);
    int first = InitZqHDAsvr(kClsid, 20);
    printf("first=%d mode=%s\n", first,
           zq::CurrentTickMode() == zq::TickMode::Timer ? "timer" : "thread");
    // Without dispatching messages nothing ticks.
    Sleep(100);
    printf("ticks_without_messages=%d\n", client.ticks.load());
    // Dispatching runs the tick on this thread, under the server lock.
    DWORD until = GetTickCount() + 5000;
    MSG msg;
    while (client.ticks < 2 && static_cast<LONG>(until - GetTickCount()) > 0) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        }
    }
    printf("ticks=%d on_host_thread=%d under_lock=%d\n", client.ticks.load() >= 2 ? 2 : client.ticks.load(),
           client.tickThread == GetCurrentThreadId() ? 1 : 0, client.tickUnderServerLock ? 1 : 0);
    // Nothing pulses the tick event in timer mode.
    printf("pulsed=%d\n", WaitForSingleObject(zq::TickEvent(), 100) == WAIT_OBJECT_0 ? 1 : 0);
    zq::RemoveClient(&client);
    fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!zq::ModuleLoad(GetModuleHandleW(nullptr)))
        return 2;
    if (argc >= 3 && strcmp(argv[1], "thread") == 0)
        return ThreadMode(static_cast<DWORD>(strtoul(argv[2], nullptr, 10)));
    if (argc >= 2 && strcmp(argv[1], "timer") == 0)
        return TimerMode();
    return 3;
}
