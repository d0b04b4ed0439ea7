// advise: a raw-data subscription (AdviseRaw), or with --aggregate a
// processed one (AdviseProcessed), printed window by window.
#include "commands.h"

namespace zqhda {

bool StartRawAdvise(Context &c, RawAdvise &a)
{
    const Options &o = c.options;
    IOPCHDA_AsyncRead *read = c.session.AsyncRead();
    if (!read) {
        c.Fail(L"the server does not offer IOPCHDA_AsyncRead");
        return false;
    }
    a.entries = c.Handles(o.items);
    if (a.entries.empty())
        return false;
    a.transactions = c.Async();
    if (!a.transactions)
        return false;
    std::vector<OPCHANDLE> handles = ServerHandles(a.entries);
    HdaTime start(o.start);
    a.tid = a.transactions->NextTransactionId();
    HRESULT *errors = nullptr;
    const DWORD n = static_cast<DWORD>(handles.size());
    const wchar_t *call = L"AdviseRaw";
    HRESULT hr;
    if (o.aggregates.empty()) {
        hr = read->AdviseRaw(a.tid, &start.Get(), FileTimeOf(o.interval), n, handles.data(), &a.cancelId, &errors);
    } else {
        call = L"AdviseProcessed";
        std::vector<DWORD> ids;
        std::vector<std::wstring> names;
        if (!c.ResolveAggregates(o.aggregates, ids, names))
            return false;
        std::vector<DWORD> perEntry;
        for (const auto &e : a.entries)
            perEntry.push_back(ids[ids.size() == 1 ? 0 : e.client - 1]);  // client handle = position + 1
        // One interval per window; the subscription runs until cancelled.
        hr = read->AdviseProcessed(a.tid, &start.Get(), FileTimeOf(o.interval), n, handles.data(), perEntry.data(), 1,
                                   &a.cancelId, &errors);
    }
    if (!c.CheckCall(call, hr))
        return false;
    a.codes.assign(a.entries.size(), S_OK);
    bool anyAccepted = false;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        if (errors)
            a.codes[i] = errors[i];
        c.ItemStatus(a.entries[i].id, a.codes[i]);
        anyAccepted = anyAccepted || SUCCEEDED(a.codes[i]);
    }
    CoTaskMemFree(errors);
    if (!anyAccepted) {
        read->Cancel(a.cancelId);  // nothing to watch; make sure nothing stays behind
        return false;
    }
    return true;
}

void StopRawAdvise(Context &c, const RawAdvise &a)
{
    HRESULT hr = c.session.AsyncRead()->Cancel(a.cancelId);
    if (FAILED(hr))
        c.session.ReportStatus(c.report, L"cancelling the subscription", hr);
}

void RunAdvise(Context &c)
{
    const Options &o = c.options;
    RawAdvise a;
    if (!StartRawAdvise(c, a))
        return;
    const std::vector<Item> &entries = a.entries;
    std::vector<HRESULT> &codes = a.codes;
    Transactions *transactions = a.transactions;
    DWORD tid = a.tid;
    if (o.count == 0)
        c.InterruptEndsNormally();

    // Each window may take one update interval, plus the time-out.
    double waitSeconds = static_cast<double>(o.interval) / kTicksPerSecond + o.timeoutSeconds;
    std::vector<std::wstring> columns{L"window", L"item"};
    for (auto &name : SampleColumns())
        columns.push_back(name);
    c.report.BeginSection(L"values", columns);
    for (DWORD window = 1; o.count == 0 || window <= o.count; ++window) {
        Completion change;
        WaitOutcome waited = transactions->Sink().Next(Completion::Kind::DataChange, tid, Milliseconds(waitSeconds),
                                                       change);
        if (waited == WaitOutcome::Timeout) {
            c.Fail(L"no data window arrived within " + FormatDouble(waitSeconds) + L" s");
            break;
        }
        if (waited != WaitOutcome::Ready) {
            c.ReportSignals();  // Ctrl+C (the usual end without --count) or shutdown
            break;
        }
        std::vector<ItemOutcome> outcomes;
        MatchItems(entries, codes, change, outcomes);
        for (size_t i = 0; i < entries.size(); ++i) {
            for (const auto &sample : outcomes[i].data.samples) {
                std::vector<Cell> row{Cell::Num(window), Cell::Str(entries[i].id)};
                for (auto &cell : SampleCells(sample))
                    row.push_back(std::move(cell));
                c.report.Row(std::move(row));
            }
            if (SUCCEEDED(codes[i]) && FAILED(outcomes[i].code))
                c.ItemStatus(entries[i].id + L" (window " + std::to_wstring(window) + L")", outcomes[i].code);
        }
        c.report.Flush();
    }
    c.report.EndSection();
    StopRawAdvise(c, a);
}

}  // namespace zqhda
