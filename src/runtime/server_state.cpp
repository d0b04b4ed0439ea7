#include "runtime/server_state.h"

#include "addrspace/catalogue.h"
#include "addrspace/item_registry.h"
#include "runtime/client.h"
#include "runtime/srw_guard.h"
#include "runtime/startup.h"
#include "runtime/worker_wake.h"
#include "security/users.h"

namespace zq {

namespace {
ServerState g_state;
HMODULE g_module = nullptr;
HANDLE g_tickEvent = nullptr;
} // namespace

ServerState &State() { return g_state; }
HMODULE Module() { return g_module; }
HANDLE TickEvent() { return g_tickEvent; }

std::string ServerState::Vendor() const
{
    AcquireSRWLockShared(&vendorLock_);
    std::string copy = vendor_;
    ReleaseSRWLockShared(&vendorLock_);
    return copy;
}

void ServerState::SetVendor(const char *text)
{
    std::string value = text != nullptr ? text : "";
    AcquireSRWLockExclusive(&vendorLock_);
    vendor_.swap(value);
    ReleaseSRWLockExclusive(&vendorLock_);
}

ServerState::HostStatus ServerState::Status() const
{
    SrwShared hold(vendorLock_);
    return status_;
}

void ServerState::SetStatus(DWORD status, const char *text)
{
    HostStatus value;
    value.status = status;
    value.text = text != nullptr ? text : "";
    SrwExclusive hold(vendorLock_);
    status_.status = value.status;
    status_.text.swap(value.text);
}

bool ModuleLoad(HMODULE module)
{
    g_module = module;
    ServerState &s = g_state;
    s.callback = nullptr;
    s.lockCount = 0;
    s.securitySwitch = 0;
    s.minImpersonationLevel = 0;
    s.clients.clear();
    s.clientCount = 0;
    // 1. qualifier, 2. server lock, 3. vendor string, 4. tick event.
    s.qualifier = '.';
    InitializeCriticalSection(&s.serverLock);
    s.SetVendor("Morvane OPC HDA Server");
    s.SetStatus(OPCHDA_UP, "");
    g_tickEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_tickEvent == nullptr) {
        DeleteCriticalSection(&s.serverLock);
        return false;
    }
    return true;
}

// Unload order. Once started, the module pins itself (see InitZqHDAsvr): its
// tick thread and client worker threads run its code and cannot be stopped
// safely from the loader's notification, so a started server is only ever
// unloaded when the process ends. At that point Windows has already ended
// every other thread, including the RPC threads that would carry a client's
// answer, and the loader lock is held: a call to a client, a class-object
// revocation or a wait could hang the exit. Those steps are therefore taken
// only when the module is unloaded while the process goes on (which, for a
// started server, happens only when the library is linked into a test
// program). Hosts tell their clients with RequestHDADisconnect before exit.
void ModuleUnload(bool processExit)
{
    ServerState &s = g_state;

    // 1. The timer-mode timer.
    StopTimerMode();
    // 2. Users.
    DeleteAllUsers(processExit);
    // 3. Shutdown requests to the remaining clients, then forget them.
    long told = 0;
    if (!processExit)
        told = SendShutdownRequests();
    // When the process ends, a thread stopped while holding the server lock
    // would leave it held for ever; nobody else runs then, so no lock is needed.
    if (!processExit)
        EnterCriticalSection(&s.serverLock);
    s.clients.clear();
    s.clientCount = 0;
    if (!processExit)
        LeaveCriticalSection(&s.serverLock);
    // 4. Wake every worker once (those of removed objects destroy them), then
    // close the event.
    if (!processExit)
        WakeWorkersForUnload();
    if (g_tickEvent != nullptr) {
        PulseEvent(g_tickEvent);
        CloseHandle(g_tickEvent);
        g_tickEvent = nullptr;
    }
    // 5. The item tree; 6. the catalogues.
    ClearItemTree(processExit);
    ClearCatalogues(processExit);
    // 7. The server lock.
    DeleteCriticalSection(&s.serverLock);
    // 8. The class factory.
    RevokeClassFactory(!processExit);
    // 9. Give clients that were told a moment to let go.
    if (told > 0)
        Sleep(2000);
}

} // namespace zq
