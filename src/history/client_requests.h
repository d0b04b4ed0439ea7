// ClientRequests: a client's asynchronous requests from the moment they are
// queued until their last delivery: the transaction list, the client lock
// that guards it, the delivery gate and the per-client tick step. The front
// end owns one per client and reaches the client through its RequestSink.
//
// Locking. The list is guarded by the client lock. The step holds it while
// the engines and the host run, so a Cancel or a new request of the client
// waits until the transactions of the step have run. The calls on the
// client's sink are made after the lock is left: a client that calls its
// server again from inside a callback (a new request or a Cancel, on
// whatever thread its call arrives) must not wait for the very step that
// is calling it. A one-shot transaction whose results are being delivered
// has already left the list, exactly as one that has completed. Cancel
// still keeps its promise: once it returns, no callback of the cancelled
// transaction is made or running (history/delivery_gate.h).
//
// Rounds. An advise with several windows due delivers them in one step, one
// window per round (kAdviseCatchUpLimit rounds at most); the client lock is
// left between rounds, for the deliveries.
//
// A client that is gone. A delivery whose answer says that the client is
// gone ends the step; when the sink let go of it, the client's transactions
// are dropped without further calls and the client no longer takes part in
// the tick.
//
// The step holds the sink (RequestSink::BeginDeliveries) from before its
// first callback to after its last: a client that lets go of all its
// references during a callback cannot start its own removal inside the
// step. The step's own final release, made with no client lock held, may.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "history/delivery_gate.h"
#include "history/request_sink.h"
#include "history/transaction.h"

namespace zq {

class ClientRequests
{
public:
    explicit ClientRequests(RequestSink &sink);
    ~ClientRequests();
    ClientRequests(const ClientRequests &) = delete;
    ClientRequests &operator=(const ClientRequests &) = delete;

    // The client lock and the transaction list it guards.
    void Lock() { EnterCriticalSection(&lock_); }
    void Unlock() { LeaveCriticalSection(&lock_); }
    std::vector<std::unique_ptr<Transaction>> &Transactions() { return transactions_; }
    DeliveryGate &Gate() { return gate_; }
    RequestSink &Sink() { return sink_; }

    // The common end of every asynchronous request once its arguments are
    // checked, its times resolved and its transaction built: the
    // transaction's arrays (Prepare), the client's error array of errorCount
    // codes (E_OUTOFMEMORY), the item check of every item into it when
    // checkItems is set, then the transaction is appended and the error
    // array and the cancel ID go to the caller. S_FALSE when an item failed
    // its check, else S_OK; on any failure nothing is queued or handed out.
    HRESULT Queue(std::unique_ptr<Transaction> transaction, const HandleList &handles,
                  DWORD errorCount, bool checkItems, DWORD *cancelId, HRESULT **errors);

    // Appends the transaction at the end of the list under the client lock
    // and gives it a cancel ID that no other live transaction of the client
    // has (never 0). Returns that ID. May throw std::bad_alloc; the list is
    // then unchanged and the transaction is destroyed with the pointer.
    DWORD Append(std::unique_ptr<Transaction> transaction);

    // Removes and destroys the first transaction with the cancel ID, if any.
    // No callback is made.
    void Cancel(DWORD cancelId);

    // The per-client tick step: runs the pending transactions once and
    // delivers what they have to the sink. Only one step runs at a time: a
    // step that finds another one running leaves at once (false). Throws
    // nothing.
    bool Step();
    bool Stepping() const { return stepping_.load(); }

    // Drops every transaction without a callback (the client's end).
    void Clear();

private:
    void RunRounds();
    bool RunRound(bool first, bool sinkAdvised, std::vector<std::unique_ptr<Transaction>> &finished,
                  std::vector<Delivery> &deliveries);
    void DropEverything();

    RequestSink &sink_;
    CRITICAL_SECTION lock_;
    std::vector<std::unique_ptr<Transaction>> transactions_;
    DeliveryGate gate_;
    std::atomic<bool> stepping_{false};
};

// Holds a client's client lock for its lifetime.
class ClientLock
{
public:
    explicit ClientLock(ClientRequests &requests) : requests_(requests) { requests_.Lock(); }
    ~ClientLock() { requests_.Unlock(); }
    ClientLock(const ClientLock &) = delete;
    ClientLock &operator=(const ClientLock &) = delete;

private:
    ClientRequests &requests_;
};

} // namespace zq
