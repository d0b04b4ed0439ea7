// The per-item loops of a client's synchronous requests over a checked item
// list: the read loop and the update loop. Used on the calling thread only.
#pragma once

#include <windows.h>

#include "history/item_check.h"
#include "history/result_records.h"

namespace zq {

// The per-item part of a synchronous read: allocate the results, check each
// item in request order (read right) and let the engine read the ones that
// pass; then hand records and errors to the client. The overall result as
// for every read.
template <typename Results, typename Record, typename Engine>
HRESULT ReadCheckedItems(const HandleList &handles, DWORD count, const OPCHANDLE *servers,
                         Record **records, HRESULT **errors, Engine &&engine)
{
    Results results;
    if (!results.Allocate(count))
        return E_OUTOFMEMORY;
    for (DWORD i = 0; i < count; ++i) {
        CheckedItem found;
        HRESULT hr = CheckReadItem(handles, servers[i], &found);
        if (hr == S_OK) {
            results[i].hClient = found.client;
            hr = results.Admit(i, engine(i, found.item, results[i]));
        }
        results.Code(i) = hr;
    }
    HRESULT overall = results.OverallRead();
    results.HandTo(records, errors);
    return overall;
}

// The per-item part of a synchronous update: the error array, then in
// request order the item check (write right, with the entry's user name)
// and the engine for the items that pass; the codes go to the client. The
// overall result as for every update.
template <typename Engine>
HRESULT UpdateCheckedItems(const HandleList &handles, DWORD count, const OPCHANDLE *servers,
                           HRESULT **errors, Engine &&engine)
{
    TaskPtr<HRESULT> codes(ZeroedTaskArray<HRESULT>(count));
    if (!codes)
        return E_OUTOFMEMORY;
    for (DWORD i = 0; i < count; ++i) {
        char user[kUserNameBuffer];
        CheckedItem found;
        HRESULT hr = CheckUpdateItem(handles, servers[i], &found, user);
        if (hr == S_OK)
            hr = engine(i, user, found.item);
        codes[i] = hr;
    }
    HRESULT overall = OverallUpdateResult(codes.get(), count);
    *errors = codes.release();
    return overall;
}

} // namespace zq
