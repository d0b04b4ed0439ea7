#include "com/sync_annotations.h"

#include <new>

#include "com/interface_object.h"
#include "history/annotation_engine.h"
#include "history/item_check.h"
#include "history/sync_requests.h"
#include "opchda.h"
#include "runtime/guard.h"
#include "runtime/task_memory.h"
#include "runtime/trace_texts.h"

namespace zq {

HRESULT AnnotationQueryCapabilities(OPCHDA_ANNOTATIONCAPABILITIES *capabilities)
{
    if (capabilities == nullptr)
        return E_INVALIDARG;
    *capabilities = AnnotationCapabilities();
    return S_OK;
}

FILETIME AnnotationTimeNow()
{
    FILETIME now;
    if (FAILED(CoFileTimeNow(&now)))
        GetSystemTimeAsFileTime(&now);
    return now;
}

namespace {


class SyncAnnotationsInterface final : public InterfaceObject<IOPCHDA_SyncAnnotations>
{
public:
    explicit SyncAnnotationsInterface(HDAServer *owner)
        : InterfaceObject(owner,
                          {texts::kIOPCHDA_SyncAnnotations_AddRef_defered_to_HDAServer,
                           texts::kIOPCHDA_SyncAnnotations_Release_defered_to_OPCServer,
                           texts::kIOPCHDA_SyncAnnotations_QueryInterface_defered_to_OPCServer})
    {
    }

    HRESULT STDMETHODCALLTYPE
    QueryCapabilities(OPCHDA_ANNOTATIONCAPABILITIES *pCapabilities) override
    {
        Trace(texts::kIHDA_SyncAnnotations_QueryCapabilities);
        return AnnotationQueryCapabilities(pCapabilities);
    }

    HRESULT STDMETHODCALLTYPE Read(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                   DWORD dwNumItems, OPCHANDLE *phServer,
                                   OPCHDA_ANNOTATION **ppAnnotationValues,
                                   HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncAnnotations_Read);
        ClearOut(ppAnnotationValues);
        ClearOut(ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || ppAnnotationValues == nullptr ||
            ppErrors == nullptr || htStartTime == nullptr || htEndTime == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            FILETIME start, end;
            if (FAILED(ResolveRequiredTimes(htStartTime, htEndTime, &start, &end)))
                return E_INVALIDARG;
            return ReadAnnotationsRequest(owner_->Handles(), start, end, dwNumItems, phServer,
                                          ppAnnotationValues, ppErrors);
        });
    }

    HRESULT STDMETHODCALLTYPE Insert(DWORD dwNumItems, OPCHANDLE *phServer,
                                     FILETIME *ftTimeStamps, OPCHDA_ANNOTATION *pAnnotationValues,
                                     HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncAnnotations_Insert);
        ClearOut(ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || ftTimeStamps == nullptr ||
            pAnnotationValues == nullptr || ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            const FILETIME now = AnnotationTimeNow();
            return InsertAnnotationsRequest(owner_->Handles(), dwNumItems, phServer, ftTimeStamps,
                                            pAnnotationValues, now, ppErrors);
        });
    }
};

} // namespace

OwnedInterface *CreateSyncAnnotationsInterface(HDAServer *owner)
{
    return new (std::nothrow) SyncAnnotationsInterface(owner);
}

} // namespace zq
