// insert, replace, insertreplace, delete (raw range or at time stamps).
#include <algorithm>

#include "commands.h"

namespace zqhda {

namespace {

// One value to write or one time stamp to delete: every item gets every
// (time, value) pair, so that each entry has a handle of its own.
struct Entry
{
    std::wstring item;
    FILETIME time{};
    Variant value;
    DWORD quality = OPC_QUALITY_GOOD;
};

template <class T>
const T &Nth(const std::vector<T> &list, size_t i)
{
    return list[list.size() == 1 ? 0 : i];
}

bool BuildEntries(Context &c, std::vector<Entry> &entries)
{
    const Options &o = c.options;
    std::wstring error;
    if (o.command == Command::DeleteRaw) {
        for (const auto &item : o.items)
            entries.push_back(Entry{item, {}, {}, 0});
        return true;
    }
    bool deleting = o.command == Command::DeleteAtTime;
    size_t pairs = deleting ? o.at.size() : std::max(o.times.size(), o.values.size());
    std::vector<FILETIME> times;
    std::vector<Variant> values;
    for (size_t j = 0; j < pairs; ++j) {
        FILETIME t;
        if (!AbsoluteTime(deleting ? o.at[j] : Nth(o.times, j), t, error)) {
            c.Fail((deleting ? L"--at: " : L"--time: ") + error);
            return false;
        }
        times.push_back(t);
        Variant v;
        if (!deleting && !ParseValue(Nth(o.values, j), o.valueType, v, error)) {
            c.Fail(L"--value: " + error);
            return false;
        }
        values.push_back(std::move(v));
    }
    for (const auto &item : o.items)
        for (size_t j = 0; j < pairs; ++j)
            entries.push_back(Entry{item, times[j], values[j], o.qualities.empty() ? OPC_QUALITY_GOOD
                                                                                   : Nth(o.qualities, j)});
    return true;
}

std::wstring RangeText(const std::optional<TimeArg> &t)
{
    if (!t)
        return L"";
    if (t->relative)
        return t->text;
    return FormatIsoTime(t->time);
}

}  // namespace

void RunUpdate(Context &c)
{
    const Options &o = c.options;
    if (o.async ? !c.session.AsyncUpdate() : !c.session.SyncUpdate()) {
        c.Fail(std::wstring(L"the server does not offer ") +
               (o.async ? L"IOPCHDA_AsyncUpdate" : L"IOPCHDA_SyncUpdate"));
        return;
    }
    std::vector<Entry> all;
    if (!BuildEntries(c, all))
        return;
    std::vector<std::wstring> ids;
    for (const auto &e : all)
        ids.push_back(e.item);
    std::vector<Item> items = c.Handles(ids);
    if (items.empty())
        return;
    Transactions *async = o.async ? c.Async() : nullptr;
    if (o.async && !async)
        return;

    // The arrays of the call, for the entries that have a handle.
    std::vector<OPCHANDLE> handles = ServerHandles(items);
    std::vector<FILETIME> times;
    std::vector<VARIANT> values;
    std::vector<DWORD> qualities;
    for (const auto &item : items) {
        Entry &e = all[item.client - 1];  // client handle = position + 1
        times.push_back(e.time);
        values.push_back(e.value.Get());  // shallow: `all` owns the contents
        qualities.push_back(e.quality);
    }
    DWORD n = static_cast<DWORD>(items.size());
    HdaTime start(o.start), end(o.end);
    IOPCHDA_SyncUpdate *sync = c.session.SyncUpdate();
    IOPCHDA_AsyncUpdate *asyncUpdate = c.session.AsyncUpdate();
    std::wstring call;
    // Both forms of each update; the async one carries the transaction.
    std::function<HRESULT(HRESULT **)> syncCall;
    Transactions::Request asyncCall;
    switch (o.command) {
    case Command::Insert:
    case Command::Replace:
    case Command::InsertReplace: {
        auto syncMethod = o.command == Command::Insert    ? &IOPCHDA_SyncUpdate::Insert
                          : o.command == Command::Replace ? &IOPCHDA_SyncUpdate::Replace
                                                          : &IOPCHDA_SyncUpdate::InsertReplace;
        auto asyncMethod = o.command == Command::Insert    ? &IOPCHDA_AsyncUpdate::Insert
                           : o.command == Command::Replace ? &IOPCHDA_AsyncUpdate::Replace
                                                           : &IOPCHDA_AsyncUpdate::InsertReplace;
        call = o.command == Command::Insert ? L"Insert" : o.command == Command::Replace ? L"Replace" : L"InsertReplace";
        syncCall = [&, syncMethod](HRESULT **errors) {
            return (sync->*syncMethod)(n, handles.data(), times.data(), values.data(), qualities.data(), errors);
        };
        asyncCall = [&, asyncMethod](DWORD tid, DWORD *cancelId, HRESULT **errors) {
            return (asyncUpdate->*asyncMethod)(tid, n, handles.data(), times.data(), values.data(),
                                               qualities.data(), cancelId, errors);
        };
        break;
    }
    case Command::DeleteRaw:
        call = L"DeleteRaw";
        syncCall = [&](HRESULT **errors) {
            return sync->DeleteRaw(&start.Get(), &end.Get(), n, handles.data(), errors);
        };
        asyncCall = [&](DWORD tid, DWORD *cancelId, HRESULT **errors) {
            return asyncUpdate->DeleteRaw(tid, &start.Get(), &end.Get(), n, handles.data(), cancelId, errors);
        };
        break;
    default:
        call = L"DeleteAtTime";
        syncCall = [&](HRESULT **errors) { return sync->DeleteAtTime(n, handles.data(), times.data(), errors); };
        asyncCall = [&](DWORD tid, DWORD *cancelId, HRESULT **errors) {
            return asyncUpdate->DeleteAtTime(tid, n, handles.data(), times.data(), cancelId, errors);
        };
        break;
    }

    std::vector<HRESULT> codes(n, S_OK);
    HRESULT hr;
    if (!async) {
        HRESULT *errors = nullptr;
        hr = syncCall(&errors);
        if (SUCCEEDED(hr) && errors)
            codes.assign(errors, errors + n);
        if (SUCCEEDED(hr))
            CoTaskMemFree(errors);
    } else {
        std::optional<Completion> completion;
        hr = async->Run(Completion::Kind::UpdateComplete, n, asyncCall,
                        [&](DWORD id) { return asyncUpdate->Cancel(id); }, codes, completion);
        std::vector<bool> reported(n, false);
        for (size_t k = 0; completion && k < completion->clients.size(); ++k)
            for (DWORD i = 0; i < n; ++i)
                if (!reported[i] && SUCCEEDED(codes[i]) && items[i].client == completion->clients[k]) {
                    codes[i] = k < completion->errors.size() ? completion->errors[k] : S_OK;
                    reported[i] = true;
                    break;
                }
        for (DWORD i = 0; completion && i < n; ++i)
            if (!reported[i] && SUCCEEDED(codes[i]))
                codes[i] = E_UNEXPECTED;  // accepted, but the completion has no result for it
    }
    if (!c.CheckCall(call, hr))
        return;
    c.report.BeginSection(L"results", {L"item", L"time", L"value", L"result", L"result_name", L"result_text"});
    for (DWORD i = 0; i < n; ++i) {
        const Entry &e = all[items[i].client - 1];
        Cell time = o.command == Command::DeleteRaw ? Cell::Str(RangeText(o.start) + L" .. " + RangeText(o.end))
                                                   : Cell::Str(FormatIsoTime(e.time));
        Cell value = o.command == Command::DeleteRaw || o.command == Command::DeleteAtTime ? Cell::Null()
                                                                                           : CellOf(e.value.Get());
        c.report.Row({Cell::Str(e.item), time, value, Cell::Str(Hex32(static_cast<DWORD>(codes[i]))),
                      Cell::Str(CodeName(codes[i])),
                      Cell::Str(codes[i] == S_OK ? L"" : c.session.ErrorText(codes[i]))});
    }
    c.report.EndSection();
    for (DWORD i = 0; i < n; ++i)
        if (FAILED(codes[i]))
            c.ItemStatus(items[i].id, codes[i]);
}

}  // namespace zqhda
