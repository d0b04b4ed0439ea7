// read modified (IOPCHDA_SyncRead::ReadModified) and annotations read|insert
// (IOPCHDA_SyncAnnotations): the edit history and the notes of a server that
// offers them.
#include "commands.h"

namespace zqhda {

namespace {

std::wstring Text(LPWSTR *texts, DWORD i)
{
    return texts && texts[i] ? std::wstring(texts[i]) : std::wstring();
}

FILETIME TimeAt(const FILETIME *times, DWORD i)
{
    return times ? times[i] : FILETIME{};
}

// A time column: null where the server did not give the array.
Cell TimeCell(const FILETIME *times, DWORD i)
{
    return times ? Cell::Str(FormatIsoTime(times[i])) : Cell::Null();
}

}  // namespace

std::wstring EditTypeName(DWORD type)
{
    switch (type) {
    case OPCHDA_INSERT: return L"Insert";
    case OPCHDA_REPLACE: return L"Replace";
    case OPCHDA_INSERTREPLACE: return L"InsertReplace";
    case OPCHDA_DELETE: return L"Delete";
    }
    return L"Edit " + std::to_wstring(type);
}

void RunReadModified(Context &c)
{
    const Options &o = c.options;
    IOPCHDA_SyncRead *read = c.session.SyncRead();
    if (!read) {
        c.Fail(L"the server does not offer IOPCHDA_SyncRead");
        return;
    }
    std::vector<Item> entries = c.Handles(o.items);
    if (entries.empty())
        return;
    std::vector<OPCHANDLE> handles = ServerHandles(entries);
    const DWORD n = static_cast<DWORD>(handles.size());
    HdaTime start(o.start), end(o.end);
    OPCHDA_MODIFIEDITEM *items = nullptr;
    HRESULT *errors = nullptr;
    HRESULT hr = read->ReadModified(&start.Get(), &end.Get(), o.maxValues, n, handles.data(), &items, &errors);
    if (!c.CheckCall(L"ReadModified", hr))
        return;
    std::vector<std::wstring> columns{L"item"};
    for (auto &name : SampleColumns())
        columns.push_back(name);
    for (const wchar_t *name : {L"modified", L"edit", L"user"})
        columns.push_back(name);
    c.report.BeginSection(L"modified", columns);
    for (DWORD i = 0; items && i < n; ++i) {
        const OPCHDA_MODIFIEDITEM &m = items[i];
        for (DWORD k = 0; k < m.dwCount; ++k) {
            Sample s;
            s.time = TimeAt(m.pftTimeStamps, k);
            s.quality = m.pdwQualities ? m.pdwQualities[k] : 0;
            if (m.pvDataValues)
                s.value = Variant::CopyOf(m.pvDataValues[k]);
            std::vector<Cell> row{Cell::Str(entries[i].id)};
            for (auto &cell : SampleCells(s))
                row.push_back(std::move(cell));
            row.push_back(TimeCell(m.pftModificationTime, k));
            row.push_back(m.pEditType ? Cell::Str(EditTypeName(m.pEditType[k])) : Cell::Null());
            row.push_back(m.szUser ? Cell::Str(Text(m.szUser, k)) : Cell::Null());
            c.report.Row(std::move(row));
        }
    }
    c.report.EndSection();
    for (DWORD i = 0; i < n; ++i)
        c.ItemStatus(entries[i].id, errors ? errors[i] : S_OK);
    FreeModifiedItems(items, n);
    CoTaskMemFree(errors);
}

void RunAnnotations(Context &c)
{
    const Options &o = c.options;
    ComPtr<IOPCHDA_SyncAnnotations> notes;
    if (FAILED(notes.QueryFrom(c.session.Server()))) {
        c.Fail(L"the server does not offer IOPCHDA_SyncAnnotations");
        return;
    }
    FILETIME at{};
    std::wstring error;
    if (o.command == Command::AnnotationsInsert && !AbsoluteTime(o.times.front(), at, error)) {
        c.Fail(L"--time: " + error);
        return;
    }
    std::vector<Item> entries = c.Handles(o.items);
    if (entries.empty())
        return;
    std::vector<OPCHANDLE> handles = ServerHandles(entries);
    const DWORD n = static_cast<DWORD>(handles.size());
    HRESULT *errors = nullptr;

    if (o.command == Command::AnnotationsInsert) {
        // Every item gets every text at the one time stamp; the server
        // stamps when and by whom.
        const DWORD count = static_cast<DWORD>(o.texts.size());
        std::vector<FILETIME> stamps(count, at), made(count, FILETIME{});
        std::vector<LPWSTR> texts, users(count, const_cast<LPWSTR>(L""));
        for (const auto &t : o.texts)
            texts.push_back(const_cast<LPWSTR>(t.c_str()));
        std::vector<FILETIME> times(n, at);
        std::vector<OPCHDA_ANNOTATION> values(n);
        for (DWORD i = 0; i < n; ++i)
            values[i] = OPCHDA_ANNOTATION{entries[i].client, count, stamps.data(), texts.data(), made.data(),
                                          users.data()};
        HRESULT hr = notes->Insert(n, handles.data(), times.data(), values.data(), &errors);
        if (c.CheckCall(L"IOPCHDA_SyncAnnotations::Insert", hr)) {
            std::vector<Cell> list;
            for (const auto &t : o.texts)
                list.push_back(Cell::Str(t));
            c.report.BeginSection(L"results",
                                  {L"item", L"time", L"annotation", L"result", L"result_name", L"result_text"});
            for (DWORD i = 0; i < n; ++i) {
                HRESULT code = errors ? errors[i] : S_OK;
                c.report.Row({Cell::Str(entries[i].id), Cell::Str(FormatIsoTime(at)),
                              count == 1 ? list.front() : Cell::List(list), Cell::Str(Hex32(static_cast<DWORD>(code))),
                              Cell::Str(CodeName(code)), Cell::Str(code == S_OK ? L"" : c.session.ErrorText(code))});
            }
            c.report.EndSection();
            for (DWORD i = 0; i < n; ++i)
                if (errors && FAILED(errors[i]))
                    c.ItemStatus(entries[i].id, errors[i]);
        }
        CoTaskMemFree(errors);
        return;
    }

    HdaTime start(o.start), end(o.end);
    OPCHDA_ANNOTATION *values = nullptr;
    HRESULT hr = notes->Read(&start.Get(), &end.Get(), n, handles.data(), &values, &errors);
    if (!c.CheckCall(L"IOPCHDA_SyncAnnotations::Read", hr))
        return;
    c.report.BeginSection(L"annotations", {L"item", L"time", L"annotation", L"annotated", L"user"});
    for (DWORD i = 0; values && i < n; ++i) {
        const OPCHDA_ANNOTATION &a = values[i];
        for (DWORD k = 0; k < a.dwNumValues; ++k)
            c.report.Row({Cell::Str(entries[i].id), TimeCell(a.ftTimeStamps, k), Cell::Str(Text(a.szAnnotation, k)),
                          TimeCell(a.ftAnnotationTime, k), Cell::Str(Text(a.szUser, k))});
    }
    c.report.EndSection();
    for (DWORD i = 0; i < n; ++i)
        c.ItemStatus(entries[i].id, errors ? errors[i] : S_OK);
    FreeAnnotations(values, n);
    CoTaskMemFree(errors);
}

}  // namespace zqhda
