#include "commands.h"

#include <cwctype>

namespace zqhda {

namespace {

const wchar_t *const kStandardAggregates[] = {
    OPCHDA_AGGRNAME_INTERPOLATIVE, OPCHDA_AGGRNAME_TOTAL,       OPCHDA_AGGRNAME_AVERAGE,
    OPCHDA_AGGRNAME_TIMEAVERAGE,   OPCHDA_AGGRNAME_COUNT,       OPCHDA_AGGRNAME_STDEV,
    OPCHDA_AGGRNAME_MINIMUMACTUALTIME, OPCHDA_AGGRNAME_MINIMUM, OPCHDA_AGGRNAME_MAXIMUMACTUALTIME,
    OPCHDA_AGGRNAME_MAXIMUM,       OPCHDA_AGGRNAME_START,       OPCHDA_AGGRNAME_END,
    OPCHDA_AGGRNAME_DELTA,         OPCHDA_AGGRNAME_REGSLOPE,    OPCHDA_AGGRNAME_REGCONST,
    OPCHDA_AGGRNAME_REGDEV,        OPCHDA_AGGRNAME_VARIANCE,    OPCHDA_AGGRNAME_RANGE,
    OPCHDA_AGGRNAME_DURATIONGOOD,  OPCHDA_AGGRNAME_DURATIONBAD, OPCHDA_AGGRNAME_PERCENTGOOD,
    OPCHDA_AGGRNAME_PERCENTBAD,    OPCHDA_AGGRNAME_WORSTQUALITY, OPCHDA_AGGRNAME_ANNOTATIONS,
};

const wchar_t *const kStandardAttributes[] = {
    OPCHDA_ATTRNAME_DATA_TYPE,       OPCHDA_ATTRNAME_DESCRIPTION,        OPCHDA_ATTRNAME_ENG_UNITS,
    OPCHDA_ATTRNAME_STEPPED,         OPCHDA_ATTRNAME_ARCHIVING,          OPCHDA_ATTRNAME_DERIVE_EQUATION,
    OPCHDA_ATTRNAME_NODE_NAME,       OPCHDA_ATTRNAME_PROCESS_NAME,       OPCHDA_ATTRNAME_SOURCE_NAME,
    OPCHDA_ATTRNAME_SOURCE_TYPE,     OPCHDA_ATTRNAME_NORMAL_MAXIMUM,     OPCHDA_ATTRNAME_NORMAL_MINIMUM,
    OPCHDA_ATTRNAME_ITEMID,          OPCHDA_ATTRNAME_MAX_TIME_INT,       OPCHDA_ATTRNAME_MIN_TIME_INT,
    OPCHDA_ATTRNAME_EXCEPTION_DEV,   OPCHDA_ATTRNAME_EXCEPTION_DEV_TYPE, OPCHDA_ATTRNAME_HIGH_ENTRY_LIMIT,
    OPCHDA_ATTRNAME_LOW_ENTRY_LIMIT,
};

constexpr size_t kAggregateCount = sizeof kStandardAggregates / sizeof kStandardAggregates[0];
constexpr size_t kAttributeCount = sizeof kStandardAttributes / sizeof kStandardAttributes[0];

// Names compare without case, blanks, '_' and '-' ("time average" = "TimeAverage").
std::wstring Folded(const std::wstring &name)
{
    std::wstring s;
    for (wchar_t ch : name)
        if (!iswspace(ch) && ch != L'_' && ch != L'-')
            s += static_cast<wchar_t>(towlower(ch));
    return s;
}

std::wstring TaskText(LPWSTR *texts, DWORD i)
{
    return texts && texts[i] ? std::wstring(texts[i]) : std::wstring();
}

void FreeTexts(LPWSTR *texts, DWORD n)
{
    for (DWORD i = 0; texts && i < n; ++i)
        CoTaskMemFree(texts[i]);
    CoTaskMemFree(texts);
}

}  // namespace

HRESULT FetchAggregates(IOPCHDA_Server *server, std::vector<Named> &out)
{
    DWORD n = 0;
    DWORD *ids = nullptr;
    LPWSTR *names = nullptr, *descs = nullptr;
    HRESULT hr = server->GetAggregates(&n, &ids, &names, &descs);
    if (FAILED(hr))
        return hr;
    for (DWORD i = 0; ids && i < n; ++i)
        out.push_back(Named{ids[i], TaskText(names, i), TaskText(descs, i), VT_EMPTY});
    CoTaskMemFree(ids);
    FreeTexts(names, n);
    FreeTexts(descs, n);
    return hr;
}

HRESULT FetchAttributes(IOPCHDA_Server *server, std::vector<Named> &out)
{
    DWORD n = 0;
    DWORD *ids = nullptr;
    LPWSTR *names = nullptr, *descs = nullptr;
    VARTYPE *types = nullptr;
    HRESULT hr = server->GetItemAttributes(&n, &ids, &names, &descs, &types);
    if (FAILED(hr))
        return hr;
    for (DWORD i = 0; ids && i < n; ++i)
        out.push_back(Named{ids[i], TaskText(names, i), TaskText(descs, i), types ? types[i] : VARTYPE(VT_EMPTY)});
    CoTaskMemFree(ids);
    CoTaskMemFree(types);
    FreeTexts(names, n);
    FreeTexts(descs, n);
    return hr;
}

std::wstring StandardAggregateName(DWORD id)
{
    return id >= 1 && id <= kAggregateCount ? kStandardAggregates[id - 1] : L"";
}

std::wstring StandardAttributeName(DWORD id)
{
    return id >= 1 && id <= kAttributeCount ? kStandardAttributes[id - 1] : L"";
}

std::vector<std::wstring> SampleColumns()
{
    return {L"time", L"value", L"type", L"quality", L"quality_text"};
}

std::vector<Cell> SampleCells(const Sample &sample)
{
    return {Cell::Str(FormatIsoTime(sample.time)), CellOf(sample.value.Get()),
            Cell::Str(VarTypeName(V_VT(&sample.value.Get()))), Cell::Str(Hex32(sample.quality)),
            Cell::Str(QualityText(sample.quality))};
}

Context::Context(const Options &o, Session &s, Report &r) : options(o), session(s), report(r) {}

Context::~Context()
{
    transactions_.reset();
    if (sink_)
        sink_->Release();
}

void Context::ItemFailed()
{
    if (exitCode_ < kExitItemsFailed)
        exitCode_ = kExitItemsFailed;
}

void Context::Failed()
{
    exitCode_ = kExitFailed;
}

void Context::Fail(const std::wstring &message)
{
    report.Message(message);
    Failed();
}

bool Context::ReportSignals(bool cutShort)
{
    bool shutdown = Signals::ShutdownRequested();
    if (!shutdown && !Signals::Interrupted())
        return false;
    if (!signalsReported_) {
        std::wstring reason = Signals::ShutdownReason();
        if (shutdown)
            report.Message(L"the server asked its clients to disconnect" + (reason.empty() ? L"" : L": " + reason));
        else if (cutShort && !interruptEndsNormally_)
            report.Message(L"interrupted");
        signalsReported_ = true;
    }
    if (cutShort && (shutdown || !interruptEndsNormally_))
        Failed();
    return true;
}

bool Context::CheckCall(const std::wstring &call, HRESULT hr)
{
    if (SUCCEEDED(hr))
        return true;
    if (hr == E_ABORT && ReportSignals())
        return false;
    session.ReportStatus(report, call + L" failed", hr);
    Failed();
    return false;
}

void Context::ItemStatus(const std::wstring &subject, HRESULT code)
{
    if (code == S_OK)
        return;
    session.ReportStatus(report, subject, code);
    if (FAILED(code))
        ItemFailed();
}

std::vector<Item> Context::Handles(const std::vector<std::wstring> &ids)
{
    HRESULT hr = session.AddItems(ids);
    if (!CheckCall(L"GetItemHandles", hr))
        return {};
    for (const auto &item : session.Items())
        ItemStatus(item.id, item.error);
    return session.ValidItems();
}

Transactions *Context::Async()
{
    if (asyncTried_)
        return transactions_.get();
    asyncTried_ = true;
    sink_ = new DataSink();
    HRESULT hr = session.Advise(IID_IOPCHDA_DataCallback, sink_);
    if (!CheckCall(L"advising the IOPCHDA_DataCallback sink", hr))
        return nullptr;
    transactions_.reset(new Transactions(*sink_, TimeoutMs()));
    return transactions_.get();
}

const std::vector<Named> &Context::Aggregates()
{
    if (!aggregates_) {
        aggregates_.reset(new std::vector<Named>());
        FetchAggregates(session.Server(), *aggregates_);
    }
    return *aggregates_;
}

const std::vector<Named> &Context::Attributes()
{
    if (!attributes_) {
        attributes_.reset(new std::vector<Named>());
        FetchAttributes(session.Server(), *attributes_);
    }
    return *attributes_;
}

bool Context::Resolve(const std::vector<std::wstring> &texts, const std::vector<Named> &server,
                      const wchar_t *const *standard, size_t standardCount, const wchar_t *what,
                      std::vector<DWORD> &ids, std::vector<std::wstring> &names)
{
    auto known = [&](DWORD id, const std::wstring &name) {
        ids.push_back(id);
        names.push_back(name.empty() ? std::to_wstring(id) : name);
        return true;
    };
    auto one = [&](const std::wstring &text) {
        DWORD id = 0;
        if (ParseNumber(text, id)) {
            for (const auto &n : server)
                if (n.id == id && !n.name.empty())
                    return known(id, n.name);
            return known(id, id >= 1 && id <= standardCount ? standard[id - 1] : L"");
        }
        for (const auto &n : server)
            if (Folded(n.name) == Folded(text))
                return known(n.id, n.name);
        for (size_t i = 0; i < standardCount; ++i)
            if (Folded(standard[i]) == Folded(text))
                return known(static_cast<DWORD>(i + 1), standard[i]);
        report.Message(std::wstring(L"unknown ") + what + L" \"" + text + L"\" (see zqhda " + what + L"s)");
        Failed();
        return false;
    };
    for (const auto &text : texts)
        if (!one(text))
            return false;
    return true;
}

bool Context::ResolveAggregates(const std::vector<std::wstring> &texts, std::vector<DWORD> &ids,
                                std::vector<std::wstring> &names)
{
    return Resolve(texts, Aggregates(), kStandardAggregates, kAggregateCount, L"aggregate", ids, names);
}

bool Context::ResolveAttributes(const std::vector<std::wstring> &texts, std::vector<DWORD> &ids,
                                std::vector<std::wstring> &names)
{
    return Resolve(texts, Attributes(), kStandardAttributes, kAttributeCount, L"attribute", ids, names);
}

int RunCommand(const Options &options, Session &session, Report &report)
{
    Context c(options, session, report);
    for (const auto &warning : options.warnings)
        report.Message(warning);
    switch (options.command) {
    case Command::Status: RunStatus(c); break;
    case Command::Browse: RunBrowse(c); break;
    case Command::Attributes: RunAttributeList(c); break;
    case Command::Aggregates: RunAggregateList(c); break;
    case Command::ReadRaw:
    case Command::ReadProcessed:
    case Command::ReadAtTime: RunRead(c); break;
    case Command::ReadAttributes: RunReadAttributes(c); break;
    case Command::ReadModified: RunReadModified(c); break;
    case Command::AnnotationsRead:
    case Command::AnnotationsInsert: RunAnnotations(c); break;
    case Command::Insert:
    case Command::Replace:
    case Command::InsertReplace:
    case Command::DeleteRaw:
    case Command::DeleteAtTime: RunUpdate(c); break;
    case Command::Advise: RunAdvise(c); break;
    case Command::Plot: RunPlot(c); break;
    case Command::Watch: RunWatch(c); break;
    case Command::Help: break;
    }
    c.ReportSignals(false);  // a request that came after the work was done
    report.Finish();
    return c.ExitCode();
}

int RunOnServer(const Options &options, Session &session, Report &report)
{
    auto *shutdown = new ShutdownSink();
    session.Advise(IID_IOPCShutdown, shutdown);  // optional: not every server offers it
    shutdown->Release();
    return RunCommand(options, session, report);
}

}  // namespace zqhda
