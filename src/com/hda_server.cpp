#include "com/hda_server.h"

#include <new>

#include "com/async_annotations.h"
#include "com/async_read.h"
#include "com/async_update.h"
#include "com/connection_container.h"
#include "com/opc_common.h"
#include "com/opc_server.h"
#include "com/sync_annotations.h"
#include "com/sync_read.h"
#include "com/sync_update.h"

#include "history/annotation_engine.h"
#include "history/transaction.h"
#include "opccomn.h"
#include "opchda.h"
#include "runtime/interface_names.h"
#include "runtime/server_state.h"
#include "runtime/srw_guard.h"
#include "runtime/startup.h"
#include "runtime/thread_stacks.h"
#include "runtime/trace.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {
std::atomic<LONG> g_liveObjects{0};
} // namespace

HDAServer *HDAServer::Create() { return new (std::nothrow) HDAServer(); }

LONG HDAServer::LiveObjects() { return g_liveObjects.load(); }

HDAServer::HDAServer()
{
    ++g_liveObjects;
    // Thread mode: the crew runs the client's tick steps; a client that has
    // left the list is destroyed by its worker without running anything more.
    worker_.crew.step = [](void *self) {
        HDAServer *server = static_cast<HDAServer *>(self);
        if (server->IsRunning())
            server->TickStep();
    };
    worker_.crew.owner = this;
    for (auto &s : slots_)
        s.store(nullptr);
}

HDAServer::~HDAServer() { --g_liveObjects; }

namespace {

using Maker = OwnedInterface *(*)(HDAServer *);

const Maker kMakers[static_cast<int>(Slot::Count)] = {
    CreateOpcHdaServerInterface,    CreateCommonInterface,     CreateConnectionContainer,
    CreateSyncReadInterface,  CreateAsyncReadInterface,  CreateSyncUpdateInterface,
    CreateAsyncUpdateInterface, CreateSyncAnnotationsInterface, CreateAsyncAnnotationsInterface,
};

struct Answer
{
    const IID *iid;
    const char *suffix;
    Slot slot; // Slot::Count: the HDAServer itself
};

// Compared in this order; the first match is traced at once.
const Answer kAnswers[] = {
    {&IID_IUnknown, " IID_IUnknown", Slot::Count},
    {&IID_IOPCHDA_Server, " IID_IOPCHDA_Server", Slot::OpcHdaServer},
    {&IID_IOPCHDA_SyncRead, " IID_IOPCHDA_SyncRead", Slot::SyncRead},
    {&IID_IOPCHDA_AsyncRead, " IID_IOPCHDA_AsyncRead", Slot::AsyncRead},
    {&IID_IOPCHDA_SyncUpdate, " IID_IOPCHDA_SyncUpdate", Slot::SyncUpdate},
    {&IID_IOPCHDA_AsyncUpdate, " IID_IOPCHDA_AsyncUpdate", Slot::AsyncUpdate},
    {&IID_IConnectionPointContainer, " IID_IConnectionPointContainer", Slot::Container},
    {&IID_IOPCCommon, " IID_IOPCCommon", Slot::Common},
    {&IID_IOPCHDA_SyncAnnotations, " IID_IOPCHDA_SyncAnnotations", Slot::SyncAnnotations},
    {&IID_IOPCHDA_AsyncAnnotations, " IID_IOPCHDA_AsyncAnnotations", Slot::AsyncAnnotations},
};

// The annotation interfaces exist for a client only while the host has an
// annotation callback installed; otherwise they are unknown interfaces.
bool Offered(Slot slot)
{
    return (slot != Slot::SyncAnnotations && slot != Slot::AsyncAnnotations) ||
           AnnotationsOffered();
}

} // namespace

HRESULT STDMETHODCALLTYPE HDAServer::QueryInterface(REFIID iid, void **out)
{
    if (out == nullptr) {
        Trace(texts::kHDAServer_QueryInterface_E_INVALIDARG);
        return E_INVALIDARG;
    }
    for (const Answer &a : kAnswers) {
        if (!IsEqualIID(iid, *a.iid) || !Offered(a.slot))
            continue;
        ZQ_TRACEF(texts::kFormat_HDAServer_QueryInterface, a.suffix);
        void *result = nullptr;
        if (a.slot == Slot::Count) {
            result = static_cast<IUnknown *>(this);
        } else {
            OwnedInterface *obj = Obtain(a.slot);
            result = obj != nullptr ? obj->Interface() : nullptr;
        }
        *out = result;
        if (result == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ZQ_TRACEF(texts::kFormat_HDAServer_QueryInterface, InterfaceNameSuffix(iid));
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE HDAServer::AddRef() { return refs_.Add(); }

ULONG STDMETHODCALLTYPE HDAServer::Release()
{
    const ULONG n = refs_.Drop();
    if (n != 0)
        return n;
    // Off the client list; the worker thread destroys the object later.
    RemoveClient(this);
    return 0;
}

bool HDAServer::TryAddRef() { return refs_.AddUnlessZero(); }

void HDAServer::StopRunning()
{
    running_ = 0;
    // Destroyed by its worker as soon as the remover has let go of the
    // server lock.
    worker_.Signal(ClientWorker::kStop);
}

void HDAServer::TickStep()
{
    // Only one tick step of a client runs at a time (the worker's, the
    // crew's, or in timer mode the host thread's); a step that finds another
    // one running leaves at once.
    if (!requests_.Step())
        return;
    // Counted once the step is over, callbacks included.
    ++tickSteps_;
}

void HDAServer::SendShutdownRequest() { SendShutdownToSink(*this); }

OwnedInterface *HDAServer::Obtain(Slot slot)
{
    std::atomic<OwnedInterface *> &cell = slots_[static_cast<int>(slot)];
    OwnedInterface *existing = cell.load(std::memory_order_acquire);
    if (existing != nullptr)
        return existing;
    OwnedInterface *fresh = kMakers[static_cast<int>(slot)](this);
    if (fresh == nullptr)
        return nullptr; // a later request tries again
    if (cell.compare_exchange_strong(existing, fresh, std::memory_order_acq_rel))
        return fresh;
    // Another thread's object won the race; ours was never handed out.
    delete fresh;
    return existing;
}

std::string HDAServer::ClientName() const
{
    SrwShared hold(nameLock_);
    return clientName_;
}

void HDAServer::SetClientName(std::string name)
{
    SrwExclusive hold(nameLock_);
    clientName_.swap(name);
}

void HDAServer::Destroy()
{
    // 1. Transactions, under the client lock (the lock itself goes with the
    // object).
    requests_.Clear();
    // 2. Handle entries.
    handles_.Clear();
    // 3. Interface objects in slot order (the container releases advised sinks).
    for (auto &cell : slots_) {
        delete cell.exchange(nullptr);
    }
    // 4. The rest goes with the object.
    delete this;
}

// The worker runs the client's first step at once, then sleeps until its
// object leaves the client list (it destroys the object) or the module is
// unloaded (client_worker.h). The later steps run on the crew at the ticks of
// thread mode (step_crew.h), or on the host's thread at the ticks of timer
// mode.
DWORD WINAPI HDAServer::WorkerThread(LPVOID param)
{
    HDAServer *self = static_cast<HDAServer *>(param);
    self->worker_.Register();
    if (self->IsRunning())
        self->TickStep();
    while (self->IsRunning()) {
        const LONG reasons = self->worker_.Wait();
        if ((reasons & ClientWorker::kUnload) != 0 && self->IsRunning()) {
            // The module is being unloaded with the client still connected:
            // the object is left as it is.
            self->worker_.Unregister();
            return 0;
        }
    }
    // A timer-mode tick over all clients may still be running this client's
    // step under the server lock (its last reference can go inside it); the
    // object goes only after that walk. A step of it on the crew ends before
    // Unregister returns.
    EnterCriticalSection(&State().serverLock);
    LeaveCriticalSection(&State().serverLock);
    self->worker_.Unregister();
    self->Destroy();
    return 0;
}

bool HDAServer::StartWorker()
{
    HANDLE thread = CreateThread(nullptr, kWorkerThreadStack, WorkerThread, this,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr)
        return false;
    CloseHandle(thread);
    return true;
}

} // namespace zq
