#include "history/client_requests.h"

#include <algorithm>
#include <new>

#include "history/read_transactions.h"
#include "runtime/task_memory.h"

namespace zq {

namespace {

// Cancel IDs come from one counter for the whole process, so an ID does
// not return for a long time after its transaction ended; on the way an ID
// still held by one of the client's live transactions (possible only after
// the counter wrapped) and 0 are skipped.
std::atomic<DWORD> g_lastCancelId{0};

bool InUse(const std::vector<std::unique_ptr<Transaction>> &list, DWORD id)
{
    return std::any_of(list.begin(), list.end(),
                       [id](const std::unique_ptr<Transaction> &t) { return t->CancelId() == id; });
}

// Runs one transaction under the client lock; what it delivers is added to
// deliveries (whose capacity the caller reserved).
void RunOne(Transaction &t, bool sinkAdvised, std::vector<Delivery> &deliveries)
{
    if (t.Done())
        return;
    if (!sinkAdvised) {
        // Nobody to deliver to: discarded without a word, advises included.
        t.MarkDone();
        return;
    }
    deliveries.emplace_back();
    try {
        t.Run(deliveries.back());
    } catch (...) {
        // A host that throws ends the transaction; what it had is freed.
        t.MarkDone();
    }
    if (!deliveries.back())
        deliveries.pop_back();
    else
        deliveries.back().SetCancelId(t.CancelId());
}

} // namespace

ClientRequests::ClientRequests(RequestSink &sink) : sink_(sink)
{
    InitializeCriticalSection(&lock_);
}

ClientRequests::~ClientRequests()
{
    Clear();
    DeleteCriticalSection(&lock_);
}

DWORD ClientRequests::Append(std::unique_ptr<Transaction> transaction)
{
    ClientLock lock(*this);
    auto &list = transactions_;
    if (list.size() == list.capacity())
        list.reserve(list.empty() ? 4 : list.size() * 2);
    DWORD id;
    do {
        id = ++g_lastCancelId;
    } while (id == 0 || InUse(list, id));
    transaction->SetCancelId(id);
    list.push_back(std::move(transaction)); // capacity reserved: cannot throw
    // The client takes part in the tick while it has transactions.
    sink_.TakePartInTick(true);
    return id;
}

void ClientRequests::Cancel(DWORD cancelId)
{
    std::unique_ptr<Transaction> cancelled;
    {
        ClientLock lock(*this);
        auto &list = transactions_;
        auto it = std::find_if(list.begin(), list.end(), [cancelId](const auto &t) {
            return t->CancelId() == cancelId;
        });
        if (it != list.end()) {
            cancelled = std::move(*it);
            list.erase(it);
        }
    }
    // What the step has run but not yet delivered is not delivered, and a
    // callback of it being made ends before Cancel returns (unless Cancel is
    // called from inside that callback). Waited for without the client lock,
    // which the delivering step may need meanwhile.
    gate_.Cancel(cancelId);
    // Destroyed once off the list, outside the lock: clearing the copies of
    // the client's values may call into the client.
}

HRESULT ClientRequests::Queue(std::unique_ptr<Transaction> transaction, const HandleList &handles,
                              DWORD errorCount, bool checkItems, DWORD *cancelId,
                              HRESULT **errors)
{
    HRESULT hr = transaction->Prepare();
    if (FAILED(hr))
        return hr;
    TaskPtr<HRESULT> codes(ZeroedTaskArray<HRESULT>(errorCount));
    if (!codes)
        return E_OUTOFMEMORY;
    bool refused = checkItems && transaction->CheckItems(handles, codes.get());
    DWORD id = Append(std::move(transaction));
    *cancelId = id;
    *errors = codes.release();
    return refused ? S_FALSE : S_OK;
}

void ClientRequests::Clear()
{
    std::vector<std::unique_ptr<Transaction>> dropped;
    ClientLock lock(*this);
    dropped.swap(transactions_);
}

// One round of a step under the client lock: the first round runs every
// transaction, later rounds only advises that are still behind. Finished
// transactions move to finished; what is to be delivered is queued at the
// gate. Returns whether an advise is still behind.
bool ClientRequests::RunRound(bool first, bool sinkAdvised,
                              std::vector<std::unique_ptr<Transaction>> &finished,
                              std::vector<Delivery> &deliveries)
{
    ClientLock lock(*this);
    auto &list = transactions_;
    finished.reserve(list.size());
    deliveries.reserve(list.size());
    gate_.Reserve(list.size());
    bool behind = false;
    size_t kept = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        if (first || list[i]->Behind())
            RunOne(*list[i], sinkAdvised, deliveries);
        if (list[i]->Done()) {
            finished.push_back(std::move(list[i]));
        } else {
            behind = behind || list[i]->Behind();
            if (kept != i)
                list[kept] = std::move(list[i]);
            ++kept;
        }
    }
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(kept), list.end());
    for (const Delivery &d : deliveries)
        gate_.Queue(d.CancelId());
    return behind;
}

// The client's sink is gone: nothing more is delivered and its transactions
// are dropped (the sink was let go).
void ClientRequests::DropEverything()
{
    std::vector<std::unique_ptr<Transaction>> dropped;
    {
        ClientLock lock(*this);
        dropped.swap(transactions_);
        sink_.TakePartInTick(false);
    }
}

void ClientRequests::RunRounds()
{
    {
        ClientLock lock(*this);
        if (transactions_.empty()) {
            sink_.TakePartInTick(false);
            return;
        }
    }
    // Taken without the client lock: holding the sink is a call to the
    // client. Let go last, after every callback and without the lock.
    const bool advised = sink_.BeginDeliveries();
    struct Hold
    {
        RequestSink &sink;
        ~Hold() { sink.EndDeliveries(); }
    } hold{sink_};

    // Round by round: an advise that is behind delivers one more window per
    // round, so that each round holds one window per advise in memory and a
    // Cancel or a new request of the client gets the lock between rounds.
    bool behind = true;
    for (int round = 0; behind && round < kAdviseCatchUpLimit; ++round) {
        // A sink unadvised during the step gets nothing of its later rounds;
        // the next step finds no sink and ends the client's transactions.
        if (round > 0 && !sink_.StillAdvised())
            break;
        std::vector<std::unique_ptr<Transaction>> finished;
        std::vector<Delivery> deliveries;
        try {
            behind = RunRound(round == 0, advised, finished, deliveries);
        } catch (const std::bad_alloc &) {
            return; // nothing run; the next tick tries again
        }
        finished.clear();
        // Whatever way the round ends, a Cancel waiting for it goes on.
        struct RoundEnd
        {
            DeliveryGate &gate;
            ~RoundEnd() { gate.Abandon(); }
        } roundEnd{gate_};
        for (const Delivery &d : deliveries) {
            if (!gate_.Begin(d.CancelId()))
                continue; // cancelled meanwhile
            const RequestSink::Answer answer = sink_.Deliver(d);
            gate_.End();
            if (answer == RequestSink::Answer::Delivered)
                continue;
            // Nothing more is tried on a sink whose client is gone; if the
            // sink was let go, the client's transactions go too.
            if (answer == RequestSink::Answer::GoneAndDropped)
                DropEverything();
            return;
        }
    }
    // Idle clients leave the tick; the others stay in it (and join it again
    // if joining failed for want of memory when the request was queued).
    ClientLock lock(*this);
    sink_.TakePartInTick(!transactions_.empty());
}

bool ClientRequests::Step()
{
    if (stepping_.exchange(true))
        return false;
    // The step runs on a worker thread or the host's timer: nothing may
    // escape it.
    try {
        RunRounds();
    } catch (...) {
    }
    stepping_ = false;
    return true;
}

} // namespace zq
