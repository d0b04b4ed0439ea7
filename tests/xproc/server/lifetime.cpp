#include "lifetime.h"

namespace xserver {
namespace {

volatile LONG g_objects = 0;
HANDLE g_lastReleased = CreateEventW(nullptr, TRUE, FALSE, nullptr);

}  // namespace

void ObjectCreated()
{
    InterlockedIncrement(&g_objects);
}

void ObjectDestroyed()
{
    if (InterlockedDecrement(&g_objects) == 0)
        SetEvent(g_lastReleased);
}

bool WaitForLastRelease(DWORD timeoutMs)
{
    return WaitForSingleObject(g_lastReleased, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace xserver
