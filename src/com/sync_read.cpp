#include "com/sync_read.h"

#include <new>
#include <utility>

#include "com/interface_object.h"
#include "runtime/civil_time.h"
#include "history/item_check.h"
#include "history/modified_engine.h"
#include "history/read_engine.h"
#include "history/read_results.h"
#include "opchda.h"
#include "runtime/guard.h"
#include "runtime/server_state.h"
#include "runtime/task_memory.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {

using ItemResults = ReadResults<OPCHDA_ITEM, FreeItemArrays>;
using AttributeResults = ReadResults<OPCHDA_ATTRIBUTE, FreeAttributeArrays>;
using ModifiedResults = ReadResults<OPCHDA_MODIFIEDITEM, FreeModifiedArrays>;

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
            const QualityWords words = CurrentQualityWords();
            CZqHDACallback *const host = Host();
            RawReadTimes times;
            HRESULT hr = ResolveRawReadTimes(htStartTime, htEndTime, dwNumValues, &times);
            if (FAILED(hr))
                return hr;
            return ReadItems(dwNumItems, phServer, ppItemValues, ppErrors,
                             [&](DWORD, void *item, OPCHDA_ITEM &record) {
                                 return RunReadRaw(host, item, record, times.Start(), times.End(),
                                                   dwNumValues, bBounds, words);
                             });
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
            const uint64_t interval = TicksFromFileTime(ftResampleInterval);
            const QualityWords words = CurrentQualityWords();
            CZqHDACallback *const host = Host();
            return ReadItems(dwNumItems, phServer, ppItemValues, ppErrors,
                             [&](DWORD i, void *item, OPCHDA_ITEM &record) {
                                 return RunReadProcessed(host, item, record, haAggregate[i], start,
                                                         end, interval, words);
                             });
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
            const QualityWords words = CurrentQualityWords();
            CZqHDACallback *const host = Host();
            return ReadItems(dwNumItems, phServer, ppItemValues, ppErrors,
                             [&](DWORD, void *item, OPCHDA_ITEM &record) {
                                 return RunReadAtTime(host, item, record, dwNumTimeStamps,
                                                      ftTimeStamps, words);
                             });
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
            return ReadCheckedItems<ModifiedResults>(
                owner_->Handles(), dwNumItems, phServer, ppItemValues, ppErrors,
                [&](DWORD, void *item, OPCHDA_MODIFIEDITEM &record) {
                    return RunReadModified(item, record, times.Start(), times.End(),
                                           dwNumValues);
                });
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

            AttributeResults results;
            if (!results.Allocate(dwNumAttributes))
                return E_OUTOFMEMORY;
            CZqHDACallback *const host = Host();
            for (DWORD i = 0; i < dwNumAttributes; ++i) {
                results[i].hClient = checked.client;
                results.Error(i) = results.Admit(
                    i, RunReadAttribute(host, checked.item, pdwAttributeIDs[i], results[i],
                                        checked.start, checked.End()));
            }
            HRESULT overall = results.Overall();
            results.HandTo(ppAttributeValues, ppErrors);
            return overall;
        });
    }

private:
    template <typename Engine>
    HRESULT ReadItems(DWORD count, const OPCHANDLE *servers, OPCHDA_ITEM **records,
                      HRESULT **errors, Engine &&engine)
    {
        return ReadCheckedItems<ItemResults>(owner_->Handles(), count, servers, records, errors,
                                             std::forward<Engine>(engine));
    }
};

} // namespace

OwnedInterface *CreateSyncReadInterface(HDAServer *owner)
{
    return new (std::nothrow) SyncReadInterface(owner);
}

} // namespace zq
