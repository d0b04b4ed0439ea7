// read raw, read processed, read attime, read attributes.
#include "commands.h"
#include "more_data.h"

namespace zqhda {

namespace {

// The read interface the options ask for, or a report that it is missing.
bool HaveReadInterface(Context &c)
{
    if (c.options.async ? c.session.AsyncRead() != nullptr : c.session.SyncRead() != nullptr)
        return true;
    c.Fail(std::wstring(L"the server does not offer ") +
           (c.options.async ? L"IOPCHDA_AsyncRead" : L"IOPCHDA_SyncRead"));
    return false;
}

// Prints the values of every entry, then the entries' codes.
void PrintValues(Context &c, const std::vector<Item> &entries, const std::vector<ItemOutcome> &results,
                 const std::vector<std::wstring> *aggregateNames)
{
    std::vector<std::wstring> columns{L"item"};
    if (aggregateNames)
        columns.push_back(L"aggregate");
    for (auto &name : SampleColumns())
        columns.push_back(name);
    c.report.BeginSection(L"values", columns);
    for (size_t i = 0; i < entries.size() && i < results.size(); ++i)
        for (const auto &sample : results[i].data.samples) {
            std::vector<Cell> row{Cell::Str(entries[i].id)};
            if (aggregateNames)
                row.push_back(Cell::Str((*aggregateNames)[i]));
            for (auto &cell : SampleCells(sample))
                row.push_back(std::move(cell));
            c.report.Row(std::move(row));
        }
    c.report.EndSection();
    bool more = false;
    for (size_t i = 0; i < entries.size() && i < results.size(); ++i) {
        c.ItemStatus(entries[i].id, results[i].code);
        more = more || results[i].code == OPC_S_MOREDATA;
    }
    if (more && c.options.command == Command::ReadRaw && !c.options.all)
        c.report.Message(L"the server has more values than it returned; --all reads on to the end");
}

}  // namespace

void RunRead(Context &c)
{
    if (!HaveReadInterface(c))
        return;
    const Options &o = c.options;
    std::vector<Item> entries = c.Handles(o.items);
    if (entries.empty())
        return;
    Transactions *async = o.async ? c.Async() : nullptr;
    if (o.async && !async)
        return;
    std::vector<OPCHANDLE> handles = ServerHandles(entries);
    DWORD n = static_cast<DWORD>(handles.size());
    IOPCHDA_SyncRead *syncRead = c.session.SyncRead();
    IOPCHDA_AsyncRead *asyncRead = c.session.AsyncRead();
    std::vector<ItemOutcome> results;
    HRESULT hr = S_OK;
    std::wstring call;

    if (o.command == Command::ReadRaw) {
        call = L"ReadRaw";
        ConsoleProgress progress(!o.quiet, L"ReadRaw");
        SyncRawSource syncSource(syncRead);
        std::unique_ptr<AsyncRawSource> asyncSource;
        if (async)
            asyncSource.reset(new AsyncRawSource(asyncRead, *async));
        RawSource &source = async ? static_cast<RawSource &>(*asyncSource) : syncSource;
        RawRead r = ReadRawFollowing(source, o.start, o.end, o.maxValues, o.bounds, o.all, entries, &progress);
        hr = r.call;
        results = std::move(r.items);
        for (const auto &note : r.notes)
            c.report.Message(note);
        if (r.stopped)
            c.ReportSignals();
    } else if (o.command == Command::ReadProcessed) {
        call = L"ReadProcessed";
        std::vector<DWORD> ids;
        std::vector<std::wstring> names;
        if (!c.ResolveAggregates(o.aggregates, ids, names))
            return;
        std::vector<DWORD> perEntry;
        std::vector<std::wstring> entryNames;
        for (const auto &e : entries) {
            size_t k = ids.size() == 1 ? 0 : e.client - 1;  // client handle = position + 1
            perEntry.push_back(ids[k]);
            entryNames.push_back(names[k]);
        }
        HdaTime start(o.start), end(o.end);
        FILETIME interval = FileTimeOf(o.interval);
        ConsoleProgress progress(!o.quiet, L"ReadProcessed");
        hr = ReadItems(
            entries, async, asyncRead,
            [&](OPCHDA_ITEM **items, HRESULT **errors) {
                return syncRead->ReadProcessed(&start.Get(), &end.Get(), interval, n, handles.data(),
                                               perEntry.data(), items, errors);
            },
            [&](DWORD tid, DWORD *cancelId, HRESULT **errors) {
                return asyncRead->ReadProcessed(tid, &start.Get(), &end.Get(), interval, n, handles.data(),
                                                perEntry.data(), cancelId, errors);
            },
            results);
        progress.Done();
        if (c.CheckCall(call, hr))
            PrintValues(c, entries, results, &entryNames);
        return;
    } else {
        call = L"ReadAtTime";
        std::vector<FILETIME> times;
        for (const auto &t : o.at) {
            FILETIME ft;
            std::wstring error;
            if (!AbsoluteTime(t, ft, error)) {
                c.Fail(L"--at: " + error);
                return;
            }
            times.push_back(ft);
        }
        DWORD nt = static_cast<DWORD>(times.size());
        hr = ReadItems(
            entries, async, asyncRead,
            [&](OPCHDA_ITEM **items, HRESULT **errors) {
                return syncRead->ReadAtTime(nt, times.data(), n, handles.data(), items, errors);
            },
            [&](DWORD tid, DWORD *cancelId, HRESULT **errors) {
                return asyncRead->ReadAtTime(tid, nt, times.data(), n, handles.data(), cancelId, errors);
            },
            results);
    }
    if (c.CheckCall(call, hr))
        PrintValues(c, entries, results, nullptr);
}

void RunReadAttributes(Context &c)
{
    if (!HaveReadInterface(c))
        return;
    const Options &o = c.options;
    std::vector<DWORD> ids;
    std::vector<std::wstring> names;
    if (!c.ResolveAttributes(o.attributes, ids, names))
        return;
    std::vector<Item> entries = c.Handles(o.items);
    if (entries.empty())
        return;
    Transactions *async = o.async ? c.Async() : nullptr;
    if (o.async && !async)
        return;
    // Without --start the current values are read: from NOW, no end.
    std::optional<TimeArg> from = o.start;
    if (!from) {
        from = TimeArg{};
        from->relative = true;
        from->text = L"NOW";
    }
    HdaTime start(from), end(o.end);
    OPCHANDLE handle = entries[0].server;
    DWORD n = static_cast<DWORD>(ids.size());
    std::vector<AttributeData> values(n);
    std::vector<HRESULT> codes(n, S_OK);
    HRESULT hr;
    if (!async) {
        OPCHDA_ATTRIBUTE *attributes = nullptr;
        HRESULT *errors = nullptr;
        hr = c.session.SyncRead()->ReadAttribute(&start.Get(), &end.Get(), handle, n, ids.data(), &attributes,
                                                 &errors);
        if (SUCCEEDED(hr)) {
            for (DWORD i = 0; i < n; ++i) {
                codes[i] = errors ? errors[i] : S_OK;
                if (attributes)
                    values[i] = CopyAttribute(attributes[i]);
            }
            FreeAttributes(attributes, n);
            CoTaskMemFree(errors);
        }
    } else {
        IOPCHDA_AsyncRead *read = c.session.AsyncRead();
        std::optional<Completion> completion;
        hr = async->Run(
            Completion::Kind::AttributeComplete, n,
            [&](DWORD tid, DWORD *cancelId, HRESULT **errors) {
                return read->ReadAttribute(tid, &start.Get(), &end.Get(), handle, n, ids.data(), cancelId, errors);
            },
            [&](DWORD id) { return read->Cancel(id); }, codes, completion);
        // Each record names its attribute; the position is the fallback.
        for (size_t k = 0; completion && k < completion->attributes.size(); ++k) {
            AttributeData &record = completion->attributes[k];
            size_t slot = k;
            for (size_t i = 0; i < n; ++i)
                if (ids[i] == record.id && SUCCEEDED(codes[i])) {
                    slot = i;
                    break;
                }
            if (slot < n && SUCCEEDED(codes[slot])) {
                codes[slot] = k < completion->errors.size() ? completion->errors[k] : S_OK;
                values[slot] = std::move(record);
            }
        }
    }
    if (!c.CheckCall(L"ReadAttribute", hr))
        return;
    c.report.BeginSection(L"attributes", {L"item", L"attribute_id", L"attribute", L"time", L"value", L"type"});
    for (DWORD i = 0; i < n; ++i)
        for (const auto &s : values[i].samples)
            c.report.Row({Cell::Str(entries[0].id), Cell::Num(ids[i]), Cell::Str(names[i]),
                          Cell::Str(FormatIsoTime(s.time)), CellOf(s.value.Get()),
                          Cell::Str(VarTypeName(V_VT(&s.value.Get())))});
    c.report.EndSection();
    for (DWORD i = 0; i < n; ++i)
        c.ItemStatus(entries[0].id + L" / " + names[i], codes[i]);
}

}  // namespace zqhda
