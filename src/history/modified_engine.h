// The modified-values engine: one item's share of a ReadModified, answered
// by the host's plain modified-values callback (EnableReadModifiedCallback).
// Like the read engine it takes no lock and keeps no state; synchronous
// requests (client threads) and asynchronous transactions (worker threads)
// call it alike. Arrays put into a record come from the task allocator and
// belong to the caller afterwards (handed to a client, or released with
// FreeModifiedArrays).
#pragma once

#include <windows.h>

#include "opchda.h"

namespace zq {

// True when the host installed the callback; without it ReadModified stays
// E_NOTIMPL on both read interfaces.
bool ModifiedValuesOffered();

// The replaced and deleted values of an item between start and end (either
// may be absent), with the limits of a raw read: numValues above the host's
// values limit gives OPC_E_MAXEXCEEDED; at most numValues values (0: all,
// cut to the host's limit), and OPC_S_MOREDATA when the host has more.
// S_OK, OPC_S_NODATA (none, or a host success code other than 0), the
// host's failure code, E_FAIL for an edit type outside OPCHDA_INSERT ..
// OPCHDA_DELETE, E_NOTIMPL without a callback, or E_OUTOFMEMORY. The
// record's hClient is left alone.
HRESULT RunReadModified(void *item, OPCHDA_MODIFIEDITEM &result, const FILETIME *start,
                        const FILETIME *end, DWORD numValues);

// Clears the values and strings, gives the arrays back to the task allocator
// and leaves the record with count 0 and null arrays (hClient stays).
void FreeModifiedArrays(OPCHDA_MODIFIEDITEM &item);

} // namespace zq
