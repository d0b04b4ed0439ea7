#include "com/async_read.h"

#include <memory>
#include <new>

#include "com/interface_object.h"
#include "com/queue_request.h"
#include "runtime/civil_time.h"
#include "history/item_check.h"
#include "history/modified_engine.h"
#include "history/modified_read_transaction.h"
#include "history/read_transactions.h"
#include "opchda.h"
#include "runtime/guard.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {

class AsyncReadInterface final : public InterfaceObject<IOPCHDA_AsyncRead>
{
public:
    explicit AsyncReadInterface(HDAServer *owner)
        : InterfaceObject(owner, {texts::kIOPCHDA_ASyncRead_AddRef_defered_to_HDAServer,
                                  texts::kIOPCHDA_ASyncRead_Release_defered_to_OPCServer,
                                  texts::kIOPCHDA_ASyncRead_QueryInterface_defered_to_OPCServer})
    {
    }

    HRESULT STDMETHODCALLTYPE ReadRaw(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                      OPCHDA_TIME *htEndTime, DWORD dwNumValues, BOOL bBounds,
                                      DWORD dwNumItems, OPCHANDLE *phServer, DWORD *pdwCancelID,
                                      HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncRead_ReadRaw);
        ClearOut(pdwCancelID, ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            RawReadTimes times;
            HRESULT hr = ResolveRawReadTimes(htStartTime, htEndTime, dwNumValues, &times);
            if (FAILED(hr))
                return hr;
            if (pdwCancelID == nullptr)
                return E_INVALIDARG;
            return QueueRequest(*owner_, dwNumItems, true, pdwCancelID, ppErrors,
                                Build<RawReadTransaction>(dwTransactionID, dwNumItems, phServer,
                                                          times, dwNumValues, bBounds));
        });
    }

    HRESULT STDMETHODCALLTYPE AdviseRaw(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                        FILETIME ftUpdateInterval, DWORD dwNumItems,
                                        OPCHANDLE *phServer, DWORD *pdwCancelID,
                                        HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncRead_AdviseRaw);
        ClearOut(pdwCancelID, ppErrors);
        // An update interval of 0 defines no window: each would be the same
        // instant, delivered again at every tick. Refused, as for processed
        // subscriptions.
        const uint64_t interval = TicksFromFileTime(ftUpdateInterval);
        if (dwNumItems == 0 || phServer == nullptr || htStartTime == nullptr ||
            ppErrors == nullptr || interval == 0)
            return E_INVALIDARG;
        return Guarded([&] {
            FILETIME start;
            if (FAILED(ResolveRequiredTime(htStartTime, &start)) || pdwCancelID == nullptr)
                return E_INVALIDARG;
            return QueueRequest(*owner_, dwNumItems, true, pdwCancelID, ppErrors,
                                Build<RawAdviseTransaction>(dwTransactionID, dwNumItems, phServer,
                                                            start, interval));
        });
    }

    HRESULT STDMETHODCALLTYPE ReadProcessed(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                            OPCHDA_TIME *htEndTime, FILETIME ftResampleInterval,
                                            DWORD dwNumItems, OPCHANDLE *phServer,
                                            DWORD *haAggregate, DWORD *pdwCancelID,
                                            HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncRead_ReadProcessed);
        ClearOut(pdwCancelID, ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || pdwCancelID == nullptr ||
            ppErrors == nullptr || htStartTime == nullptr || htEndTime == nullptr ||
            haAggregate == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            FILETIME start, end;
            if (FAILED(ResolveRequiredTimes(htStartTime, htEndTime, &start, &end)))
                return E_INVALIDARG;
            const uint64_t interval = TicksFromFileTime(ftResampleInterval);
            return QueueRequest(*owner_, dwNumItems, true, pdwCancelID, ppErrors,
                                Build<ProcessedReadTransaction>(dwTransactionID, dwNumItems,
                                                                phServer, haAggregate, start,
                                                                end, interval));
        });
    }

    // dwNumIntervals is accepted and not used: every update carries one
    // interval, and the subscription runs until it is cancelled.
    HRESULT STDMETHODCALLTYPE AdviseProcessed(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                              FILETIME ftResampleInterval, DWORD dwNumItems,
                                              OPCHANDLE *phServer, DWORD *haAggregate,
                                              DWORD /*dwNumIntervals*/, DWORD *pdwCancelID,
                                              HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncRead_AdviseProcessed);
        ClearOut(pdwCancelID, ppErrors);
        // Offered only while the host has switched it on.
        if (!ProcessedAdviseOffered())
            return E_NOTIMPL;
        const uint64_t interval = TicksFromFileTime(ftResampleInterval);
        if (dwNumItems == 0 || phServer == nullptr || haAggregate == nullptr ||
            htStartTime == nullptr || pdwCancelID == nullptr || ppErrors == nullptr ||
            interval == 0)
            return E_INVALIDARG;
        return Guarded([&] {
            FILETIME start;
            if (FAILED(ResolveRequiredTime(htStartTime, &start)))
                return E_INVALIDARG;
            return QueueRequest(*owner_, dwNumItems, true, pdwCancelID, ppErrors,
                                Build<ProcessedAdviseTransaction>(dwTransactionID, dwNumItems,
                                                                  phServer, haAggregate, start,
                                                                  interval));
        });
    }

    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwTransactionID, DWORD dwNumTimeStamps,
                                         FILETIME *ftTimeStamps, DWORD dwNumItems,
                                         OPCHANDLE *phServer, DWORD *pdwCancelID,
                                         HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncRead_ReadAtTime);
        ClearOut(pdwCancelID, ppErrors);
        if (dwNumTimeStamps == 0 || ftTimeStamps == nullptr || dwNumItems == 0 ||
            phServer == nullptr || pdwCancelID == nullptr || ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            return QueueRequest(*owner_, dwNumItems, true, pdwCancelID, ppErrors,
                                Build<AtTimeReadTransaction>(dwTransactionID, dwNumItems, phServer,
                                                             dwNumTimeStamps, ftTimeStamps));
        });
    }

    HRESULT STDMETHODCALLTYPE ReadModified(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                           OPCHDA_TIME *htEndTime, DWORD dwNumValues,
                                           DWORD dwNumItems, OPCHANDLE *phServer,
                                           DWORD *pdwCancelID, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncRead_ReadModified);
        ClearOut(pdwCancelID, ppErrors);
        // Offered only while the host has a modified-values callback.
        if (!ModifiedValuesOffered())
            return E_NOTIMPL;
        if (dwNumItems == 0 || phServer == nullptr || pdwCancelID == nullptr ||
            ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            RawReadTimes times;
            HRESULT hr = ResolveRawReadTimes(htStartTime, htEndTime, dwNumValues, &times);
            if (FAILED(hr))
                return hr;
            return QueueRequest(*owner_, dwNumItems, true, pdwCancelID, ppErrors,
                                Build<ModifiedReadTransaction>(dwTransactionID, dwNumItems,
                                                               phServer, times, dwNumValues));
        });
    }

    HRESULT STDMETHODCALLTYPE ReadAttribute(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                            OPCHDA_TIME *htEndTime, OPCHANDLE hServer,
                                            DWORD dwNumAttributes, DWORD *dwAttributeIDs,
                                            DWORD *pdwCancelID, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncRead_ReadAttribute);
        ClearOut(pdwCancelID, ppErrors);
        if (dwNumAttributes == 0 || ppErrors == nullptr || dwAttributeIDs == nullptr ||
            pdwCancelID == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            // The one item's check is the request's own result.
            AttributeReadTimes checked;
            HRESULT hr =
                CheckAttributeRead(owner_->Handles(), hServer, htStartTime, htEndTime, &checked);
            if (FAILED(hr))
                return hr;
            // One error per attribute, all S_OK: the request was accepted.
            return QueueRequest(*owner_, dwNumAttributes, false, pdwCancelID, ppErrors,
                                Build<AttributeReadTransaction>(dwTransactionID, hServer, checked,
                                                                dwNumAttributes, dwAttributeIDs));
        });
    }

    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwCancelID) override
    {
        Trace(texts::kIHDA_ASyncRead_Cancel);
        return Guarded([&] {
            owner_->Requests().Cancel(dwCancelID);
            return S_OK;
        });
    }

};

} // namespace

OwnedInterface *CreateAsyncReadInterface(HDAServer *owner)
{
    return new (std::nothrow) AsyncReadInterface(owner);
}

} // namespace zq
