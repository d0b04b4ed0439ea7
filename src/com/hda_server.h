// HDAServer: the server object of one client connection. It owns the
// client's handle list, its pending asynchronous transactions, its name and
// one interface object per OPC interface the client asked for.
//
// Lifetime: the reference count alone decides it. The last Release takes the
// object off the client list (running flag 0); its client worker thread then
// destroys it after the next tick. It is never destroyed inside Release.
//
// Locks: the server lock (client list) is taken before a client lock; the
// client lock (of the client's requests, history/client_requests.h) guards
// the transaction list and is held while transactions run (not while their
// results are delivered). The handle list has its own reader-writer lock;
// the interface-object
// slots are filled with a compare-and-swap, so two simultaneous first
// requests for one interface leave exactly one object.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "com/data_callback_sink.h"
#include "history/client_requests.h"
#include "runtime/client.h"
#include "runtime/com_kit.h"
#include "runtime/handle_list.h"
#include "runtime/trace_texts.h"
#include "runtime/client_worker.h"

namespace zq {

// An interface object as its owner sees it: deleted by the owner.
class OwnedInterface
{
public:
    virtual ~OwnedInterface() = default;
    // The pointer handed out for the object's interface.
    virtual void *Interface() = 0;
};

// The interface objects, in the order of their slots (and of destruction).
enum class Slot : int
{
    OpcHdaServer = 0,
    Common,
    Container,
    SyncRead,
    AsyncRead,
    SyncUpdate,
    AsyncUpdate,
    SyncAnnotations,  // offered only while the host has annotation callbacks
    AsyncAnnotations, // likewise
    Count
};

class HDAServer final : public IUnknown, public HDAServerBase
{
public:
    // A new object with count 0 and no interface objects; null without memory.
    static HDAServer *Create();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // HDAServerBase
    bool TryAddRef() override;
    void ReleaseRef() override { Release(); }
    void StopRunning() override;
    bool IsRunning() const override { return running_.load() != 0; }
    void TickStep() override;
    void SendShutdownRequest() override;

    // Starts the client worker thread; false if it cannot be started.
    bool StartWorker();
    // Destruction: transactions, handle entries, interface objects, then the
    // object itself. Called by the worker thread (or at once when creation
    // fails); never by Release.
    void Destroy();

    HandleList &Handles() { return handles_; }
    const HandleList &Handles() const { return handles_; }

    std::string ClientName() const;
    void SetClientName(std::string name);

    // The interface object in a slot, or null if the client never asked for it.
    OwnedInterface *Existing(Slot slot) const
    {
        return slots_[static_cast<int>(slot)].load(std::memory_order_acquire);
    }

    // The client's asynchronous requests: the transaction list, the client
    // lock that guards it, the delivery gate and the tick step.
    ClientRequests &Requests() { return requests_; }
    // Whether a tick step of the client is running.
    bool Stepping() const { return requests_.Stepping(); }

    // The client's worker: how it is woken, and its part in the tick.
    ClientWorker &Worker() { return worker_; }

    LONG RefCount() const { return refs_.Count(); }
    // Tick steps completed so far by the worker (or the timer-mode tick).
    LONG TickSteps() const { return tickSteps_.load(); }
    // Server objects constructed and not yet destroyed, in this process.
    static LONG LiveObjects();

private:
    HDAServer();
    ~HDAServer();
    HDAServer(const HDAServer &) = delete;
    HDAServer &operator=(const HDAServer &) = delete;

    // The interface object of a slot, created on first request; null when
    // memory runs out.
    OwnedInterface *Obtain(Slot slot);
    static DWORD WINAPI WorkerThread(LPVOID self);

    mutable SRWLOCK nameLock_ = SRWLOCK_INIT;
    std::string clientName_;
    HandleList handles_;
    std::atomic<LONG> running_{1};
    TracedRefCount refs_{texts::kHDAServer_AddRef, texts::kHDAServer_Release,
                         TracedRefCount::ReleaseShows::Before};
    std::atomic<LONG> tickSteps_{0};
    ClientWorker worker_;
    DataCallbackSink sink_{*this};
    ClientRequests requests_{sink_};
    std::atomic<OwnedInterface *> slots_[static_cast<int>(Slot::Count)];
};

// Calls ShutdownRequest("") on the client's advised IOPCShutdown sink, if any.
void SendShutdownToSink(HDAServer &server);

} // namespace zq
