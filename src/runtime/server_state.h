// The one process-wide record of the server, and the module's load and
// unload steps.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ZqHDAsvr.h"

namespace zq {

class HDAServerBase;

// The packed form of the library's aggregate configuration
// (SetHDAAggregateConfiguration), one word so that a request never sees half
// of a change: bit 0 TreatUncertainAsBad, bit 1 UseSlopedExtrapolation, bits
// 8-15 PercentDataBad, bits 16-23 PercentDataGood.
constexpr uint32_t PackAggregateConfig(bool uncertainAsBad, int bad, int good, bool sloped)
{
    return (uncertainAsBad ? 1u : 0u) | (sloped ? 2u : 0u) | (static_cast<uint32_t>(bad) << 8) |
           (static_cast<uint32_t>(good) << 16);
}

// Every setting the host makes through the exports (src/api), in one record.
// Each is a single atomic word written by an export and read by the code it
// steers, at every use or once per request as its comment says; vendor and
// status, being texts, are behind a lock of their own.
struct HostSettings
{
    // The host's object (SetHDAServerCallback) or the default object, made
    // current by installing a plain callback (Enable...Callback); read by
    // every request once (Host()).
    std::atomic<CZqHDACallback *> callback{nullptr};
    // The plain callbacks (Enable...Callback); null when the module loads.
    // The host installs them while setting up; the default object and the
    // engines read them at every call.
    struct PlainCallbacks
    {
        std::atomic<ZQHDA_GetTimeStampsProc> getTimeStamps{nullptr};
        std::atomic<ZQHDA_GetPreviousTimeStampProc> getPrevious{nullptr};
        std::atomic<ZQHDA_GetNextTimeStampProc> getNext{nullptr};
        std::atomic<ZQHDA_ReadAtProc> readAt{nullptr};
        std::atomic<ZQHDA_ReadCurrentAttributeProc> readCurrentAttribute{nullptr};
        std::atomic<ZQHDA_ReadAttributeAtProc> readAttributeAt{nullptr};
        std::atomic<ZQHDA_PrepareAggregatesProc> prepareAggregates{nullptr};
        std::atomic<ZQHDA_ReadProcessedProc> readProcessed{nullptr};
        std::atomic<ZQHDA_QueryUpdateCapabilitiesProc> queryCapabilities{nullptr};
        std::atomic<ZQHDA_UpdateProc> insert{nullptr};
        std::atomic<ZQHDA_UpdateProc> replace{nullptr};
        std::atomic<ZQHDA_UpdateProc> insertReplace{nullptr};
        std::atomic<ZQHDA_DeleteRawProc> deleteRaw{nullptr};
        std::atomic<ZQHDA_DeleteAtTimeProc> deleteAtTime{nullptr};
        // Annotations and modified values exist only as plain callbacks;
        // installing them leaves the callback object as it is.
        std::atomic<ZQHDA_ReadAnnotationsProc> readAnnotations{nullptr};
        std::atomic<ZQHDA_InsertAnnotationProc> insertAnnotation{nullptr};
        std::atomic<ZQHDA_ReadModifiedProc> readModified{nullptr};
    } plain;

    // The host's trace function (EnableHDAEventMsgs; null: tracing off) and
    // disconnect function (EnableHDADisconnectNotification).
    std::atomic<ZQHDA_TraceProc> trace{nullptr};
    std::atomic<ZQHDA_DisconnectProc> disconnect{nullptr};

    // The host's check of OPC UA user names and passwords
    // (SetHDAUaUserCheck; null: no user accepted).
    std::atomic<ZQHDA_UaUserCheckProc> uaUserCheck{nullptr};

    // The tick period in ms (InitZqHDAsvr), at least 10 once started.
    std::atomic<DWORD> tickPeriod{0};
    // The delimiter between item ID elements (SetZqHDAsvrQualifier).
    std::atomic<char> qualifier{'.'};

    // Client access control (EnableHDASecurity).
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

    // Processed-data subscriptions (EnableHDAAdviseProcessed), the library's
    // standard aggregates (EnableHDAStandardAggregates) and their
    // configuration (SetHDAAggregateConfiguration, packed); each request
    // reads them once when it arrives.
    std::atomic<int> adviseProcessed{0};
    std::atomic<int> standardAggregates{0};
    std::atomic<uint32_t> aggregateConfig{PackAggregateConfig(false, 100, 100, false)};

    // The vendor text (SetHDAVendorInfo) and the status the host reports to
    // clients (SetHDAServerStatus); OPCHDA_UP with no text until the host
    // says otherwise.
    std::string Vendor() const;
    void SetVendor(const char *text);
    struct HostStatus
    {
        DWORD status = OPCHDA_UP;
        std::string text;
    };
    HostStatus Status() const;
    // False (nothing changes) for a status other than OPCHDA_UP, OPCHDA_DOWN
    // and OPCHDA_INDETERMINATE.
    bool SetStatus(DWORD status, const char *text);

private:
    // Guards vendor and status: the host may replace them while clients
    // read them.
    mutable SRWLOCK vendorLock_ = SRWLOCK_INIT;
    std::string vendor_;
    HostStatus status_;
};

// Lock order, everywhere in the library: server lock, then a client lock.
// The address space (item tree and catalogues) and the user list have locks
// of their own, which are never held while calling a client or the host.
struct ServerState
{
    HostSettings settings;

    CZqHDACallback defaultCallback;
    std::atomic<LONG> lockCount{0};
    FILETIME startTime{};
    std::atomic<IMalloc *> taskAllocator{nullptr};

    // Guards the client list; in timer mode held across the tick of all
    // clients. A plain (recursive) critical section.
    CRITICAL_SECTION serverLock;
    std::vector<HDAServerBase *> clients; // guarded by serverLock
    std::atomic<LONG> clientCount{0};    // mirrors clients.size(), read without the lock
};

ServerState &State();

// The host's callback object (null before any is installed). The engines are
// handed it as a parameter: each request reads it once, here.
inline CZqHDACallback *Host() { return State().settings.callback.load(); }

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
