// The fake's history: value selection, IOPCHDA_SyncRead and IOPCHDA_SyncUpdate.
#include <algorithm>
#include <cwchar>

#include "fake_historian.h"
#include "task_memory.h"

namespace fake {

using xserver::TaskArray;
using zqhda::FileTimeOf;
using zqhda::TicksOf;

namespace {

void FillItem(OPCHDA_ITEM &out, DWORD aggregate, const std::vector<Point> &points)
{
    DWORD n = static_cast<DWORD>(points.size());
    out.haAggregate = aggregate;
    out.dwCount = n;
    out.pftTimeStamps = TaskArray<FILETIME>(n);
    out.pdwQualities = TaskArray<DWORD>(n);
    out.pvDataValues = TaskArray<VARIANT>(n);
    for (DWORD i = 0; i < n; ++i) {
        out.pftTimeStamps[i] = FileTimeOf(points[i].time);
        out.pdwQualities[i] = points[i].quality;
        VariantInit(&out.pvDataValues[i]);
        if (!(points[i].quality & OPCHDA_NODATA)) {
            V_VT(&out.pvDataValues[i]) = VT_R8;
            V_R8(&out.pvDataValues[i]) = points[i].value;
        }
    }
}

// Overall result of a read: S_FALSE when any item has a code other than
// S_OK and OPC_S_MOREDATA.
HRESULT ReadResult(const HRESULT *errors, DWORD n)
{
    for (DWORD i = 0; i < n; ++i)
        if (errors[i] != S_OK && errors[i] != OPC_S_MOREDATA)
            return S_FALSE;
    return S_OK;
}

}  // namespace

HRESULT FakeHistorian::ReadEach(DWORD n, const OPCHANDLE *handles,
                                const std::function<HRESULT(DWORD, int, OPCHDA_ITEM &)> &select, OPCHDA_ITEM **items,
                                HRESULT **errors)
{
    *items = TaskArray<OPCHDA_ITEM>(n);
    *errors = TaskArray<HRESULT>(n);
    for (DWORD i = 0; i < n; ++i) {
        int item = ItemOf(handles[i], &(*items)[i].hClient);
        (*errors)[i] = item < 0 ? OPC_E_INVALIDHANDLE : select(i, item, (*items)[i]);
    }
    return ReadResult(*errors, n);
}

bool FakeHistorian::Resolve(OPCHDA_TIME *t, bool &present, Ticks &ticks)
{
    present = false;
    if (!t)
        return true;
    if (!t->bString) {
        present = true;
        ticks = TicksOf(t->ftTime);
        return true;
    }
    if (!t->szTime || !t->szTime[0])
        return true;
    if (wcscmp(t->szTime, L"NOW") != 0)
        return false;
    present = true;
    ticks = kNow;
    t->ftTime = FileTimeOf(kNow);
    return true;
}

void FakeHistorian::LogRaw(const OPCHDA_TIME *start, const OPCHDA_TIME *end, DWORD maxValues, DWORD items)
{
    std::lock_guard<std::mutex> hold(lock_);
    rawRequests_.push_back(RawRequest{start->bString != FALSE, end->bString != FALSE,
                                      start->szTime ? start->szTime : L"", end->szTime ? end->szTime : L"",
                                      TicksOf(start->ftTime), TicksOf(end->ftTime), maxValues, items});
}

HRESULT FakeHistorian::SelectRaw(int item, bool hasStart, Ticks start, bool hasEnd, Ticks end, DWORD maxValues,
                                 OPCHDA_ITEM &out)
{
    std::vector<Point> all;
    {
        std::lock_guard<std::mutex> hold(lock_);
        all = points_[static_cast<size_t>(item)];
    }
    bool descending = hasStart ? (hasEnd && start > end) : true;
    Ticks low = !descending ? start : hasStart ? end : 0;
    Ticks high = !descending ? (hasEnd ? end : ~0ull) : hasStart ? start : end;
    std::vector<Point> chosen;
    for (const auto &p : all)
        if (p.time >= low && p.time <= high)
            chosen.push_back(p);
    if (descending)
        std::reverse(chosen.begin(), chosen.end());
    DWORD limit = maxValues;
    if (serverMax && (!limit || serverMax < limit))
        limit = serverMax;
    HRESULT code = chosen.empty() ? OPC_S_NODATA : S_OK;
    if (limit && chosen.size() > limit) {
        chosen.resize(limit);
        code = OPC_S_MOREDATA;
    }
    FillItem(out, OPCHDA_NOAGGREGATE, chosen);
    return code;
}

HRESULT FakeHistorian::SelectAtTime(int item, DWORD n, const FILETIME *times, OPCHDA_ITEM &out)
{
    std::vector<Point> chosen;
    std::lock_guard<std::mutex> hold(lock_);
    for (DWORD i = 0; i < n; ++i) {
        Point found{TicksOf(times[i]), 0, OPCHDA_NODATA};
        for (const auto &p : points_[static_cast<size_t>(item)])
            if (p.time == found.time) {
                found = p;
                break;
            }
        chosen.push_back(found);
    }
    FillItem(out, OPCHDA_NOAGGREGATE, chosen);
    return S_OK;
}

HRESULT FakeHistorian::SelectProcessed(int item, DWORD aggregate, Ticks start, Ticks end, Ticks interval,
                                       OPCHDA_ITEM &out)
{
    if (aggregate != OPCHDA_COUNT && aggregate != OPCHDA_AVERAGE)
        return OPC_E_INVALIDAGGREGATE;
    std::vector<Point> chosen;
    std::lock_guard<std::mutex> hold(lock_);
    for (Ticks t = start; t < end; t += interval) {
        double sum = 0;
        int count = 0;
        for (const auto &p : points_[static_cast<size_t>(item)])
            if (p.time >= t && p.time < t + interval) {
                sum += p.value;
                ++count;
            }
        if (aggregate == OPCHDA_AVERAGE && count == 0)
            chosen.push_back(Point{t, 0, OPCHDA_NODATA});
        else
            chosen.push_back(Point{t, aggregate == OPCHDA_COUNT ? count : sum / count, OPCHDA_CALCULATED | 0xC0});
    }
    FillItem(out, aggregate, chosen);
    return S_OK;
}

HRESULT FakeHistorian::SelectAttribute(int item, DWORD id, OPCHDA_ATTRIBUTE &out)
{
    out.dwAttributeID = id;
    if (id != OPCHDA_DESCRIPTION && id != OPCHDA_NORMAL_MAXIMUM)
        return OPC_E_INVALIDATTRID;
    out.dwNumValues = 1;
    out.ftTimeStamps = TaskArray<FILETIME>(1);
    out.ftTimeStamps[0] = FileTimeOf(kT0);
    out.vAttributeValues = TaskArray<VARIANT>(1);
    VARIANT &v = out.vAttributeValues[0];
    if (id == OPCHDA_DESCRIPTION) {
        std::lock_guard<std::mutex> hold(lock_);
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocString((L"Fake item " + ids_[static_cast<size_t>(item)]).c_str());
    } else {
        V_VT(&v) = VT_R8;
        V_R8(&v) = 100.0;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::ReadRaw(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime, DWORD dwNumValues,
                                                 BOOL, DWORD dwNumItems, OPCHANDLE *phServer,
                                                 OPCHDA_ITEM **ppItemValues, HRESULT **ppErrors)
{
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    LogRaw(htStartTime, htEndTime, dwNumValues, dwNumItems);
    bool hasStart = false, hasEnd = false;
    Ticks start = 0, end = 0;
    if (!dwNumItems || !Resolve(htStartTime, hasStart, start) || !Resolve(htEndTime, hasEnd, end) ||
        (!hasStart && !hasEnd) || (hasStart != hasEnd && dwNumValues == 0))
        return E_INVALIDARG;
    HRESULT result = ReadEach(
        dwNumItems, phServer,
        [&](DWORD, int item, OPCHDA_ITEM &out) {
            return SelectRaw(item, hasStart, start, hasEnd, end, dwNumValues, out);
        },
        ppItemValues, ppErrors);
    if (shutdownInRead)
        FireShutdown(L"going down");
    return result;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::ReadProcessed(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                                       FILETIME ftResampleInterval, DWORD dwNumItems,
                                                       OPCHANDLE *phServer, DWORD *haAggregate,
                                                       OPCHDA_ITEM **ppItemValues, HRESULT **ppErrors)
{
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    bool hasStart = false, hasEnd = false;
    Ticks start = 0, end = 0, interval = TicksOf(ftResampleInterval);
    if (!Resolve(htStartTime, hasStart, start) || !Resolve(htEndTime, hasEnd, end) || !hasStart || !hasEnd ||
        interval == 0)
        return E_INVALIDARG;
    return ReadEach(
        dwNumItems, phServer,
        [&](DWORD i, int item, OPCHDA_ITEM &out) {
            return SelectProcessed(item, haAggregate[i], start, end, interval, out);
        },
        ppItemValues, ppErrors);
}

HRESULT STDMETHODCALLTYPE FakeHistorian::ReadAtTime(DWORD dwNumTimeStamps, FILETIME *ftTimeStamps, DWORD dwNumItems,
                                                    OPCHANDLE *phServer, OPCHDA_ITEM **ppItemValues,
                                                    HRESULT **ppErrors)
{
    return ReadEach(
        dwNumItems, phServer,
        [&](DWORD, int item, OPCHDA_ITEM &out) { return SelectAtTime(item, dwNumTimeStamps, ftTimeStamps, out); },
        ppItemValues, ppErrors);
}

HRESULT STDMETHODCALLTYPE FakeHistorian::ReadAttribute(OPCHDA_TIME *htStartTime, OPCHDA_TIME *, OPCHANDLE hServer,
                                                       DWORD dwNumAttributes, DWORD *pdwAttributeIDs,
                                                       OPCHDA_ATTRIBUTE **ppAttributeValues, HRESULT **ppErrors)
{
    *ppAttributeValues = nullptr;
    *ppErrors = nullptr;
    OPCHANDLE client = 0;
    int item = -1;
    HRESULT check = CheckAttributeRead(hServer, htStartTime, item, client);
    if (FAILED(check))
        return check;
    OPCHDA_ATTRIBUTE *values = TaskArray<OPCHDA_ATTRIBUTE>(dwNumAttributes);
    HRESULT *errors = TaskArray<HRESULT>(dwNumAttributes);
    for (DWORD i = 0; i < dwNumAttributes; ++i) {
        values[i].hClient = client;
        errors[i] = SelectAttribute(item, pdwAttributeIDs[i], values[i]);
    }
    *ppAttributeValues = values;
    *ppErrors = errors;
    return ReadResult(errors, dwNumAttributes);
}

HRESULT FakeHistorian::CheckAttributeRead(OPCHANDLE handle, OPCHDA_TIME *start, int &item, OPCHANDLE &client)
{
    item = ItemOf(handle, &client);
    bool hasStart = false;
    Ticks ticks = 0;
    if (item < 0)
        return OPC_E_INVALIDHANDLE;
    return Resolve(start, hasStart, ticks) && hasStart ? S_OK : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::QueryCapabilities(OPCHDA_UPDATECAPABILITIES *pCapabilities)
{
    *pCapabilities = static_cast<OPCHDA_UPDATECAPABILITIES>(0x1F);
    return S_OK;
}

HRESULT FakeHistorian::Update(int kind, DWORD n, OPCHANDLE *handles, FILETIME *times, VARIANT *values,
                              DWORD *qualities, HRESULT *errors)
{
    HRESULT result = S_OK;
    for (DWORD i = 0; i < n; ++i) {
        int item = ItemOf(handles[i]);
        if (item < 0) {
            errors[i] = OPC_E_INVALIDHANDLE;
            result = S_FALSE;
            continue;
        }
        Point p{TicksOf(times[i]), 0, qualities ? qualities[i] : 0};
        if (values) {
            VARIANT number;
            VariantInit(&number);
            if (FAILED(VariantChangeType(&number, &values[i], 0, VT_R8))) {
                errors[i] = OPC_E_BADTYPE;
                result = S_FALSE;
                continue;
            }
            p.value = V_R8(&number);
        }
        std::lock_guard<std::mutex> hold(lock_);
        auto &list = points_[static_cast<size_t>(item)];
        auto at = std::find_if(list.begin(), list.end(), [&](const Point &q) { return q.time == p.time; });
        bool exists = at != list.end();
        switch (kind) {
        case 1:  // insert
            errors[i] = exists ? OPC_E_DATAEXISTS : S_OK;
            break;
        case 2:  // replace
            errors[i] = exists ? S_OK : OPC_E_NODATAEXISTS;
            break;
        case 3:  // insert or replace
            errors[i] = exists ? OPC_S_REPLACED : OPC_S_INSERTED;
            break;
        default:  // delete at time
            errors[i] = exists ? S_OK : OPC_E_NODATAEXISTS;
            if (exists)
                list.erase(at);
            break;
        }
        if (kind != 4 && SUCCEEDED(errors[i])) {
            if (exists)
                *at = p;
            else
                list.insert(std::upper_bound(list.begin(), list.end(), p,
                                             [](const Point &a, const Point &b) { return a.time < b.time; }),
                            p);
        }
        if (FAILED(errors[i]))
            result = S_FALSE;
    }
    return result;
}

HRESULT FakeHistorian::RemoveRange(int item, Ticks from, Ticks to)
{
    std::lock_guard<std::mutex> hold(lock_);
    auto &list = points_[static_cast<size_t>(item)];
    size_t before = list.size();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const Point &p) { return p.time >= std::min(from, to) && p.time <= std::max(from, to); }),
               list.end());
    return list.size() < before ? S_OK : OPC_E_NODATAEXISTS;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::Insert(DWORD dwNumItems, OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                                VARIANT *vDataValues, DWORD *pdwQualities, HRESULT **ppErrors)
{
    *ppErrors = TaskArray<HRESULT>(dwNumItems);
    return Update(1, dwNumItems, phServer, ftTimeStamps, vDataValues, pdwQualities, *ppErrors);
}

HRESULT STDMETHODCALLTYPE FakeHistorian::Replace(DWORD dwNumItems, OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                                 VARIANT *vDataValues, DWORD *pdwQualities, HRESULT **ppErrors)
{
    *ppErrors = TaskArray<HRESULT>(dwNumItems);
    return Update(2, dwNumItems, phServer, ftTimeStamps, vDataValues, pdwQualities, *ppErrors);
}

HRESULT STDMETHODCALLTYPE FakeHistorian::InsertReplace(DWORD dwNumItems, OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                                       VARIANT *vDataValues, DWORD *pdwQualities, HRESULT **ppErrors)
{
    *ppErrors = TaskArray<HRESULT>(dwNumItems);
    return Update(3, dwNumItems, phServer, ftTimeStamps, vDataValues, pdwQualities, *ppErrors);
}

HRESULT STDMETHODCALLTYPE FakeHistorian::DeleteAtTime(DWORD dwNumItems, OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                                      HRESULT **ppErrors)
{
    *ppErrors = TaskArray<HRESULT>(dwNumItems);
    return Update(4, dwNumItems, phServer, ftTimeStamps, nullptr, nullptr, *ppErrors);
}

HRESULT STDMETHODCALLTYPE FakeHistorian::DeleteRaw(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime, DWORD dwNumItems,
                                                   OPCHANDLE *phServer, HRESULT **ppErrors)
{
    *ppErrors = nullptr;
    bool hasStart = false, hasEnd = false;
    Ticks start = 0, end = 0;
    if (!Resolve(htStartTime, hasStart, start) || !Resolve(htEndTime, hasEnd, end) || !hasStart || !hasEnd)
        return E_INVALIDARG;
    HRESULT *errors = TaskArray<HRESULT>(dwNumItems);
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwNumItems; ++i) {
        int item = ItemOf(phServer[i]);
        errors[i] = item < 0 ? OPC_E_INVALIDHANDLE : RemoveRange(item, start, end);
        if (FAILED(errors[i]))
            result = S_FALSE;
    }
    *ppErrors = errors;
    return result;
}

}  // namespace fake
