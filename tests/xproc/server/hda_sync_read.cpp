#include <cwchar>

#include "canned_data.h"
#include "hda_server.h"
#include "task_memory.h"

namespace xserver {

using namespace xproc;

namespace {

// The start time must arrive as the relative text, the end time as an
// absolute time; the resolved start time goes back to the client in ftTime
// (the text is left as it came).
bool ResolveTimes(OPCHDA_TIME *start, OPCHDA_TIME *end)
{
    if (!start->bString || !start->szTime || wcscmp(start->szTime, kStartTimeText) != 0)
        return false;
    if (end->bString || end->ftTime.dwLowDateTime != kEndTime.dwLowDateTime ||
        end->ftTime.dwHighDateTime != kEndTime.dwHighDateTime)
        return false;
    start->ftTime = kResolvedStart;
    return true;
}

}  // namespace

HRESULT STDMETHODCALLTYPE HdaServer::ReadRaw(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime, DWORD dwNumValues,
                                             BOOL bBounds, DWORD dwNumItems, OPCHANDLE *phServer,
                                             OPCHDA_ITEM **ppItemValues, HRESULT **ppErrors)
{
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    if (dwNumItems == 0 || dwNumValues != 0 || bBounds != TRUE || !ResolveTimes(htStartTime, htEndTime))
        return E_INVALIDARG;
    OPCHDA_ITEM *items = TaskArray<OPCHDA_ITEM>(dwNumItems);
    HRESULT *errors = TaskArray<HRESULT>(dwNumItems);
    bool ok = items && errors;
    HRESULT result = S_OK;
    for (DWORD i = 0; ok && i < dwNumItems; ++i) {
        switch (KnownHandleIndex(phServer[i])) {
        case 0:
            ok = FillDoubleItem(items[i]);
            break;
        case 1:
            ok = FillTextItem(items[i]);
            break;
        default:
            errors[i] = OPC_E_INVALIDHANDLE;  // the item stays empty, its arrays null
            result = S_FALSE;
            break;
        }
    }
    if (!ok) {
        for (DWORD i = 0; items && i < dwNumItems; ++i)
            FreeItem(items[i]);
        CoTaskMemFree(items);
        CoTaskMemFree(errors);
        return E_OUTOFMEMORY;
    }
    *ppItemValues = items;
    *ppErrors = errors;
    return result;
}

HRESULT STDMETHODCALLTYPE HdaServer::ReadProcessed(OPCHDA_TIME *, OPCHDA_TIME *, FILETIME, DWORD, OPCHANDLE *,
                                                   DWORD *, OPCHDA_ITEM **ppItemValues, HRESULT **ppErrors)
{
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE HdaServer::ReadAtTime(DWORD, FILETIME *, DWORD, OPCHANDLE *, OPCHDA_ITEM **ppItemValues,
                                                HRESULT **ppErrors)
{
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE HdaServer::ReadModified(OPCHDA_TIME *, OPCHDA_TIME *, DWORD, DWORD, OPCHANDLE *,
                                                  OPCHDA_MODIFIEDITEM **ppItemValues, HRESULT **ppErrors)
{
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE HdaServer::ReadAttribute(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                                   OPCHANDLE hServer, DWORD dwNumAttributes, DWORD *pdwAttributeIDs,
                                                   OPCHDA_ATTRIBUTE **ppAttributeValues, HRESULT **ppErrors)
{
    *ppAttributeValues = nullptr;
    *ppErrors = nullptr;
    if (dwNumAttributes == 0 || KnownHandleIndex(hServer) != 0 || !ResolveTimes(htStartTime, htEndTime))
        return E_INVALIDARG;
    OPCHDA_ATTRIBUTE *values = TaskArray<OPCHDA_ATTRIBUTE>(dwNumAttributes);
    HRESULT *errors = TaskArray<HRESULT>(dwNumAttributes);
    bool ok = values && errors;
    HRESULT result = S_OK;
    for (DWORD i = 0; ok && i < dwNumAttributes; ++i) {
        if (pdwAttributeIDs[i] == OPCHDA_DESCRIPTION) {
            ok = FillDescriptionAttribute(values[i]);
        } else if (pdwAttributeIDs[i] == OPCHDA_NORMAL_MAXIMUM) {
            ok = FillMaximumAttribute(values[i]);
        } else {
            values[i].hClient = kClientHandles[0];
            values[i].dwAttributeID = pdwAttributeIDs[i];
            errors[i] = OPC_E_INVALIDATTRID;
            result = S_FALSE;
        }
    }
    if (!ok) {
        for (DWORD i = 0; values && i < dwNumAttributes; ++i)
            FreeAttribute(values[i]);
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
        return E_OUTOFMEMORY;
    }
    *ppAttributeValues = values;
    *ppErrors = errors;
    return result;
}

}  // namespace xserver
