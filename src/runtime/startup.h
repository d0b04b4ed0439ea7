// Start-up of the COM server and the tick.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace zq {

enum class TickMode { NotStarted, Thread, Timer };

TickMode CurrentTickMode();

// What start-up and unload need of the COM objects. The runtime does not
// know them: the module hands them down at load (see module.cpp). A null
// member is skipped.
struct ServerObjects
{
    // The class factory registered at start-up (null if it cannot be made),
    // and its deletion at unload.
    IClassFactory *(*createFactory)() = nullptr;
    void (*deleteFactory)(IClassFactory *factory) = nullptr;
    // Keep and give up the interface registrations for the server's life.
    void (*anchorInterfaces)() = nullptr;
    void (*releaseAnchors)() = nullptr;
};
void SetServerObjects(const ServerObjects &objects);

// Unload helpers: kill the timer-mode timer; revoke (when allowed to call
// COM) and delete the class factory.
void StopTimerMode();
void RevokeClassFactory(bool callCom);

// InitZqHDAsvr: starts the COM server for the class with the tick period
// (ms, at least 10). 1 if started by this call; 0 if already started or
// failed.
int StartServer(CLSID clsid, DWORD tickPeriodMs);

} // namespace zq
