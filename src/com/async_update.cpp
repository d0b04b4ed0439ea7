#include "com/async_update.h"

#include <memory>
#include <new>

#include "com/interface_object.h"
#include "com/sync_update.h"
#include "com/queue_request.h"
#include "history/update_transactions.h"
#include "opchda.h"
#include "runtime/guard.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {

class AsyncUpdateInterface final : public InterfaceObject<IOPCHDA_AsyncUpdate>
{
public:
    explicit AsyncUpdateInterface(HDAServer *owner)
        : InterfaceObject(owner, {texts::kIOPCHDA_AsyncUpdate_AddRef_defered_to_HDAServer,
                                  texts::kIOPCHDA_AsyncUpdate_Release_defered_to_OPCServer,
                                  texts::kIOPCHDA_AsyncUpdate_QueryInterface_defered_to_OPCServer})
    {
    }

    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES *pCapabilities) override
    {
        return SyncUpdateQueryCapabilities(pCapabilities);
    }

    HRESULT STDMETHODCALLTYPE Insert(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                     FILETIME *ftTimeStamps, VARIANT *vDataValues,
                                     DWORD *pdwQualities, DWORD *pdwCancelID,
                                     HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncUpdate_Insert);
        return UpdateValues(TransactionKind::Insert, dwTransactionID, dwNumItems, phServer,
                            ftTimeStamps, vDataValues, pdwQualities, pdwCancelID, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE Replace(DWORD dwTransactionID, DWORD dwNumItems,
                                      OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                      VARIANT *vDataValues, DWORD *pdwQualities,
                                      DWORD *pdwCancelID, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncUpdate_Replace);
        return UpdateValues(TransactionKind::Replace, dwTransactionID, dwNumItems, phServer,
                            ftTimeStamps, vDataValues, pdwQualities, pdwCancelID, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD dwTransactionID, DWORD dwNumItems,
                                            OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                            VARIANT *vDataValues, DWORD *pdwQualities,
                                            DWORD *pdwCancelID, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncUpdate_InsertReplace);
        return UpdateValues(TransactionKind::InsertReplace, dwTransactionID, dwNumItems, phServer,
                            ftTimeStamps, vDataValues, pdwQualities, pdwCancelID, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE DeleteRaw(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                        OPCHDA_TIME *htEndTime, DWORD dwNumItems,
                                        OPCHANDLE *phServer, DWORD *pdwCancelID,
                                        HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncUpdate_DeleteRaw);
        ClearOut(pdwCancelID, ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || htStartTime == nullptr ||
            htEndTime == nullptr || pdwCancelID == nullptr || ppErrors == nullptr)
            return E_INVALIDARG;
        // The records are copied as they came: nothing is resolved or written
        // back; the host gets a relative text as text.
        return Guarded([&] {
            return QueueRequest(*owner_, dwNumItems, true, pdwCancelID, ppErrors,
                                Build<DeleteRawTransaction>(dwTransactionID, dwNumItems, phServer,
                                                            *htStartTime, *htEndTime));
        });
    }

    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD dwTransactionID, DWORD dwNumItems,
                                           OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                           DWORD *pdwCancelID, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncUpdate_DeleteAtTime);
        ClearOut(pdwCancelID, ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || ftTimeStamps == nullptr ||
            pdwCancelID == nullptr || ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            return QueueRequest(*owner_, dwNumItems, true, pdwCancelID, ppErrors,
                                Build<DeleteAtTimeTransaction>(dwTransactionID, dwNumItems,
                                                               phServer, ftTimeStamps));
        });
    }

    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwCancelID) override
    {
        Trace(texts::kIHDA_ASyncUpdate_Cancel);
        // The same list as the reads': a read can be cancelled here too.
        return Guarded([&] {
            owner_->Requests().Cancel(dwCancelID);
            return S_OK;
        });
    }

private:
    HRESULT UpdateValues(TransactionKind kind, DWORD transactionId, DWORD count,
                         OPCHANDLE *servers, FILETIME *times, VARIANT *values, DWORD *qualities,
                         DWORD *cancelId, HRESULT **errors)
    {
        ClearOut(cancelId, errors);
        if (count == 0 || servers == nullptr || times == nullptr || values == nullptr ||
            qualities == nullptr || cancelId == nullptr || errors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            return QueueRequest(*owner_, count, true, cancelId, errors,
                                [&](std::unique_ptr<Transaction> *out) {
                                    auto t = std::make_unique<ValueUpdateTransaction>(
                                        kind, transactionId, count, servers, times, qualities);
                                    HRESULT hr = t->CopyValues(values);
                                    if (SUCCEEDED(hr))
                                        *out = std::move(t);
                                    return hr;
                                });
        });
    }
};

} // namespace

OwnedInterface *CreateAsyncUpdateInterface(HDAServer *owner)
{
    return new (std::nothrow) AsyncUpdateInterface(owner);
}

} // namespace zq
