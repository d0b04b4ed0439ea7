// Lifetime of the test server process: it counts its live COM objects and
// worker threads and ends when the count falls back to zero.
#pragma once

#include <windows.h>

namespace xserver {

void ObjectCreated();
void ObjectDestroyed();

// Waits until the last object is gone (after at least one existed) or the
// timeout has passed; returns false on timeout.
bool WaitForLastRelease(DWORD timeoutMs);

}  // namespace xserver
