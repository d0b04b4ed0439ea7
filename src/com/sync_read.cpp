#include "com/sync_read.h"

#include <new>
#include <utility>

#include "com/interface_object.h"
#include "runtime/civil_time.h"
#include "history/item_check.h"
#include "history/modified_engine.h"
#include "history/sync_requests.h"
#include "opchda.h"
#include "runtime/guard.h"
#include "runtime/server_state.h"
#include "runtime/task_memory.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {

class SyncReadInterface final : public InterfaceObject<IOPCHDA_SyncRead>
{
public:
    explicit SyncReadInterface(HDAServer *owner)
        : InterfaceObject(owner, {texts::kIOPCHDA_SyncRead_AddRef_defered_to_HDAServer,
                                  texts::kIOPCHDA_SyncRead_Release_defered_to_OPCServer,
                                  texts::kIOPCHDA_SyncRead_QueryInterface_defered_to_OPCServer})
    {
    }

    HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                      DWORD dwNumValues, BOOL bBounds, DWORD dwNumItems,
                                      OPCHANDLE *phServer, OPCHDA_ITEM **ppItemValues,
                                      HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncRead_ReadRaw);
        ClearOut(ppItemValues);
        ClearOut(ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || ppItemValues == nullptr ||
            ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            RawReadTimes times;
            HRESULT hr = ResolveRawReadTimes(htStartTime, htEndTime, dwNumValues, &times);
            if (FAILED(hr))
                return hr;
            return ReadRawRequest(owner_->Handles(), times, dwNumValues, bBounds, dwNumItems,
                                  phServer, ppItemValues, ppErrors);
        });
    }

    HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                            FILETIME ftResampleInterval, DWORD dwNumItems,
                                            OPCHANDLE *phServer, DWORD *haAggregate,
                                            OPCHDA_ITEM **ppItemValues,
                                            HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncRead_ReadProcessed);
        ClearOut(ppItemValues);
        ClearOut(ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || haAggregate == nullptr ||
            ppItemValues == nullptr || ppErrors == nullptr || htStartTime == nullptr ||
            htEndTime == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            FILETIME start, end;
            if (FAILED(ResolveRequiredTimes(htStartTime, htEndTime, &start, &end)))
                return E_INVALIDARG;
            return ReadProcessedRequest(owner_->Handles(), start, end,
                                        TicksFromFileTime(ftResampleInterval), dwNumItems,
                                        phServer, haAggregate, ppItemValues, ppErrors);
        });
    }

    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwNumTimeStamps, FILETIME *ftTimeStamps,
                                         DWORD dwNumItems, OPCHANDLE *phServer,
                                         OPCHDA_ITEM **ppItemValues, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncRead_ReadAtTime);
        ClearOut(ppItemValues);
        ClearOut(ppErrors);
        if (dwNumTimeStamps == 0 || ftTimeStamps == nullptr || dwNumItems == 0 ||
            phServer == nullptr || ppItemValues == nullptr || ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            return ReadAtTimeRequest(owner_->Handles(), dwNumTimeStamps, ftTimeStamps,
                                     dwNumItems, phServer, ppItemValues, ppErrors);
        });
    }

    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                           DWORD dwNumValues, DWORD dwNumItems,
                                           OPCHANDLE *phServer,
                                           OPCHDA_MODIFIEDITEM **ppItemValues,
                                           HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncRead_ReadModified);
        ClearOut(ppItemValues);
        ClearOut(ppErrors);
        // Offered only while the host has a modified-values callback.
        if (!ModifiedValuesOffered())
            return E_NOTIMPL;
        if (dwNumItems == 0 || phServer == nullptr || ppItemValues == nullptr ||
            ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            RawReadTimes times;
            HRESULT hr = ResolveRawReadTimes(htStartTime, htEndTime, dwNumValues, &times);
            if (FAILED(hr))
                return hr;
            return ReadModifiedRequest(owner_->Handles(), times, dwNumValues, dwNumItems,
                                       phServer, ppItemValues, ppErrors);
        });
    }

    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                            OPCHANDLE hServer, DWORD dwNumAttributes,
                                            DWORD *pdwAttributeIDs,
                                            OPCHDA_ATTRIBUTE **ppAttributeValues,
                                            HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncRead_ReadAttribute);
        ClearOut(ppAttributeValues);
        ClearOut(ppErrors);
        if (dwNumAttributes == 0 || pdwAttributeIDs == nullptr ||
            ppAttributeValues == nullptr || ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            AttributeReadTimes checked;
            HRESULT hr =
                CheckAttributeRead(owner_->Handles(), hServer, htStartTime, htEndTime, &checked);
            if (FAILED(hr))
                return hr;
            return ReadAttributeRequest(checked, dwNumAttributes, pdwAttributeIDs,
                                        ppAttributeValues, ppErrors);
        });
    }
};

} // namespace

OwnedInterface *CreateSyncReadInterface(HDAServer *owner)
{
    return new (std::nothrow) SyncReadInterface(owner);
}

} // namespace zq
