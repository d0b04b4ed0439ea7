// The per-item loop of a synchronous read over a checked item list.
// Used on the calling thread only.
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
            hr = engine(i, found.item, results[i]);
        }
        results.Code(i) = hr;
    }
    HRESULT overall = results.OverallRead();
    results.HandTo(records, errors);
    return overall;
}

} // namespace zq
