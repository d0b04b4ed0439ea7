// The COM end of every asynchronous request once its arguments are checked
// and its times resolved; the request itself goes to the client's
// ClientRequests (history/client_requests.h), which owns it from then on.
#pragma once

#include <windows.h>
#include <olectl.h>

#include <memory>

#include "com/hda_server.h"
#include "history/client_requests.h"
#include "history/transaction.h"

namespace zq {

// - CONNECT_E_NOCONNECTION when the data callback check fails;
// - make(&t) builds the transaction (S_OK or the request's failure; it may
//   also throw std::bad_alloc);
// - then ClientRequests::Queue: the result arrays and the client's error
//   array of errorCount codes (E_OUTOFMEMORY), the item check when
//   checkItems is set, the transaction appended, and the error array and
//   the cancel ID handed to the client.
// S_FALSE when an item failed its check, else S_OK. On any failure nothing
// is queued and nothing is handed out.
template <typename Make>
HRESULT QueueRequest(HDAServer &server, DWORD errorCount, bool checkItems, DWORD *cancelId,
                     HRESULT **errors, Make &&make)
{
    ClientRequests &requests = server.Requests();
    if (!requests.Sink().Advised())
        return CONNECT_E_NOCONNECTION;
    std::unique_ptr<Transaction> transaction;
    HRESULT hr = make(&transaction);
    if (FAILED(hr))
        return hr;
    return requests.Queue(std::move(transaction), server.Handles(), errorCount, checkItems,
                          cancelId, errors);
}

// A maker for QueueRequest that builds a T from the arguments (taken by
// reference: the maker is used at once).
template <typename T, typename... Args> auto Build(const Args &...args)
{
    return [&args...](std::unique_ptr<Transaction> *out) {
        *out = std::make_unique<T>(args...);
        return S_OK;
    };
}

} // namespace zq
