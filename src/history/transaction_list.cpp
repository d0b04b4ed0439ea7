#include "history/transaction_list.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "com/connection_point.h"

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

// Releases a COM reference when it goes out of scope.
template <typename T> class Held
{
public:
    explicit Held(T *p) : p_(p) {}
    ~Held()
    {
        if (p_ != nullptr)
            p_->Release();
    }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    T *get() const { return p_; }

private:
    T *p_;
};

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
        if (it == list.end())
            return;
        cancelled = std::move(*it);
        list.erase(it);
    }
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
}

void TickStep(HDAServer &server)
{
    {
        ClientLock lock(server);
        if (server.Transactions().empty())
            return;
    }
    // Taken without the client lock: the sink's AddRef is a call to the
    // client. Released last, after every callback and without the lock.
    Held<ConnectionPoint> point(DataCallbackLookup(server));
    Held<IOPCHDA_DataCallback> sink(AdvisedSink(point.get()));

    std::vector<std::unique_ptr<Transaction>> finished;
    std::vector<Delivery> deliveries;
    {
        ClientLock lock(server);
        auto &list = server.Transactions();
        try {
            finished.reserve(list.size());
            deliveries.reserve(list.size());
        } catch (const std::bad_alloc &) {
            return; // nothing run; the next tick tries again
        }
        size_t kept = 0;
        for (size_t i = 0; i < list.size(); ++i) {
            RunOne(*list[i], sink.get() != nullptr, deliveries);
            if (list[i]->Done()) {
                finished.push_back(std::move(list[i]));
            } else {
                if (kept != i)
                    list[kept] = std::move(list[i]);
                ++kept;
            }
        }
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(kept), list.end());
    }
    finished.clear();
    for (const Delivery &d : deliveries)
        d.Deliver(sink.get());
}

} // namespace

void RunClientTickStep(HDAServer &server)
{
    // The step runs on a worker thread or the host's timer: nothing may
    // escape it.
    try {
        TickStep(server);
    } catch (...) {
    }
}

} // namespace zq
