#include "history/item_check.h"

#include "history/time_resolution.h"
#include "opchda_constants.h"

namespace zq {

HRESULT CheckReadItem(const HandleList &handles, OPCHANDLE server, CheckedItem *found)
{
    HandleLookup entry;
    if (!handles.Find(server, &entry))
        return OPC_E_INVALIDHANDLE;
    if (!entry.readAllowed)
        return OPC_E_BADRIGHTS;
    found->client = entry.clientHandle;
    found->item = entry.itemHandle;
    return S_OK;
}

HRESULT CheckUpdateItem(const HandleList &handles, OPCHANDLE server, CheckedItem *found,
                        char (&userName)[kUserNameBuffer])
{
    HandleLookup entry;
    userName[0] = '\0';
    if (!handles.Find(server, &entry, userName))
        return OPC_E_INVALIDHANDLE;
    if (!entry.writeAllowed)
        return OPC_E_BADRIGHTS;
    found->client = entry.clientHandle;
    found->item = entry.itemHandle;
    return S_OK;
}

HRESULT OverallReadResult(const HRESULT *codes, DWORD count)
{
    for (DWORD i = 0; i < count; ++i) {
        if (codes[i] != S_OK && codes[i] != OPC_S_MOREDATA)
            return S_FALSE;
    }
    return S_OK;
}

HRESULT OverallUpdateResult(const HRESULT *codes, DWORD count)
{
    for (DWORD i = 0; i < count; ++i) {
        if (FAILED(codes[i]))
            return S_FALSE;
    }
    return S_OK;
}

bool ResolveOptionalTime(OPCHDA_TIME *time, FILETIME *out)
{
    if (time == nullptr || !ResolveTime(*time))
        return false;
    *out = time->ftTime;
    return true;
}

HRESULT ResolveRequiredTime(OPCHDA_TIME *time, FILETIME *out)
{
    return ResolveOptionalTime(time, out) ? S_OK : E_INVALIDARG;
}

HRESULT ResolveRequiredTimes(OPCHDA_TIME *start, OPCHDA_TIME *end, FILETIME *startOut,
                             FILETIME *endOut)
{
    if (FAILED(ResolveRequiredTime(start, startOut)) || FAILED(ResolveRequiredTime(end, endOut)))
        return E_INVALIDARG;
    return S_OK;
}

HRESULT ResolveRawReadTimes(OPCHDA_TIME *start, OPCHDA_TIME *end, DWORD numValues,
                            RawReadTimes *out)
{
    RawReadTimes times;
    times.hasStart = ResolveOptionalTime(start, &times.start);
    if (times.hasStart) {
        if (end == nullptr)
            return E_INVALIDARG;
        times.hasEnd = ResolveOptionalTime(end, &times.end);
        if (!times.hasEnd && numValues == 0)
            return E_INVALIDARG;
    } else {
        times.hasEnd = ResolveOptionalTime(end, &times.end);
        if (times.hasEnd && numValues == 0)
            return E_INVALIDARG;
    }
    *out = times;
    return S_OK;
}

HRESULT CheckAttributeRead(const HandleList &handles, OPCHANDLE server, OPCHDA_TIME *start,
                           OPCHDA_TIME *end, AttributeReadTimes *out)
{
    AttributeReadTimes checked;
    CheckedItem found;
    HRESULT hr = CheckReadItem(handles, server, &found);
    if (FAILED(hr))
        return hr;
    checked.client = found.client;
    checked.item = found.item;
    if (FAILED(ResolveRequiredTime(start, &checked.start)))
        return E_INVALIDARG;
    checked.hasEnd = ResolveOptionalTime(end, &checked.end);
    *out = checked;
    return S_OK;
}

} // namespace zq
