// Per-item rules shared by the synchronous and the asynchronous read and
// update requests: the item check against the client's handle list, the
// overall result of a request, and the time rules of the read requests.
// Nothing here takes a lock of its own or keeps state; all of it may run on
// client threads and worker threads alike.
#pragma once

#include <windows.h>

#include "opchda.h"
#include "runtime/handle_list.h"

namespace zq {

// What the item check found for a server handle: the client handle of its
// entry and the item the entry names (the host's item handle).
struct CheckedItem
{
    OPCHANDLE client = 0;
    void *item = nullptr;
};

// Item check for reads: OPC_E_INVALIDHANDLE when the client has no entry for
// the server handle, OPC_E_BADRIGHTS when the entry does not allow reading,
// else S_OK with the entry's client handle and item.
HRESULT CheckReadItem(const HandleList &handles, OPCHANDLE server, CheckedItem *found);

// Item check for updates: as for reads, with write permission; on S_OK the
// entry's user name is in userName (cut to fit, always terminated).
HRESULT CheckUpdateItem(const HandleList &handles, OPCHANDLE server, CheckedItem *found,
                        char (&userName)[kUserNameBuffer]);

// Overall result of a read: S_FALSE if any code is other than S_OK and
// OPC_S_MOREDATA, else S_OK.
HRESULT OverallReadResult(const HRESULT *codes, DWORD count);
// Overall result of an update: S_FALSE if any code is a failure, else S_OK
// (success codes such as OPC_S_INSERTED count as success).
HRESULT OverallUpdateResult(const HRESULT *codes, DWORD count);

// The resolved times of a raw read; either may be absent.
struct RawReadTimes
{
    FILETIME start{};
    FILETIME end{};
    bool hasStart = false;
    bool hasEnd = false;

    const FILETIME *Start() const { return hasStart ? &start : nullptr; }
    const FILETIME *End() const { return hasEnd ? &end : nullptr; }
};

// The time rules of a raw read (synchronous and asynchronous alike):
// - start is present when given and it resolves;
// - with a start: a null end is E_INVALIDARG, and so is an end that does
//   not resolve when numValues is 0 (otherwise the end is absent);
// - an end without a start needs numValues other than 0;
// - with neither, the read runs with both absent.
// Times that resolve are written back into the client's records.
HRESULT ResolveRawReadTimes(OPCHDA_TIME *start, OPCHDA_TIME *end, DWORD numValues,
                            RawReadTimes *out);

// A time that must be given and resolve (written back): else E_INVALIDARG.
HRESULT ResolveRequiredTime(OPCHDA_TIME *time, FILETIME *out);
// Both times, each as above (the start first; the end is not resolved when
// the start fails).
HRESULT ResolveRequiredTimes(OPCHDA_TIME *start, OPCHDA_TIME *end, FILETIME *startOut,
                             FILETIME *endOut);

// A time that counts only when given and resolvable (written back): true
// with the time in out, else false (absent).
bool ResolveOptionalTime(OPCHDA_TIME *time, FILETIME *out);

// The checks of an attribute read (synchronous and asynchronous alike),
// after its argument checks: the one item's read check, whose failure is the
// request's result (OPC_E_INVALIDHANDLE, OPC_E_BADRIGHTS); then a start that
// must be given and resolve (else E_INVALIDARG); then an end that counts
// only when given and resolvable (absent: current values are read).
struct AttributeReadTimes
{
    OPCHANDLE client = 0;
    void *item = nullptr;
    FILETIME start{};
    FILETIME end{};
    bool hasEnd = false;

    const FILETIME *End() const { return hasEnd ? &end : nullptr; }
};
HRESULT CheckAttributeRead(const HandleList &handles, OPCHANDLE server, OPCHDA_TIME *start,
                           OPCHDA_TIME *end, AttributeReadTimes *out);

} // namespace zq
