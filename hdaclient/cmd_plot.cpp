// plot: raw values and aggregates of items over a time range, drawn into a
// self-contained SVG file that is written completely or not at all.
#include <algorithm>
#include <cmath>

#include "commands.h"
#include "more_data.h"
#include "plot.h"

namespace zqhda {

namespace {

struct ItemInfo
{
    std::wstring description, units;
    bool stepped = false;
    Ticks maxGap = 0;
};

std::wstring TextOf(const VARIANT &v)
{
    Variant text;
    if (V_VT(&v) == VT_EMPTY || V_VT(&v) == VT_NULL ||
        FAILED(VariantChangeType(&text.Get(), const_cast<VARIANT *>(&v), 0, VT_BSTR)))
        return {};
    return V_BSTR(&text.Get()) ? V_BSTR(&text.Get()) : L"";
}

// The item's current Description, Eng Units, Stepped and Max Time Interval;
// what the server does not know stays empty.
ItemInfo ReadInfo(IOPCHDA_SyncRead *read, OPCHANDLE handle)
{
    ItemInfo info;
    DWORD ids[] = {OPCHDA_DESCRIPTION, OPCHDA_ENG_UNITS, OPCHDA_STEPPED, OPCHDA_MAX_TIME_INT};
    const DWORD n = sizeof ids / sizeof ids[0];
    TimeArg now;
    now.relative = true;
    now.text = L"NOW";
    HdaTime start(now), end;
    OPCHDA_ATTRIBUTE *values = nullptr;
    HRESULT *errors = nullptr;
    if (FAILED(read->ReadAttribute(&start.Get(), &end.Get(), handle, n, ids, &values, &errors)))
        return info;
    for (DWORD i = 0; values && i < n; ++i) {
        if (errors && FAILED(errors[i]))
            continue;
        AttributeData a = CopyAttribute(values[i]);
        if (a.samples.empty())
            continue;
        const VARIANT &v = a.samples.back().value.Get();
        if (ids[i] == OPCHDA_DESCRIPTION)
            info.description = TextOf(v);
        else if (ids[i] == OPCHDA_ENG_UNITS)
            info.units = TextOf(v);
        else if (ids[i] == OPCHDA_STEPPED)
            info.stepped = (V_VT(&v) == VT_BOOL && V_BOOL(&v) != VARIANT_FALSE) ||
                           (V_VT(&v) != VT_BOOL && TextOf(v) != L"0" && !TextOf(v).empty() &&
                            _wcsicmp(TextOf(v).c_str(), L"false") != 0);
        else if (V_VT(&v) == VT_CY && V_CY(&v).int64 > 0)
            info.maxGap = static_cast<Ticks>(V_CY(&v).int64);  // a FILETIME span
    }
    FreeAttributes(values, n);
    CoTaskMemFree(errors);
    return info;
}

std::vector<PlotPoint> PointsOf(const std::vector<Sample> &samples)
{
    std::vector<PlotPoint> points;
    points.reserve(samples.size());
    for (const auto &s : samples) {
        const VARIANT &v = s.value.Get();
        VARIANT d;
        VariantInit(&d);
        bool number = V_VT(&v) != VT_EMPTY && V_VT(&v) != VT_NULL &&
                      SUCCEEDED(VariantChangeType(&d, const_cast<VARIANT *>(&v), 0, VT_R8)) && std::isfinite(V_R8(&d));
        points.push_back(PlotPoint{TicksOf(s.time), number ? V_R8(&d) : std::nan(""), KindOf(s.quality, number)});
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const PlotPoint &a, const PlotPoint &b) { return a.time < b.time; });
    return points;
}

// Reports the entries whose read failed; true if none did.
bool AllRead(Context &c, const std::vector<Item> &entries, const std::vector<ItemOutcome> &results,
             const std::wstring &what)
{
    bool ok = results.size() == entries.size();
    for (size_t i = 0; i < entries.size() && i < results.size(); ++i)
        if (FAILED(results[i].code)) {
            c.ItemStatus(entries[i].id + what, results[i].code);
            ok = false;
        }
    return ok;
}

}  // namespace

void RunPlot(Context &c)
{
    const Options &o = c.options;
    auto fail = [&](const std::wstring &text) {
        c.report.Message(text + L"; no plot written");
        c.Failed();
    };
    FILETIME from, to;
    std::wstring error;
    if (!AbsoluteTime(*o.start, from, error) || !AbsoluteTime(*o.end, to, error))
        return fail(error);
    if (TicksOf(from) >= TicksOf(to))
        return fail(L"the time range is empty: --start (" + FormatIsoTime(from) + L") is not before --end (" +
                    FormatIsoTime(to) + L")");
    IOPCHDA_SyncRead *read = c.session.SyncRead();
    if (!read)
        return fail(L"the server does not offer IOPCHDA_SyncRead");
    // An unwritable place is found before any reading.
    AtomicFile file;
    if (!file.Open(o.output, error))
        return fail(error);

    std::vector<DWORD> aggregates;
    std::vector<std::wstring> aggregateNames;
    if (!o.aggregates.empty()) {
        if (!c.ResolveAggregates(o.aggregates, aggregates, aggregateNames))
            return;
        const auto &known = c.Aggregates();
        for (size_t k = 0; k < aggregates.size() && !known.empty(); ++k)
            if (std::none_of(known.begin(), known.end(), [&](const Named &n) { return n.id == aggregates[k]; }))
                return fail(L"the server has no aggregate \"" + aggregateNames[k] + L"\" (see zqhda aggregates)");
    }
    std::vector<Item> entries = c.Handles(o.items);
    if (entries.size() != o.items.size()) {
        c.report.Message(L"not every item is known to the server; no plot written");
        c.ItemFailed();
        return;
    }
    std::vector<ItemInfo> info;
    for (const auto &e : entries)
        info.push_back(ReadInfo(read, e.server));

    TimeArg startArg, endArg;
    startArg.time = from;
    endArg.time = to;
    std::vector<PlotSeries> series;
    auto add = [&](size_t i, const std::wstring &label, const std::vector<Sample> &samples) {
        PlotSeries s;
        s.label = label;
        s.description = info[i].description;
        s.units = info[i].units;
        s.stepped = info[i].stepped;
        s.maxGap = info[i].maxGap;
        s.points = PointsOf(samples);
        series.push_back(std::move(s));
    };
    if (aggregates.empty() || o.raw) {
        ConsoleProgress progress(!o.quiet, L"ReadRaw");
        SyncRawSource source(read);
        RawRead r = ReadRawFollowing(source, startArg, endArg, 0, false, true, entries, &progress);
        progress.Done();
        for (const auto &note : r.notes)
            c.report.Message(note);
        if (r.stopped) {
            c.ReportSignals();
            return;
        }
        if (!c.CheckCall(L"ReadRaw", r.call))
            return;
        if (!AllRead(c, entries, r.items, L""))
            return c.report.Message(L"no plot written");
        for (size_t i = 0; i < entries.size(); ++i)
            add(i, entries[i].id, r.items[i].data.samples);
    }
    std::vector<OPCHANDLE> handles = ServerHandles(entries);
    DWORD n = static_cast<DWORD>(handles.size());
    for (size_t k = 0; k < aggregates.size(); ++k) {
        HdaTime start(startArg), end(endArg);
        std::vector<DWORD> perEntry(n, aggregates[k]);
        std::vector<ItemOutcome> results;
        ConsoleProgress progress(!o.quiet, L"ReadProcessed");
        HRESULT hr = ReadItems(
            entries, nullptr, nullptr,
            [&](OPCHDA_ITEM **items, HRESULT **errors) {
                return read->ReadProcessed(&start.Get(), &end.Get(), FileTimeOf(o.interval), n, handles.data(),
                                           perEntry.data(), items, errors);
            },
            nullptr, results);
        progress.Done();
        if (!c.CheckCall(L"ReadProcessed", hr))
            return;
        if (!AllRead(c, entries, results, L" / " + aggregateNames[k]))
            return c.report.Message(L"no plot written");
        for (size_t i = 0; i < entries.size(); ++i) {
            add(i, entries[i].id + L" (" + aggregateNames[k] + L")", results[i].data.samples);
            // Each processed value holds over its interval.
            PlotSeries &s = series.back();
            s.points = HoldOverIntervals(s.points, TicksOf(from), o.interval, TicksOf(to));
            s.stepped = true;
            s.maxGap = 0; // the item's spacing says nothing about the intervals'
        }
    }

    size_t values = 0, shown = 0;
    for (const auto &s : series) {
        values += s.points.size();
        for (const auto &p : s.points)
            shown += p.kind != PointKind::NoData;
    }
    if (shown == 0)
        return fail(L"no values between " + FormatIsoTime(from) + L" and " + FormatIsoTime(to));
    PlotOptions po;
    po.start = TicksOf(from);
    po.end = TicksOf(to);
    po.width = static_cast<int>(o.width);
    po.height = static_cast<int>(o.height);
    po.title = o.title;
    if (po.title.empty())
        for (size_t i = 0; i < o.items.size(); ++i)
            po.title += (i ? L", " : L"") + o.items[i];
    std::string svg;
    if (!RenderSvg(po, series, svg, error) || !file.Commit(svg, error))
        return fail(error);
    c.report.BeginSection(L"plot", {L"file", L"series", L"values", L"bytes"}, true);
    c.report.Row({Cell::Str(file.Path()), Cell::Num(series.size()), Cell::Num(values), Cell::Num(svg.size())});
    c.report.EndSection();
}

}  // namespace zqhda
