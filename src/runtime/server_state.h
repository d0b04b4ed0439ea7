// The one process-wide record of the server, and the module's load and
// unload steps.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <string>
#include <vector>

#include "ZqHDAsvr.h"

namespace zq {

class HDAServerBase;

// Lock order, everywhere in the library: server lock, then a client lock.
// The address space (item tree and catalogues) and the user list have locks
// of their own, which are never held while calling a client or the host.
struct ServerState
{
    // The host's object (SetHDAServerCallback) or the default object
    // (Enable...Callback); read by the engines at every call.
    std::atomic<CZqHDACallback *> callback{nullptr};
    CZqHDACallback defaultCallback;
    std::atomic<LONG> lockCount{0};
    std::atomic<DWORD> tickPeriod{0};
    std::atomic<char> qualifier{'.'};
    FILETIME startTime{};
    std::atomic<IMalloc *> taskAllocator{nullptr};

    // Guards the client list; in timer mode held across the tick of all
    // clients. A plain (recursive) critical section.
    CRITICAL_SECTION serverLock;
    std::vector<HDAServerBase *> clients; // guarded by serverLock
    std::atomic<LONG> clientCount{0};    // mirrors clients.size(), read without the lock

    std::atomic<LONG> securitySwitch{0};
    std::atomic<DWORD> minImpersonationLevel{0};

    // The host's read limits (SetHDAReadLimits), 0 for none: values per
    // item per call, and resample intervals per item of a processed read.
    std::atomic<DWORD> maxValuesPerItem{0};
    std::atomic<DWORD> maxIntervalsPerItem{0};

    // Quality words the engine writes for a missing bound and an undelivered
    // value (SetHDAQualityStyle): 0 the library's own, 1 the published 1.1
    // ones. Read once when a read starts.
    std::atomic<LONG> qualityStyle{0};

    std::string Vendor() const;
    void SetVendor(const char *text);

    // The status the host reports to clients (SetHDAServerStatus);
    // OPCHDA_UP with no text until the host says otherwise.
    struct HostStatus
    {
        DWORD status = OPCHDA_UP;
        std::string text;
    };
    HostStatus Status() const;
    void SetStatus(DWORD status, const char *text);

private:
    // Guards vendor and status: the host may replace them while clients
    // read them.
    mutable SRWLOCK vendorLock_ = SRWLOCK_INIT;
    std::string vendor_;
    HostStatus status_;
};

ServerState &State();

// The host's callback object (null before any is installed). The engines are
// handed it as a parameter: each request reads it once, here.
inline CZqHDACallback *Host() { return State().callback.load(); }

// Module load and unload (see module.h) in the runtime's part. Load sets
// the qualifier, the server lock, the vendor string and the tick event; false
// if the tick event cannot be created.
bool LoadServerState(HMODULE module);
// Sends shutdown requests to the remaining clients (unless the process is
// ending), forgets them, wakes their workers and closes the tick event.
// Returns how many clients were told.
long EndClients(bool processExit);
// Deletes the server lock and revokes the class factory.
void EndServerState(bool processExit);

// The module that holds the library (the DLL, or the program it is linked into).
HMODULE Module();

// The tick event, pulsed at every tick of thread mode and at unload. No
// client worker thread waits on it: an idle worker waits on its own
// ClientWorker (runtime/client_worker.h); the event is kept for whoever else
// waits on it.
HANDLE TickEvent();

// Server class identifier, stored by InitZqHDAsvr and the registration
// functions; all zeros until then.
CLSID ServerClsid();
void SetServerClsid(const CLSID &clsid);

} // namespace zq
