// The library side of the cross-process benchmarks: a host of ZqHDAsvr.dll
// served as LocalServer32 until its last client has left. By default one
// item whose history is kValues doubles (tick 100 ms); with --ticking the
// items Bench.Tag0.. with one value per millisecond at any time and a 10 ms
// tick, for raw advises; --stop NAME also ends it when the named event is
// set (clients that were killed never leave) or the process --owner PID has
// ended, and meanwhile publishes the
// process's CPU time (100-ns units, every 100 ms) in the mapping NAME "Cpu":
// under Wine, GetProcessTimes of another process reports no CPU time.
// --soak (the memory soak's server): the library's aggregates on, and a
// longer lifetime.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ZqHDAsvr.h"
#include "consecutive_host.h"
#include "ticking_host.h"
#include "xproc_bench.h"

namespace {

using namespace zqbench;

HANDLE g_lastClientLeft = CreateEventW(nullptr, TRUE, FALSE, nullptr);

ConsecutiveHost g_host(kValues);
TickingHost g_tickingHost(10000); // one value per millisecond

void __stdcall OnDisconnect(long remaining)
{
    if (remaining == 0)
        SetEvent(g_lastClientLeft);
}

} // namespace

int main(int argc, char **argv)
{
    bool ticking = false, soak = false;
    HANDLE stop = nullptr, owner = nullptr, cpuMapping = nullptr;
    volatile ULONGLONG *cpu = nullptr;
    for (int i = 1; i < argc; ++i) {
        ticking = ticking || std::strcmp(argv[i], "--ticking") == 0;
        soak = soak || std::strcmp(argv[i], "--soak") == 0;
        if (std::strcmp(argv[i], "--owner") == 0 && i + 1 < argc)
            owner = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::atol(argv[++i])));
        if (std::strcmp(argv[i], "--stop") == 0 && i + 1 < argc) {
            stop = OpenEventA(SYNCHRONIZE, FALSE, argv[++i]);
            std::string name = std::string(argv[i]) + "Cpu";
            cpuMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(ULONGLONG), name.c_str());
            if (cpuMapping != nullptr)
                cpu = static_cast<volatile ULONGLONG *>(
                    MapViewOfFile(cpuMapping, FILE_MAP_WRITE, 0, 0, sizeof(ULONGLONG)));
        }
    }
    if (ticking) {
        SetHDAServerCallback(&g_tickingHost);
        for (int i = 0; i < kAdviseItems; ++i) {
            char id[32];
            std::snprintf(id, sizeof id, "%s%d", kAdviseItemPrefix, i);
            DefineHDAItem(id);
        }
    } else {
        SetHDAServerCallback(&g_host);
        DefineHDAItem(kItemId);
    }
    // The memory soak reads processed values too: the library computes them.
    if (soak)
        EnableHDAStandardAggregates(1);
    EnableHDADisconnectNotification(OnDisconnect);
    if (!InitZqHDAsvr(kLibraryServerClsid, ticking ? 10 : 100))
        return 1;
    HANDLE ends[3] = {g_lastClientLeft};
    DWORD count = 1;
    for (HANDLE h : {stop, owner})
        if (h != nullptr)
            ends[count++] = h;
    DWORD end = WAIT_TIMEOUT;
    const DWORD lifetime = soak ? kSoakServerLifetimeMs : kServerLifetimeMs;
    for (DWORD waited = 0; end == WAIT_TIMEOUT && waited < lifetime; waited += 100) {
        FILETIME created, exited, kernel, user;
        if (cpu != nullptr && GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
            *cpu = ((ULONGLONG(kernel.dwHighDateTime) << 32) | kernel.dwLowDateTime) +
                   ((ULONGLONG(user.dwHighDateTime) << 32) | user.dwLowDateTime);
        end = WaitForMultipleObjects(count, ends, FALSE, 100);
    }
    int status = end < WAIT_OBJECT_0 + count ? 0 : 4;
    RequestHDADisconnect();
    return status;
}
