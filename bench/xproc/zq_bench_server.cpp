// The library side of the cross-process benchmark: a host of ZqHDAsvr.dll
// with one item whose history is kValues doubles, served as LocalServer32
// until its last client has left.
#include <windows.h>

#include "ZqHDAsvr.h"
#include "xproc_bench.h"

namespace {

using namespace zqbench;

HANDLE g_lastClientLeft = CreateEventW(nullptr, TRUE, FALSE, nullptr);

class Host : public CZqHDACallback
{
public:
    int GetTimeStamps(void *, FILETIME *start, FILETIME *, int maxCount, FILETIME *times,
                      unsigned long *) override
    {
        if (maxCount == 0 || times == nullptr)
            return kValues;
        int n = maxCount < kValues ? maxCount : kValues;
        ULONGLONG t = start != nullptr ? (ULONGLONG(start->dwHighDateTime) << 32) | start->dwLowDateTime : 0;
        for (int i = 0; i < n; ++i, ++t) {
            times[i].dwLowDateTime = static_cast<DWORD>(t);
            times[i].dwHighDateTime = static_cast<DWORD>(t >> 32);
        }
        return n;
    }
    long GetNextTimeStamp(void *, FILETIME, FILETIME *, unsigned long) override { return 1; }
    long ReadAt(void *, FILETIME time, VARIANT *value, unsigned long *quality, unsigned long) override
    {
        value->vt = VT_R8;
        value->dblVal = ValueAt(static_cast<int>(time.dwLowDateTime % kValues));
        *quality = kQuality;
        return 0;
    }
};

Host g_host;

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
