// The fake's IOPCHDA_AsyncRead and IOPCHDA_AsyncUpdate: requests are checked
// at once and answered on the worker thread.
#include <olectl.h>

#include <memory>

#include "fake_historian.h"
#include "task_memory.h"
#include "values.h"

namespace fake {

using xserver::TaskArray;
using zqhda::TicksOf;

namespace {

void FreeRecords(std::vector<OPCHDA_ITEM> &items)
{
    for (auto &item : items) {
        for (DWORD i = 0; item.pvDataValues && i < item.dwCount; ++i)
            VariantClear(&item.pvDataValues[i]);
        CoTaskMemFree(item.pftTimeStamps);
        CoTaskMemFree(item.pdwQualities);
        CoTaskMemFree(item.pvDataValues);
    }
}

HRESULT Status(const std::vector<HRESULT> &codes)
{
    for (HRESULT code : codes)
        if (code != S_OK)
            return S_FALSE;
    return S_OK;
}

}  // namespace

HRESULT FakeHistorian::Queue(DWORD n, OPCHANDLE *handles, DWORD *cancelId, HRESULT **errors,
                             std::function<bool(IOPCHDA_DataCallback *, const std::vector<DWORD> &)> deliver)
{
    *errors = nullptr;
    if (!DataSinkAdvised())
        return CONNECT_E_NOCONNECTION;
    HRESULT *codes = TaskArray<HRESULT>(n);
    std::vector<DWORD> accepted;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < n; ++i) {
        if (ItemOf(handles[i]) < 0) {
            codes[i] = OPC_E_INVALIDHANDLE;
            result = S_FALSE;
        } else {
            accepted.push_back(i);
        }
    }
    DWORD id;
    {
        std::lock_guard<std::mutex> hold(lock_);
        id = nextCancel_++;
    }
    *cancelId = id;
    *errors = codes;
    if (accepted.empty() || silentAsync)
        return result;
    Post([this, id, accepted, deliver] {
        if (IsCancelled(id))
            return false;
        IUnknown *sink = data_.Sink();
        if (!sink)
            return false;
        bool again = deliver(static_cast<IOPCHDA_DataCallback *>(sink), accepted);
        sink->Release();
        return again && !IsCancelled(id);
    });
    return result;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::ReadRaw(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                                 OPCHDA_TIME *htEndTime, DWORD dwNumValues, BOOL, DWORD dwNumItems,
                                                 OPCHANDLE *phServer, DWORD *pdwCancelID, HRESULT **ppErrors)
{
    *ppErrors = nullptr;
    LogRaw(htStartTime, htEndTime, dwNumValues, dwNumItems);
    bool hasStart = false, hasEnd = false;
    Ticks start = 0, end = 0;
    if (!Resolve(htStartTime, hasStart, start) || !Resolve(htEndTime, hasEnd, end) || (!hasStart && !hasEnd))
        return E_INVALIDARG;
    std::vector<OPCHANDLE> handles(phServer, phServer + dwNumItems);
    return Queue(dwNumItems, phServer, pdwCancelID, ppErrors, [=](IOPCHDA_DataCallback *sink, const auto &accepted) {
        std::vector<OPCHDA_ITEM> items(accepted.size());
        std::vector<HRESULT> codes(accepted.size());
        for (size_t k = 0; k < accepted.size(); ++k) {
            int item = ItemOf(handles[accepted[k]], &items[k].hClient);
            codes[k] = SelectRaw(item, hasStart, start, hasEnd, end, dwNumValues, items[k]);
        }
        sink->OnReadComplete(dwTransactionID, Status(codes), static_cast<DWORD>(items.size()), items.data(),
                             codes.data());
        FreeRecords(items);
        return false;
    });
}

HRESULT STDMETHODCALLTYPE FakeHistorian::AdviseRaw(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                                   FILETIME ftUpdateInterval, DWORD dwNumItems, OPCHANDLE *phServer,
                                                   DWORD *pdwCancelID, HRESULT **ppErrors)
{
    *ppErrors = nullptr;
    bool hasStart = false;
    Ticks start = 0;
    if (!Resolve(htStartTime, hasStart, start) || !hasStart)
        return E_INVALIDARG;
    Ticks interval = TicksOf(ftUpdateInterval);
    auto windowStart = std::make_shared<Ticks>(start);
    std::vector<OPCHANDLE> handles(phServer, phServer + dwNumItems);
    // One window per round of the worker, without waiting for the clock.
    return Queue(dwNumItems, phServer, pdwCancelID, ppErrors, [=](IOPCHDA_DataCallback *sink, const auto &accepted) {
        Ticks from = *windowStart, to = from + interval;
        std::vector<OPCHDA_ITEM> items(accepted.size());
        std::vector<HRESULT> codes(accepted.size());
        for (size_t k = 0; k < accepted.size(); ++k) {
            int item = ItemOf(handles[accepted[k]], &items[k].hClient);
            codes[k] = SelectRaw(item, true, from, true, interval ? to - 1 : to, 0, items[k]);
        }
        *windowStart = to;
        InterlockedIncrement(&dataChanges);
        sink->OnDataChange(dwTransactionID, Status(codes), static_cast<DWORD>(items.size()), items.data(),
                           codes.data());
        FreeRecords(items);
        return true;
    });
}

HRESULT STDMETHODCALLTYPE FakeHistorian::ReadProcessed(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                                       OPCHDA_TIME *htEndTime, FILETIME ftResampleInterval,
                                                       DWORD dwNumItems, OPCHANDLE *phServer, DWORD *haAggregate,
                                                       DWORD *pdwCancelID, HRESULT **ppErrors)
{
    *ppErrors = nullptr;
    bool hasStart = false, hasEnd = false;
    Ticks start = 0, end = 0, interval = TicksOf(ftResampleInterval);
    if (!Resolve(htStartTime, hasStart, start) || !Resolve(htEndTime, hasEnd, end) || !hasStart || !hasEnd ||
        !interval)
        return E_INVALIDARG;
    std::vector<OPCHANDLE> handles(phServer, phServer + dwNumItems);
    std::vector<DWORD> aggregates(haAggregate, haAggregate + dwNumItems);
    return Queue(dwNumItems, phServer, pdwCancelID, ppErrors, [=](IOPCHDA_DataCallback *sink, const auto &accepted) {
        std::vector<OPCHDA_ITEM> items(accepted.size());
        std::vector<HRESULT> codes(accepted.size());
        for (size_t k = 0; k < accepted.size(); ++k) {
            int item = ItemOf(handles[accepted[k]], &items[k].hClient);
            codes[k] = SelectProcessed(item, aggregates[accepted[k]], start, end, interval, items[k]);
        }
        sink->OnReadComplete(dwTransactionID, Status(codes), static_cast<DWORD>(items.size()), items.data(),
                             codes.data());
        FreeRecords(items);
        return false;
    });
}

HRESULT STDMETHODCALLTYPE FakeHistorian::ReadAtTime(DWORD dwTransactionID, DWORD dwNumTimeStamps,
                                                    FILETIME *ftTimeStamps, DWORD dwNumItems, OPCHANDLE *phServer,
                                                    DWORD *pdwCancelID, HRESULT **ppErrors)
{
    std::vector<OPCHANDLE> handles(phServer, phServer + dwNumItems);
    std::vector<FILETIME> times(ftTimeStamps, ftTimeStamps + dwNumTimeStamps);
    return Queue(dwNumItems, phServer, pdwCancelID, ppErrors, [=](IOPCHDA_DataCallback *sink, const auto &accepted) {
        std::vector<OPCHDA_ITEM> items(accepted.size());
        std::vector<HRESULT> codes(accepted.size());
        for (size_t k = 0; k < accepted.size(); ++k) {
            int item = ItemOf(handles[accepted[k]], &items[k].hClient);
            codes[k] = SelectAtTime(item, static_cast<DWORD>(times.size()), times.data(), items[k]);
        }
        sink->OnReadComplete(dwTransactionID, Status(codes), static_cast<DWORD>(items.size()), items.data(),
                             codes.data());
        FreeRecords(items);
        return false;
    });
}

HRESULT STDMETHODCALLTYPE FakeHistorian::ReadAttribute(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                                       OPCHDA_TIME *, OPCHANDLE hServer, DWORD dwNumAttributes,
                                                       DWORD *dwAttributeIDs, DWORD *pdwCancelID, HRESULT **ppErrors)
{
    *ppErrors = nullptr;
    OPCHANDLE client = 0;
    int item = -1;
    HRESULT check = CheckAttributeRead(hServer, htStartTime, item, client);
    if (FAILED(check))
        return check;
    std::vector<OPCHANDLE> handles(dwNumAttributes, hServer);
    std::vector<DWORD> ids(dwAttributeIDs, dwAttributeIDs + dwNumAttributes);
    return Queue(dwNumAttributes, handles.data(), pdwCancelID, ppErrors,
                 [=](IOPCHDA_DataCallback *sink, const auto &) {
                     std::vector<OPCHDA_ATTRIBUTE> values(ids.size());
                     std::vector<HRESULT> codes(ids.size());
                     for (size_t k = 0; k < ids.size(); ++k) {
                         values[k].hClient = client;
                         codes[k] = SelectAttribute(item, ids[k], values[k]);
                     }
                     sink->OnReadAttributeComplete(dwTransactionID, Status(codes), client,
                                                   static_cast<DWORD>(ids.size()), values.data(), codes.data());
                     for (auto &v : values) {
                         for (DWORD i = 0; v.vAttributeValues && i < v.dwNumValues; ++i)
                             VariantClear(&v.vAttributeValues[i]);
                         CoTaskMemFree(v.ftTimeStamps);
                         CoTaskMemFree(v.vAttributeValues);
                     }
                     return false;
                 });
}

HRESULT STDMETHODCALLTYPE FakeHistorian::Cancel(DWORD dwCancelID)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        cancelled_.insert(dwCancelID);
    }
    Post([this, dwCancelID] {
        if (IUnknown *sink = data_.Sink()) {
            static_cast<IOPCHDA_DataCallback *>(sink)->OnCancelComplete(dwCancelID);
            sink->Release();
        }
        return false;
    });
    return S_OK;
}

HRESULT FakeHistorian::QueueUpdate(int kind, DWORD tid, DWORD n, OPCHANDLE *handles, FILETIME *times,
                                   VARIANT *values, DWORD *qualities, DWORD *cancelId, HRESULT **errors)
{
    std::vector<OPCHANDLE> h(handles, handles + n);
    std::vector<FILETIME> t(times, times + n);
    std::vector<zqhda::Variant> v;
    for (DWORD i = 0; values && i < n; ++i)
        v.push_back(zqhda::Variant::CopyOf(values[i]));
    std::vector<DWORD> q = qualities ? std::vector<DWORD>(qualities, qualities + n) : std::vector<DWORD>(n, 0);
    return Queue(n, handles, cancelId, errors, [=](IOPCHDA_DataCallback *sink, const auto &accepted) mutable {
        std::vector<OPCHANDLE> subset, clients;
        std::vector<FILETIME> subsetTimes;
        std::vector<VARIANT> subsetValues;
        std::vector<DWORD> subsetQualities;
        for (DWORD i : accepted) {
            OPCHANDLE client = 0;
            ItemOf(h[i], &client);
            subset.push_back(h[i]);
            clients.push_back(client);
            subsetTimes.push_back(t[i]);
            if (!v.empty())
                subsetValues.push_back(v[i].Get());
            subsetQualities.push_back(q[i]);
        }
        std::vector<HRESULT> codes(subset.size());
        Update(kind, static_cast<DWORD>(subset.size()), subset.data(), subsetTimes.data(),
               v.empty() ? nullptr : subsetValues.data(), subsetQualities.data(), codes.data());
        HRESULT status = S_OK;
        for (HRESULT code : codes)
            if (FAILED(code))
                status = S_FALSE;
        sink->OnUpdateComplete(tid, status, static_cast<DWORD>(codes.size()), clients.data(), codes.data());
        return false;
    });
}

HRESULT STDMETHODCALLTYPE FakeHistorian::Insert(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                                FILETIME *ftTimeStamps, VARIANT *vDataValues, DWORD *pdwQualities,
                                                DWORD *pdwCancelID, HRESULT **ppErrors)
{
    return QueueUpdate(1, dwTransactionID, dwNumItems, phServer, ftTimeStamps, vDataValues, pdwQualities,
                       pdwCancelID, ppErrors);
}

HRESULT STDMETHODCALLTYPE FakeHistorian::Replace(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                                 FILETIME *ftTimeStamps, VARIANT *vDataValues, DWORD *pdwQualities,
                                                 DWORD *pdwCancelID, HRESULT **ppErrors)
{
    return QueueUpdate(2, dwTransactionID, dwNumItems, phServer, ftTimeStamps, vDataValues, pdwQualities,
                       pdwCancelID, ppErrors);
}

HRESULT STDMETHODCALLTYPE FakeHistorian::InsertReplace(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                                       FILETIME *ftTimeStamps, VARIANT *vDataValues,
                                                       DWORD *pdwQualities, DWORD *pdwCancelID, HRESULT **ppErrors)
{
    return QueueUpdate(3, dwTransactionID, dwNumItems, phServer, ftTimeStamps, vDataValues, pdwQualities,
                       pdwCancelID, ppErrors);
}

HRESULT STDMETHODCALLTYPE FakeHistorian::DeleteAtTime(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                                      FILETIME *ftTimeStamps, DWORD *pdwCancelID, HRESULT **ppErrors)
{
    return QueueUpdate(4, dwTransactionID, dwNumItems, phServer, ftTimeStamps, nullptr, nullptr, pdwCancelID,
                       ppErrors);
}

HRESULT STDMETHODCALLTYPE FakeHistorian::DeleteRaw(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                                   OPCHDA_TIME *htEndTime, DWORD dwNumItems, OPCHANDLE *phServer,
                                                   DWORD *pdwCancelID, HRESULT **ppErrors)
{
    *ppErrors = nullptr;
    bool hasStart = false, hasEnd = false;
    Ticks start = 0, end = 0;
    if (!Resolve(htStartTime, hasStart, start) || !Resolve(htEndTime, hasEnd, end) || !hasStart || !hasEnd)
        return E_INVALIDARG;
    std::vector<OPCHANDLE> handles(phServer, phServer + dwNumItems);
    return Queue(dwNumItems, phServer, pdwCancelID, ppErrors, [=](IOPCHDA_DataCallback *sink, const auto &accepted) {
        std::vector<OPCHANDLE> clients;
        std::vector<HRESULT> codes;
        for (DWORD i : accepted) {
            OPCHANDLE client = 0;
            int item = ItemOf(handles[i], &client);
            clients.push_back(client);
            codes.push_back(RemoveRange(item, start, end));
        }
        sink->OnUpdateComplete(dwTransactionID, Status(codes), static_cast<DWORD>(codes.size()), clients.data(),
                               codes.data());
        return false;
    });
}

}  // namespace fake
