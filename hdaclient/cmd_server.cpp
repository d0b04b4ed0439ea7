// status, browse, attributes, aggregates: what the server says about itself.
#include "commands.h"

namespace zqhda {

namespace {

constexpr size_t kMaxDepth = 64;          // a deeper tree is taken for a loop
constexpr size_t kMaxStrings = 10000000;  // per enumeration

std::wstring StatusName(OPCHDA_SERVERSTATUS status)
{
    switch (status) {
    case OPCHDA_UP: return L"Up";
    case OPCHDA_DOWN: return L"Down";
    case OPCHDA_INDETERMINATE: return L"Indeterminate";
    }
    return L"Status " + std::to_wstring(static_cast<int>(status));
}

Cell TimeCell(const FILETIME *time)
{
    return time ? Cell::Str(FormatIsoTime(*time)) : Cell::Null();
}

Cell TextCell(LPCWSTR text)
{
    return text ? Cell::Str(text) : Cell::Null();
}

// Every string of one enumeration of the browser's current position.
bool Enumerate(Context &c, IOPCHDA_Browser *browser, OPCHDA_BROWSETYPE type, std::vector<std::wstring> &out)
{
    ComPtr<IEnumString> strings;
    HRESULT hr = browser->GetEnum(type, strings.Put());
    if (!c.CheckCall(L"IOPCHDA_Browser::GetEnum", hr))
        return false;
    if (!strings)
        return true;  // S_FALSE: nothing there
    for (;;) {
        LPOLESTR batch[64] = {};
        ULONG fetched = 0;
        hr = strings->Next(64, batch, &fetched);
        if (FAILED(hr))
            return c.CheckCall(L"IEnumString::Next", hr);
        for (ULONG i = 0; i < fetched && i < 64; ++i) {
            out.push_back(batch[i] ? batch[i] : L"");
            CoTaskMemFree(batch[i]);
        }
        if (hr != S_OK || fetched == 0 || out.size() > kMaxStrings)
            return true;
    }
}

bool Walk(Context &c, IOPCHDA_Browser *browser, size_t depth)
{
    bool table = c.report.OutputFormat() == Format::Table;
    std::vector<std::wstring> branches, leaves;
    if (!Enumerate(c, browser, OPCHDA_BRANCH, branches))
        return false;
    for (const auto &branch : branches) {
        c.report.Row({Cell::Num(depth), Cell::Str(L"branch"),
                      Cell::Str(table ? std::wstring(2 * depth, L' ') + branch : branch), Cell::Null()});
        if (depth + 1 >= kMaxDepth) {
            c.report.Message(L"browse: not descending below " + branch + L" (" + std::to_wstring(kMaxDepth) +
                             L" levels)");
            continue;
        }
        if (FAILED(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, branch.c_str())))
            continue;  // listed but not enterable: show it without children
        if (!Walk(c, browser, depth + 1))
            return false;
        if (!c.CheckCall(L"IOPCHDA_Browser::ChangeBrowsePosition(UP)",
                         browser->ChangeBrowsePosition(OPCHDA_BROWSE_UP, L"")))
            return false;
    }
    if (!Enumerate(c, browser, OPCHDA_LEAF, leaves))
        return false;
    for (const auto &leaf : leaves) {
        LPWSTR id = nullptr;
        Cell idCell = SUCCEEDED(browser->GetItemID(leaf.c_str(), &id)) && id ? Cell::Str(id) : Cell::Null();
        CoTaskMemFree(id);
        c.report.Row({Cell::Num(depth), Cell::Str(L"leaf"),
                      Cell::Str(table ? std::wstring(2 * depth, L' ') + leaf : leaf), idCell});
    }
    return true;
}

}  // namespace

void RunStatus(Context &c)
{
    OPCHDA_SERVERSTATUS status = OPCHDA_INDETERMINATE;
    FILETIME *now = nullptr, *start = nullptr;
    WORD major = 0, minor = 0, build = 0;
    DWORD maxValues = 0;
    LPWSTR text = nullptr, vendor = nullptr;
    HRESULT hr = c.session.Server()->GetHistorianStatus(&status, &now, &start, &major, &minor, &build, &maxValues,
                                                        &text, &vendor);
    if (!c.CheckCall(L"GetHistorianStatus", hr))
        return;
    std::vector<Cell> interfaces;
    auto offer = [&](bool has, const wchar_t *name) {
        if (has)
            interfaces.push_back(Cell::Str(name));
    };
    offer(c.session.SyncRead(), L"IOPCHDA_SyncRead");
    offer(c.session.SyncUpdate(), L"IOPCHDA_SyncUpdate");
    offer(c.session.AsyncRead(), L"IOPCHDA_AsyncRead");
    offer(c.session.AsyncUpdate(), L"IOPCHDA_AsyncUpdate");
    offer(c.session.Common(), L"IOPCCommon");
    c.report.BeginSection(L"status",
                          {L"status", L"current_time", L"start_time", L"version", L"max_return_values",
                           L"status_string", L"vendor_info", L"interfaces"},
                          true);
    c.report.Row({Cell::Str(StatusName(status)), TimeCell(now), TimeCell(start),
                  Cell::Str(std::to_wstring(major) + L"." + std::to_wstring(minor) + L"." + std::to_wstring(build)),
                  Cell::Num(maxValues), TextCell(text), TextCell(vendor), Cell::List(interfaces)});
    c.report.EndSection();
    CoTaskMemFree(now);
    CoTaskMemFree(start);
    CoTaskMemFree(text);
    CoTaskMemFree(vendor);
}

void RunBrowse(Context &c)
{
    // Ref pointers may not be null, even for no filters.
    DWORD attribute = 0;
    OPCHDA_OPERATORCODES op = OPCHDA_EQUAL;
    Variant filter;
    ComPtr<IOPCHDA_Browser> browser;
    HRESULT *errors = nullptr;
    HRESULT hr = c.session.Server()->CreateBrowse(0, &attribute, &op, &filter.Get(), browser.Put(), &errors);
    if (SUCCEEDED(hr))
        CoTaskMemFree(errors);
    if (!c.CheckCall(L"CreateBrowse", hr))
        return;
    if (!browser) {
        c.CheckCall(L"CreateBrowse", E_POINTER);
        return;
    }
    if (!c.options.browseAt.empty() &&
        !c.CheckCall(L"moving to \"" + c.options.browseAt + L"\"",
                     browser->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, c.options.browseAt.c_str())))
        return;
    if (c.options.flat) {
        std::vector<std::wstring> ids;
        c.report.BeginSection(L"items", {L"item_id"});
        if (Enumerate(c, browser.Get(), OPCHDA_FLAT, ids))
            for (const auto &id : ids)
                c.report.Row({Cell::Str(id)});
        c.report.EndSection();
        return;
    }
    c.report.BeginSection(L"browse", {L"depth", L"type", L"name", L"item_id"});
    Walk(c, browser.Get(), 0);
    c.report.EndSection();
}

void RunAttributeList(Context &c)
{
    std::vector<Named> list;
    if (!c.CheckCall(L"GetItemAttributes", FetchAttributes(c.session.Server(), list)))
        return;
    c.report.BeginSection(L"attributes", {L"id", L"name", L"data_type", L"description"});
    for (const auto &a : list)
        c.report.Row({Cell::Num(a.id), Cell::Str(a.name), Cell::Str(VarTypeName(a.type)), Cell::Str(a.description)});
    c.report.EndSection();
}

void RunAggregateList(Context &c)
{
    std::vector<Named> list;
    if (!c.CheckCall(L"GetAggregates", FetchAggregates(c.session.Server(), list)))
        return;
    c.report.BeginSection(L"aggregates", {L"id", L"name", L"description"});
    for (const auto &a : list)
        c.report.Row({Cell::Num(a.id), Cell::Str(a.name), Cell::Str(a.description)});
    c.report.EndSection();
}

}  // namespace zqhda
