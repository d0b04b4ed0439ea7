#include "runtime/server_state.h"

#include "runtime/client.h"
#include "runtime/srw_guard.h"
#include "runtime/startup.h"
#include "runtime/client_worker.h"

namespace zq {

namespace {
ServerState g_state;
HMODULE g_module = nullptr;
HANDLE g_tickEvent = nullptr;
} // namespace

ServerState &State() { return g_state; }
HMODULE Module() { return g_module; }
HANDLE TickEvent() { return g_tickEvent; }

std::string HostSettings::Vendor() const
{
    SrwShared hold(vendorLock_);
    return vendor_;
}

void HostSettings::SetVendor(const char *text)
{
    std::string value = text != nullptr ? text : "";
    SrwExclusive hold(vendorLock_);
    vendor_.swap(value);
}

HostSettings::HostStatus HostSettings::Status() const
{
    SrwShared hold(vendorLock_);
    return status_;
}

bool HostSettings::SetStatus(DWORD status, const char *text)
{
    if (status != OPCHDA_UP && status != OPCHDA_DOWN && status != OPCHDA_INDETERMINATE)
        return false;
    HostStatus value;
    value.status = status;
    value.text = text != nullptr ? text : "";
    SrwExclusive hold(vendorLock_);
    status_.status = value.status;
    status_.text.swap(value.text);
    return true;
}

bool LoadServerState(HMODULE module)
{
    g_module = module;
    ServerState &s = g_state;
    s.settings.callback = nullptr;
    s.lockCount = 0;
    s.settings.securitySwitch = 0;
    s.settings.minImpersonationLevel = 0;
    s.clients.clear();
    s.clientCount = 0;
    // 1. qualifier, 2. server lock, 3. vendor string, 4. tick event.
    s.settings.qualifier = '.';
    InitializeCriticalSection(&s.serverLock);
    s.settings.SetVendor("Morvane OPC HDA Server");
    s.settings.SetStatus(OPCHDA_UP, "");
    g_tickEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_tickEvent == nullptr) {
        DeleteCriticalSection(&s.serverLock);
        return false;
    }
    return true;
}

long EndClients(bool processExit)
{
    ServerState &s = g_state;

    // Shutdown requests to the remaining clients, then forget them.
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
    // Wake every worker once (those of removed objects destroy them), then
    // close the event.
    if (!processExit)
        WakeWorkersForUnload();
    if (g_tickEvent != nullptr) {
        PulseEvent(g_tickEvent);
        CloseHandle(g_tickEvent);
        g_tickEvent = nullptr;
    }
    return told;
}

void EndServerState(bool processExit)
{
    // The server lock, then the class factory.
    DeleteCriticalSection(&g_state.serverLock);
    RevokeClassFactory(!processExit);
}

} // namespace zq
