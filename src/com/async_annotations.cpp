#include "com/async_annotations.h"

#include <memory>
#include <new>

#include "com/interface_object.h"
#include "com/sync_annotations.h"
#include "com/queue_request.h"
#include "history/annotation_transactions.h"
#include "history/item_check.h"
#include "opchda.h"
#include "runtime/guard.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {

class AsyncAnnotationsInterface final : public InterfaceObject<IOPCHDA_AsyncAnnotations>
{
public:
    explicit AsyncAnnotationsInterface(HDAServer *owner)
        : InterfaceObject(owner,
                          {texts::kIOPCHDA_ASyncAnnotations_AddRef_defered_to_HDAServer,
                           texts::kIOPCHDA_ASyncAnnotations_Release_defered_to_OPCServer,
                           texts::kIOPCHDA_ASyncAnnotations_QueryInterface_defered_to_OPCServer})
    {
    }

    HRESULT STDMETHODCALLTYPE
    QueryCapabilities(OPCHDA_ANNOTATIONCAPABILITIES *pCapabilities) override
    {
        Trace(texts::kIHDA_ASyncAnnotations_QueryCapabilities);
        return AnnotationQueryCapabilities(pCapabilities);
    }

    HRESULT STDMETHODCALLTYPE Read(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                   OPCHDA_TIME *htEndTime, DWORD dwNumItems, OPCHANDLE *phServer,
                                   DWORD *pdwCancelID, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncAnnotations_Read);
        ClearOut(pdwCancelID, ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || htStartTime == nullptr ||
            htEndTime == nullptr || pdwCancelID == nullptr || ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            FILETIME start, end;
            if (FAILED(ResolveRequiredTimes(htStartTime, htEndTime, &start, &end)))
                return E_INVALIDARG;
            return QueueRequest(*owner_, dwNumItems, true, pdwCancelID, ppErrors,
                                Build<ReadAnnotationsTransaction>(dwTransactionID, dwNumItems,
                                                                  phServer, start, end));
        });
    }

    HRESULT STDMETHODCALLTYPE Insert(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                     FILETIME *ftTimeStamps, OPCHDA_ANNOTATION *pAnnotationValues,
                                     DWORD *pdwCancelID, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_ASyncAnnotations_Insert);
        ClearOut(pdwCancelID, ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || ftTimeStamps == nullptr ||
            pAnnotationValues == nullptr || pdwCancelID == nullptr || ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            const FILETIME now = AnnotationTimeNow();
            return QueueRequest(*owner_, dwNumItems, true, pdwCancelID, ppErrors,
                                [&](std::unique_ptr<Transaction> *out) {
                                    auto t = std::make_unique<InsertAnnotationsTransaction>(
                                        dwTransactionID, dwNumItems, phServer, ftTimeStamps, now);
                                    HRESULT hr = t->CopyAnnotations(pAnnotationValues);
                                    if (SUCCEEDED(hr))
                                        *out = std::move(t);
                                    return hr;
                                });
        });
    }

    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwCancelID) override
    {
        Trace(texts::kIHDA_ASyncAnnotations_Cancel);
        // The client's one transaction list: any of its requests can be
        // cancelled here.
        return Guarded([&] {
            owner_->Requests().Cancel(dwCancelID);
            return S_OK;
        });
    }
};

} // namespace

OwnedInterface *CreateAsyncAnnotationsInterface(HDAServer *owner)
{
    return new (std::nothrow) AsyncAnnotationsInterface(owner);
}

} // namespace zq
