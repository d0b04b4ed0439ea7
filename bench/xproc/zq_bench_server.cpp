// The library side of the cross-process benchmark: a host of ZqHDAsvr.dll
// with one item whose history is kValues doubles, served as LocalServer32
// until its last client has left.
#include <windows.h>

#include "ZqHDAsvr.h"
#include "consecutive_host.h"
#include "xproc_bench.h"

namespace {

using namespace zqbench;

HANDLE g_lastClientLeft = CreateEventW(nullptr, TRUE, FALSE, nullptr);

ConsecutiveHost g_host(kValues);

void __stdcall OnDisconnect(long remaining)
{
    if (remaining == 0)
        SetEvent(g_lastClientLeft);
}

} // namespace

int main()
{
    SetHDAServerCallback(&g_host);
    DefineHDAItem(kItemId);
    EnableHDADisconnectNotification(OnDisconnect);
    if (!InitZqHDAsvr(kLibraryServerClsid, 100))
        return 1;
    int status = WaitForSingleObject(g_lastClientLeft, kServerLifetimeMs) == WAIT_OBJECT_0 ? 0 : 4;
    RequestHDADisconnect();
    return status;
}
