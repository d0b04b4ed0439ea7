#include "historian_callback.h"

#include <cstdint>
#include <cstdio>

namespace historian {

HistorianCallback::HistorianCallback(Store &store, Clock clock, Log log)
    : store_(store), clock_(std::move(clock)), log_(std::move(log))
{
}

Series *HistorianCallback::Lookup(void *handle) const
{
    auto it = items_.find(handle);
    return it == items_.end() ? nullptr : it->second;
}

int HistorianCallback::GetTimeStamps(void *hItem, FILETIME *start, FILETIME *end, int maxCount,
                                     FILETIME *times, ULONG_PTR *)
{
    Series *series = Lookup(hItem);
    if (series == nullptr)
        return 0;
    Ticks s = start != nullptr ? ToTicks(*start) : 0;
    Ticks e = end != nullptr ? ToTicks(*end) : 0;
    return series->TimeStamps(start != nullptr ? &s : nullptr, end != nullptr ? &e : nullptr,
                              maxCount, times);
}

long HistorianCallback::Neighbour(void *hItem, FILETIME time, FILETIME *stamp, bool next) const
{
    Series *series = Lookup(hItem);
    Ticks t;
    if (series == nullptr || stamp == nullptr ||
        !(next ? series->Next(ToTicks(time), &t) : series->Previous(ToTicks(time), &t)))
        return OPC_S_NODATA;
    *stamp = ToFileTime(t);
    return S_OK;
}

long HistorianCallback::GetPreviousTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                                             ULONG_PTR)
{
    return Neighbour(hItem, time, stamp, false);
}

long HistorianCallback::GetNextTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                                         ULONG_PTR)
{
    return Neighbour(hItem, time, stamp, true);
}

namespace {

// Times the calendar cannot hold (the top bit set) are refused for updates.
bool IsCalendarTime(const FILETIME &t) { return (t.dwHighDateTime & 0x80000000u) == 0; }

std::string UserName(const char *user) { return user != nullptr ? user : std::string(); }

// Hands a value to the library's VARIANT, releasing what it held.
HRESULT Deliver(const Value &from, VARIANT *to)
{
    VariantClear(to);
    return from.CopyTo(to);
}

} // namespace

long HistorianCallback::ReadAt(void *hItem, FILETIME time, VARIANT *value, unsigned long *quality,
                               ULONG_PTR)
{
    Series *series = Lookup(hItem);
    if (series == nullptr)
        return OPC_E_INVALIDHANDLE;
    if (value == nullptr || quality == nullptr)
        return E_INVALIDARG;
    Value v;
    DWORD q = 0;
    series->ValueAt(ToTicks(time), &v, &q);
    HRESULT hr = Deliver(v, value);
    if (FAILED(hr))
        return hr;
    *quality = q;
    return S_OK;
}

long HistorianCallback::ReadCurrentAttribute(void *hItem, unsigned long attributeId,
                                             FILETIME *stamp, VARIANT *value)
{
    Series *series = Lookup(hItem);
    if (series == nullptr)
        return OPC_E_INVALIDHANDLE;
    if (stamp == nullptr || value == nullptr)
        return E_INVALIDARG;
    Value v;
    Ticks t;
    if (!series->CurrentAttribute(attributeId, &t, &v))
        return OPC_E_INVALIDATTRID;
    HRESULT hr = Deliver(v, value);
    if (FAILED(hr))
        return hr;
    *stamp = ToFileTime(t);
    return S_OK;
}

long HistorianCallback::ReadAttributeAt(void *hItem, unsigned long attributeId, FILETIME time,
                                        VARIANT *value, ULONG_PTR)
{
    Series *series = Lookup(hItem);
    if (series == nullptr)
        return OPC_E_INVALIDHANDLE;
    if (value == nullptr)
        return E_INVALIDARG;
    Value v;
    if (!series->AttributeAt(attributeId, ToTicks(time), &v))
        return OPC_E_INVALIDATTRID;
    return Deliver(v, value);
}

long HistorianCallback::QueryUpdateCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities)
{
    if (capabilities == nullptr)
        return E_INVALIDARG;
    // None while the store refuses updates (its journal could not be used).
    *capabilities = static_cast<OPCHDA_UPDATECAPABILITIES>(
        store_.AcceptsUpdates() ? OPCHDA_INSERTCAP | OPCHDA_REPLACECAP | OPCHDA_INSERTREPLACECAP |
                                      OPCHDA_DELETERAWCAP | OPCHDA_DELETEATTIMECAP
                                : 0);
    return S_OK;
}

void HistorianCallback::Report(const char *what, const char *user, const Series &series,
                               long result) const
{
    if (!log_)
        return;
    char text[64];
    std::snprintf(text, sizeof text, " -> 0x%08lX", static_cast<unsigned long>(result));
    log_(std::string(what) + " " + series.Id() + " by " + (user != nullptr ? user : "?") + text);
}

long HistorianCallback::Update(Kind kind, const char *user, void *hItem, FILETIME time,
                               VARIANT *value, unsigned long quality)
{
    Series *series = Lookup(hItem);
    if (series == nullptr)
        return OPC_E_INVALIDHANDLE;
    if (value == nullptr || !IsCalendarTime(time))
        return E_INVALIDARG;
    long hr;
    const char *what;
    switch (kind) {
    case Kind::Insert:
        hr = store_.Insert(*series, ToTicks(time), *value, quality, UserName(user));
        what = "Insert";
        break;
    case Kind::Replace:
        hr = store_.Replace(*series, ToTicks(time), *value, quality, UserName(user));
        what = "Replace";
        break;
    default:
        hr = store_.InsertReplace(*series, ToTicks(time), *value, quality, UserName(user));
        what = "InsertReplace";
        break;
    }
    Report(what, user, *series, hr);
    return hr;
}

long HistorianCallback::Insert(char *user, void *hItem, FILETIME time, VARIANT *value,
                               unsigned long quality)
{
    return Update(Kind::Insert, user, hItem, time, value, quality);
}

long HistorianCallback::Replace(char *user, void *hItem, FILETIME time, VARIANT *value,
                                unsigned long quality)
{
    return Update(Kind::Replace, user, hItem, time, value, quality);
}

long HistorianCallback::InsertReplace(char *user, void *hItem, FILETIME time, VARIANT *value,
                                      unsigned long quality)
{
    return Update(Kind::InsertReplace, user, hItem, time, value, quality);
}

long HistorianCallback::DeleteRaw(char *user, void *hItem, OPCHDA_TIME *start, OPCHDA_TIME *end)
{
    Series *series = Lookup(hItem);
    if (series == nullptr)
        return OPC_E_INVALIDHANDLE;
    // The client's times as they came: resolved with the library's checked
    // resolver, both against one "now". A text it refuses (malformed, or an
    // offset beyond the calendar) deletes nothing.
    const FILETIME now = ToFileTime(clock_());
    FILETIME a, b;
    if (start == nullptr || end == nullptr || !HDAResolveTime(start, &now, &a) ||
        !HDAResolveTime(end, &now, &b))
        return E_INVALIDARG;
    long hr = store_.DeleteRange(*series, ToTicks(a), ToTicks(b), UserName(user));
    Report("DeleteRaw", user, *series, hr);
    return hr;
}

long HistorianCallback::DeleteAtTime(char *user, void *hItem, FILETIME time)
{
    Series *series = Lookup(hItem);
    if (series == nullptr)
        return OPC_E_INVALIDHANDLE;
    if (!IsCalendarTime(time))
        return E_INVALIDARG;
    long hr = store_.DeleteAt(*series, ToTicks(time), UserName(user));
    Report("DeleteAtTime", user, *series, hr);
    return hr;
}

long HistorianCallback::ReadModified(void *hItem, const FILETIME *start, const FILETIME *end,
                                     int maxValues, void *list,
                                     ZQHDA_AddModifiedValueProc add) const
{
    Series *series = Lookup(hItem);
    if (series == nullptr)
        return OPC_E_INVALIDHANDLE;
    if (add == nullptr || maxValues < 0)
        return E_INVALIDARG;
    Ticks s = start != nullptr ? ToTicks(*start) : 0;
    Ticks e = end != nullptr ? ToTicks(*end) : 0;
    // One more than the library keeps tells it that there are more.
    const size_t most = maxValues == 0 ? SIZE_MAX : static_cast<size_t>(maxValues) + 1;
    size_t given = 0;
    series->ReadEdits([&](const EditLog &edits) {
        edits.Modified(start != nullptr ? &s : nullptr, end != nullptr ? &e : nullptr,
                       [&](const Modification &m) {
                           // add copies the value; it does not change it.
                           add(list, ToFileTime(m.time), const_cast<VARIANT *>(&m.value.Get()),
                               m.quality, ToFileTime(m.modified), m.editType, m.user.c_str());
                           return ++given < most;
                       });
    });
    return S_OK;
}

long HistorianCallback::ReadAnnotations(void *hItem, FILETIME start, FILETIME end, void *list,
                                        ZQHDA_AddAnnotationProc add) const
{
    Series *series = Lookup(hItem);
    if (series == nullptr)
        return OPC_E_INVALIDHANDLE;
    if (add == nullptr)
        return E_INVALIDARG;
    series->ReadEdits([&](const EditLog &edits) {
        edits.Annotations(ToTicks(start), ToTicks(end), [&](const Annotation &a) {
            add(list, ToFileTime(a.time), a.text.c_str(), ToFileTime(a.made), a.user.c_str());
            return true;
        });
    });
    return S_OK;
}

long HistorianCallback::InsertAnnotation(const char *user, void *hItem, FILETIME time,
                                         const char *text, FILETIME annotationTime)
{
    Series *series = Lookup(hItem);
    if (series == nullptr)
        return OPC_E_INVALIDHANDLE;
    if (text == nullptr || !IsCalendarTime(time) || !IsCalendarTime(annotationTime))
        return E_INVALIDARG;
    long hr = store_.Annotate(*series, ToTicks(time), text, UserName(user), ToTicks(annotationTime));
    Report("InsertAnnotation", user, *series, hr);
    return hr;
}

namespace {

// The plain callbacks carry no object: they reach the one installed here,
// once, before the server starts (read-only afterwards).
HistorianCallback *g_extensions = nullptr;

void __stdcall ReadModifiedProc(void *hItem, FILETIME *start, FILETIME *end, int maxValues,
                                void *list, ZQHDA_AddModifiedValueProc add, long *result)
{
    *result = g_extensions->ReadModified(hItem, start, end, maxValues, list, add);
}

void __stdcall ReadAnnotationsProc(void *hItem, FILETIME start, FILETIME end, void *list,
                                   ZQHDA_AddAnnotationProc add, long *result)
{
    *result = g_extensions->ReadAnnotations(hItem, start, end, list, add);
}

void __stdcall InsertAnnotationProc(char *user, void *hItem, FILETIME time, char *text,
                                    FILETIME annotationTime, long *result)
{
    *result = g_extensions->InsertAnnotation(user, hItem, time, text, annotationTime);
}

} // namespace

void EnableHistorianExtensions(HistorianCallback *callback)
{
    g_extensions = callback;
    SetHDAQualityStyle(1);
    EnableReadModifiedCallback(ReadModifiedProc);
    EnableReadAnnotationsCallback(ReadAnnotationsProc);
    EnableInsertAnnotationCallback(InsertAnnotationProc);
}

} // namespace historian
