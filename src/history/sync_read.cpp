#include "history/sync_read.h"

#include <new>

#include "com/interface_object.h"
#include "history/filetime.h"
#include "history/item_check.h"
#include "history/read_engine.h"
#include "opchda.h"
#include "runtime/guard.h"
#include "runtime/task_memory.h"

namespace zq {

namespace {

template <typename T> void ClearOut(T **out)
{
    if (out != nullptr)
        *out = nullptr;
}

// The error array and the result records of a read, owned (with every
// array the engine put into a record) until handed to the client.
template <typename Record, void (*FreeArrays)(Record &)> class ReadResults
{
public:
    ReadResults() = default;
    ReadResults(const ReadResults &) = delete;
    ReadResults &operator=(const ReadResults &) = delete;
    ~ReadResults()
    {
        if (records_) {
            for (DWORD i = 0; i < count_; ++i)
                FreeArrays(records_[i]);
        }
    }

    bool Allocate(DWORD count)
    {
        errors_.reset(ZeroedTaskArray<HRESULT>(count));
        if (!errors_)
            return false;
        records_.reset(ZeroedTaskArray<Record>(count));
        if (!records_)
            return false;
        count_ = count;
        return true;
    }

    Record &operator[](DWORD i) { return records_[i]; }
    HRESULT &Error(DWORD i) { return errors_[i]; }
    HRESULT Overall() const { return OverallReadResult(errors_.get(), count_); }

    void HandTo(Record **records, HRESULT **errors)
    {
        *records = records_.release();
        *errors = errors_.release();
    }

private:
    TaskPtr<HRESULT> errors_;
    TaskPtr<Record> records_;
    DWORD count_ = 0;
};

using ItemResults = ReadResults<OPCHDA_ITEM, FreeItemArrays>;
using AttributeResults = ReadResults<OPCHDA_ATTRIBUTE, FreeAttributeArrays>;

class SyncReadInterface final : public InterfaceObject<IOPCHDA_SyncRead>
{
public:
    explicit SyncReadInterface(HDAServer *owner)
        : InterfaceObject(owner, {"IOPCHDA_SyncRead::AddRef() [defered to HDAServer]",
                                  "IOPCHDA_SyncRead::Release() [defered to OPCServer]",
                                  "IOPCHDA_SyncRead::QueryInterface() [defered to OPCServer]"})
    {
    }

    HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                      DWORD dwNumValues, BOOL bBounds, DWORD dwNumItems,
                                      OPCHANDLE *phServer, OPCHDA_ITEM **ppItemValues,
                                      HRESULT **ppErrors) override
    {
        Trace("IHDA_SyncRead::ReadRaw()");
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
            return ReadItems(dwNumItems, phServer, ppItemValues, ppErrors,
                             [&](DWORD, void *item, OPCHDA_ITEM &record) {
                                 return RunReadRaw(item, record, times.Start(), times.End(),
                                                   dwNumValues, bBounds);
                             });
        });
    }

    HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                            FILETIME ftResampleInterval, DWORD dwNumItems,
                                            OPCHANDLE *phServer, DWORD *haAggregate,
                                            OPCHDA_ITEM **ppItemValues,
                                            HRESULT **ppErrors) override
    {
        Trace("IHDA_SyncRead::ReadProcessed()");
        ClearOut(ppItemValues);
        ClearOut(ppErrors);
        if (dwNumItems == 0 || phServer == nullptr || haAggregate == nullptr ||
            ppItemValues == nullptr || ppErrors == nullptr || htStartTime == nullptr ||
            htEndTime == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            FILETIME start, end;
            if (FAILED(ResolveRequiredTime(htStartTime, &start)) ||
                FAILED(ResolveRequiredTime(htEndTime, &end)))
                return E_INVALIDARG;
            const uint64_t interval = TicksFromFileTime(ftResampleInterval);
            return ReadItems(dwNumItems, phServer, ppItemValues, ppErrors,
                             [&](DWORD i, void *item, OPCHDA_ITEM &record) {
                                 return RunReadProcessed(item, record, haAggregate[i], start,
                                                         end, interval);
                             });
        });
    }

    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwNumTimeStamps, FILETIME *ftTimeStamps,
                                         DWORD dwNumItems, OPCHANDLE *phServer,
                                         OPCHDA_ITEM **ppItemValues, HRESULT **ppErrors) override
    {
        Trace("IHDA_SyncRead::ReadAtTime()");
        ClearOut(ppItemValues);
        ClearOut(ppErrors);
        if (dwNumTimeStamps == 0 || ftTimeStamps == nullptr || dwNumItems == 0 ||
            phServer == nullptr || ppItemValues == nullptr || ppErrors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            return ReadItems(dwNumItems, phServer, ppItemValues, ppErrors,
                             [&](DWORD, void *item, OPCHDA_ITEM &record) {
                                 return RunReadAtTime(item, record, dwNumTimeStamps,
                                                      ftTimeStamps);
                             });
        });
    }

    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME *, OPCHDA_TIME *, DWORD, DWORD,
                                           OPCHANDLE *, OPCHDA_MODIFIEDITEM **ppItemValues,
                                           HRESULT **ppErrors) override
    {
        Trace("IHDA_SyncRead::ReadModified()");
        // Not offered; the out pointers are left null like on every failure.
        ClearOut(ppItemValues);
        ClearOut(ppErrors);
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                            OPCHANDLE hServer, DWORD dwNumAttributes,
                                            DWORD *pdwAttributeIDs,
                                            OPCHDA_ATTRIBUTE **ppAttributeValues,
                                            HRESULT **ppErrors) override
    {
        Trace("IHDA_SyncRead::ReadAttribute()");
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
            for (DWORD i = 0; i < dwNumAttributes; ++i) {
                results[i].hClient = checked.client;
                results.Error(i) = RunReadAttribute(checked.item, pdwAttributeIDs[i], results[i],
                                                    checked.start, checked.End());
            }
            HRESULT overall = results.Overall();
            results.HandTo(ppAttributeValues, ppErrors);
            return overall;
        });
    }

private:
    // The per-item part of the value reads: allocate the results, check each
    // item in request order and let the engine read the ones that pass.
    template <typename Engine>
    HRESULT ReadItems(DWORD count, const OPCHANDLE *servers, OPCHDA_ITEM **records,
                      HRESULT **errors, Engine &&engine)
    {
        ItemResults results;
        if (!results.Allocate(count))
            return E_OUTOFMEMORY;
        for (DWORD i = 0; i < count; ++i) {
            CheckedItem found;
            HRESULT hr = CheckReadItem(owner_->Handles(), servers[i], &found);
            if (hr == S_OK) {
                results[i].hClient = found.client;
                hr = engine(i, found.item, results[i]);
            }
            results.Error(i) = hr;
        }
        HRESULT overall = results.Overall();
        results.HandTo(records, errors);
        return overall;
    }
};

} // namespace

OwnedInterface *CreateSyncReadInterface(HDAServer *owner)
{
    return new (std::nothrow) SyncReadInterface(owner);
}

} // namespace zq
