// A client's transaction list: queueing a request's transaction, cancelling
// one, and the body of the per-client tick step (RunPendingTransactions,
// declared in com/hda_server.h; HDAServer::TickStep runs it) that runs them.
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
// A client that is gone. A callback that fails with a code saying that the
// client is gone (SinkIsGone) ends the step: the point lets go of the sink,
// the client's transactions are dropped without further calls, and its
// worker no longer takes part in the tick. The client's object goes when
// COM lets go of it.
//
// The step holds one reference on the client's data callback point (and so
// on the client object) from before its first callback to after its last:
// a client that lets go of all its references during a callback cannot
// start the client object's removal (which takes the server lock) inside
// the step. The step's own final Release, made with no client lock held,
// may do so; in timer mode the server lock is then already held by the
// same thread and is taken again recursively.
#pragma once

#include <windows.h>

#include <memory>

#include "com/connection_container.h"
#include "com/hda_server.h"
#include "history/transaction.h"
#include "runtime/com_kit.h"

namespace zq {

// Holds a client's client lock for its lifetime.
class ClientLock
{
public:
    explicit ClientLock(HDAServer &server) : server_(server) { server_.LockClient(); }
    ~ClientLock() { server_.UnlockClient(); }
    ClientLock(const ClientLock &) = delete;
    ClientLock &operator=(const ClientLock &) = delete;

private:
    HDAServer &server_;
};

// Appends the transaction at the end of the client's list under the client
// lock and gives it a cancel ID that no other live transaction of the
// client has (never 0). Returns that ID. May throw std::bad_alloc; the list
// is then unchanged and the transaction is destroyed with the pointer.
DWORD AppendTransaction(HDAServer &server, std::unique_ptr<Transaction> transaction);

// Removes and destroys the first transaction with the cancel ID, if any. No
// callback is made.
void CancelTransaction(HDAServer &server, DWORD cancelId);

// The common end of every asynchronous request once its arguments are
// checked and its times resolved:
// - CONNECT_E_NOCONNECTION when the data callback check fails;
// - make(&t) builds the transaction (S_OK or the request's failure; it may
//   also throw std::bad_alloc), then its result arrays and the client's
//   error array of errorCount codes are allocated (E_OUTOFMEMORY);
// - when checkItems is set, every item is checked into the error array;
// - the transaction is appended, and the error array and the cancel ID go
//   to the client.
// S_FALSE when an item failed its check, else S_OK. On any failure nothing
// is queued and nothing is handed out.
template <typename Make>
HRESULT QueueRequest(HDAServer &server, DWORD errorCount, bool checkItems, DWORD *cancelId,
                     HRESULT **errors, Make &&make);

// A maker for QueueRequest that builds a T from the arguments (taken by
// reference: the maker is used at once).
template <typename T, typename... Args> auto Build(const Args &...args)
{
    return [&args...](std::unique_ptr<Transaction> *out) {
        *out = std::make_unique<T>(args...);
        return S_OK;
    };
}

// Non-template part of QueueRequest.
HRESULT QueuePrepared(HDAServer &server, std::unique_ptr<Transaction> transaction,
                      DWORD errorCount, bool checkItems, DWORD *cancelId, HRESULT **errors);

template <typename Make>
HRESULT QueueRequest(HDAServer &server, DWORD errorCount, bool checkItems, DWORD *cancelId,
                     HRESULT **errors, Make &&make)
{
    if (!DataCallbackCheck(server))
        return CONNECT_E_NOCONNECTION;
    std::unique_ptr<Transaction> transaction;
    HRESULT hr = make(&transaction);
    if (FAILED(hr))
        return hr;
    return QueuePrepared(server, std::move(transaction), errorCount, checkItems, cancelId, errors);
}

} // namespace zq
