#include <cwchar>

#include "canned_data.h"
#include "hda_server.h"
#include "task_memory.h"

namespace xserver {

using namespace xproc;

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

namespace {

// Item 0 and item 1 of kKnownItems get their canned result, any other handle
// OPC_E_INVALIDHANDLE and an empty result.
template <class Result>
HRESULT FillItemResults(DWORD n, const OPCHANDLE *handles, bool (*first)(Result &), bool (*second)(Result &),
                        void (*freeResult)(Result &), Result **results, HRESULT **errors)
{
    auto fill = [&](DWORD i, Result &result, HRESULT &error) {
        switch (KnownHandleIndex(handles[i])) {
        case 0:
            return first(result);
        case 1:
            return second(result);
        default:
            error = OPC_E_INVALIDHANDLE;
            return true;
        }
    };
    return FillResults(n, fill, freeResult, results, errors);
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
    return FillItemResults(dwNumItems, phServer, FillDoubleItem, FillTextItem, FreeItem, ppItemValues, ppErrors);
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

HRESULT STDMETHODCALLTYPE HdaServer::ReadModified(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                                  DWORD dwNumValues, DWORD dwNumItems, OPCHANDLE *phServer,
                                                  OPCHDA_MODIFIEDITEM **ppItemValues, HRESULT **ppErrors)
{
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    if (dwNumItems == 0 || dwNumValues != 0 || !ResolveTimes(htStartTime, htEndTime))
        return E_INVALIDARG;
    return FillItemResults(dwNumItems, phServer, FillModifiedDoubles, FillModifiedText, FreeModifiedItem,
                           ppItemValues, ppErrors);
}

HRESULT STDMETHODCALLTYPE HdaServer::ReadAttribute(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                                   OPCHANDLE hServer, DWORD dwNumAttributes, DWORD *pdwAttributeIDs,
                                                   OPCHDA_ATTRIBUTE **ppAttributeValues, HRESULT **ppErrors)
{
    *ppAttributeValues = nullptr;
    *ppErrors = nullptr;
    if (dwNumAttributes == 0 || KnownHandleIndex(hServer) != 0 || !ResolveTimes(htStartTime, htEndTime))
        return E_INVALIDARG;
    auto fill = [&](DWORD i, OPCHDA_ATTRIBUTE &attribute, HRESULT &error) {
        if (pdwAttributeIDs[i] == OPCHDA_DESCRIPTION)
            return FillDescriptionAttribute(attribute);
        if (pdwAttributeIDs[i] == OPCHDA_NORMAL_MAXIMUM)
            return FillMaximumAttribute(attribute);
        attribute.hClient = kClientHandles[0];
        attribute.dwAttributeID = pdwAttributeIDs[i];
        error = OPC_E_INVALIDATTRID;
        return true;
    };
    return FillResults(dwNumAttributes, fill, FreeAttribute, ppAttributeValues, ppErrors);
}

}  // namespace xserver
