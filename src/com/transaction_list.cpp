#include "com/transaction_list.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "com/connection_point.h"
#include "history/read_transactions.h"

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

IOPCHDA_DataCallback *AdvisedSink(ConnectionPoint *point)
{
    // The data callback point holds its sink as IOPCHDA_DataCallback.
    return point != nullptr ? static_cast<IOPCHDA_DataCallback *>(point->SinkWithReference())
                            : nullptr;
}

} // namespace

DWORD AppendTransaction(HDAServer &server, std::unique_ptr<Transaction> transaction)
{
    ClientLock lock(server);
    auto &list = server.Transactions();
    if (list.size() == list.capacity())
        list.reserve(list.empty() ? 4 : list.size() * 2);
    DWORD id;
    do {
        id = ++g_lastCancelId;
    } while (id == 0 || InUse(list, id));
    transaction->SetCancelId(id);
    list.push_back(std::move(transaction)); // capacity reserved: cannot throw
    // The worker takes part in the tick while its client has transactions.
    server.Worker().TakePartInTick(true);
    return id;
}

void CancelTransaction(HDAServer &server, DWORD cancelId)
{
    std::unique_ptr<Transaction> cancelled;
    {
        ClientLock lock(server);
        auto &list = server.Transactions();
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
    server.Gate().Cancel(cancelId);
    // Destroyed once off the list, outside the lock: clearing the copies of
    // the client's values may call into the client.
}

HRESULT QueuePrepared(HDAServer &server, std::unique_ptr<Transaction> transaction,
                      DWORD errorCount, bool checkItems, DWORD *cancelId, HRESULT **errors)
{
    HRESULT hr = transaction->Prepare();
    if (FAILED(hr))
        return hr;
    TaskPtr<HRESULT> codes(ZeroedTaskArray<HRESULT>(errorCount));
    if (!codes)
        return E_OUTOFMEMORY;
    bool refused = checkItems && transaction->CheckItems(server.Handles(), codes.get());
    DWORD id = AppendTransaction(server, std::move(transaction));
    *cancelId = id;
    *errors = codes.release();
    return refused ? S_FALSE : S_OK;
}

namespace {

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

// One round of a step under the client lock: the first round runs every
// transaction, later rounds only advises that are still behind. Finished
// transactions move to finished; what is to be delivered is queued at the
// gate. Returns whether an advise is still behind.
bool RunRound(HDAServer &server, bool first, bool sinkAdvised,
              std::vector<std::unique_ptr<Transaction>> &finished,
              std::vector<Delivery> &deliveries)
{
    ClientLock lock(server);
    auto &list = server.Transactions();
    finished.reserve(list.size());
    deliveries.reserve(list.size());
    server.Gate().Reserve(list.size());
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
        server.Gate().Queue(d.CancelId());
    return behind;
}

// The client's sink is gone: nothing more is delivered and its transactions
// are dropped (the sink was let go by the point).
void DropEverything(HDAServer &server)
{
    std::vector<std::unique_ptr<Transaction>> dropped;
    {
        ClientLock lock(server);
        dropped.swap(server.Transactions());
        server.Worker().TakePartInTick(false);
    }
}

void RunRounds(HDAServer &server)
{
    {
        ClientLock lock(server);
        if (server.Transactions().empty()) {
            server.Worker().TakePartInTick(false);
            return;
        }
    }
    // Taken without the client lock: the sink's AddRef is a call to the
    // client. Released last, after every callback and without the lock.
    ComPtr<ConnectionPoint> point(DataCallbackLookup(server));
    ComPtr<IOPCHDA_DataCallback> sink(AdvisedSink(point.Get()));

    // Round by round: an advise that is behind delivers one more window per
    // round, so that each round holds one window per advise in memory and a
    // Cancel or a new request of the client gets the lock between rounds.
    bool behind = true;
    for (int round = 0; behind && round < kAdviseCatchUpLimit; ++round) {
        // A sink unadvised during the step gets nothing of its later rounds;
        // the next step finds no sink and ends the client's transactions.
        if (round > 0 && !point.Get()->Holds(sink.Get()))
            break;
        std::vector<std::unique_ptr<Transaction>> finished;
        std::vector<Delivery> deliveries;
        try {
            behind = RunRound(server, round == 0, sink.Get() != nullptr, finished, deliveries);
        } catch (const std::bad_alloc &) {
            return; // nothing run; the next tick tries again
        }
        finished.clear();
        // Whatever way the round ends, a Cancel waiting for it goes on.
        struct RoundEnd
        {
            DeliveryGate &gate;
            ~RoundEnd() { gate.Abandon(); }
        } roundEnd{server.Gate()};
        for (const Delivery &d : deliveries) {
            if (!server.Gate().Begin(d.CancelId()))
                continue; // cancelled meanwhile
            const HRESULT hr = d.Deliver(sink.Get());
            server.Gate().End();
            if (SinkIsGone(hr)) {
                // Nothing more is tried on a sink whose client is gone; if
                // the point still held it, the client's transactions go too.
                if (point.Get()->DropGoneSink(sink.Get(), hr))
                    DropEverything(server);
                return;
            }
        }
    }
    // Idle workers leave the tick; the others stay in it (and join it again
    // if joining failed for want of memory when the request was queued).
    ClientLock lock(server);
    server.Worker().TakePartInTick(!server.Transactions().empty());
}

} // namespace

void RunPendingTransactions(HDAServer &server)
{
    // The step runs on a worker thread or the host's timer: nothing may
    // escape it.
    try {
        RunRounds(server);
    } catch (...) {
    }
}

} // namespace zq
