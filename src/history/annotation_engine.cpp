#include "history/annotation_engine.h"

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "history/read_limits.h"
#include "history/update_engine.h"
#include "runtime/civil_time.h"
#include "opchda_constants.h"
#include "runtime/server_state.h"
#include "runtime/task_memory.h"
#include "ZqHDAsvr.h"

namespace zq {

namespace {

// The host's annotation callbacks (plain callbacks of the host's settings);
// the engine and QueryInterface read them at every call.
std::atomic<ZQHDA_ReadAnnotationsProc> &ReadAnnotationsSetting()
{
    return State().settings.plain.readAnnotations;
}
std::atomic<ZQHDA_InsertAnnotationProc> &InsertAnnotationSetting()
{
    return State().settings.plain.insertAnnotation;
}

// What the host hands to the add function during one read callback. Only
// the thread running that callback touches it.
struct Collected
{
    struct Entry
    {
        FILETIME time;
        std::string text;
        FILETIME annotationTime;
        std::string user;
    };
    std::vector<Entry> entries;
    DWORD limit = 0;        // 0: none
    bool more = false;      // the host offered more than the limit
    bool noMemory = false;  // an entry could not be kept
};

// The add function given to the host: nothing escapes it, and nothing is
// kept once the limit is reached or memory ran out.
void __stdcall AddAnnotation(void *list, FILETIME time, const char *text,
                             FILETIME annotationTime, const char *user)
{
    Collected *c = static_cast<Collected *>(list);
    if (c == nullptr || c->noMemory)
        return;
    if (c->limit != 0 && c->entries.size() >= c->limit) {
        c->more = true;
        return;
    }
    try {
        c->entries.push_back(Collected::Entry{time, text != nullptr ? text : "", annotationTime,
                                              user != nullptr ? user : ""});
    } catch (const std::bad_alloc &) {
        c->noMemory = true;
    }
}

// The arrays of one annotation record until handed over.
struct AnnotationArrays
{
    TaskPtr<FILETIME> times;
    TaskPtr<LPWSTR> texts;
    TaskPtr<FILETIME> annotationTimes;
    TaskPtr<LPWSTR> users;
    size_t count = 0;

    ~AnnotationArrays()
    {
        for (size_t i = 0; i < count; ++i) {
            if (texts)
                TaskFree(texts[i]);
            if (users)
                TaskFree(users[i]);
        }
    }

    bool Fill(const std::vector<Collected::Entry> &entries)
    {
        const size_t n = entries.size();
        times.reset(ZeroedTaskArray<FILETIME>(n));
        texts.reset(ZeroedTaskArray<LPWSTR>(n));
        annotationTimes.reset(ZeroedTaskArray<FILETIME>(n));
        users.reset(ZeroedTaskArray<LPWSTR>(n));
        if (!times || !texts || !annotationTimes || !users)
            return false;
        count = n; // from here on the strings are freed with the arrays
        for (size_t i = 0; i < n; ++i) {
            times[i] = entries[i].time;
            annotationTimes[i] = entries[i].annotationTime;
            texts[i] = WideCopy(entries[i].text.c_str(), true);
            users[i] = WideCopy(entries[i].user.c_str(), true);
            if (texts[i] == nullptr || users[i] == nullptr)
                return false;
        }
        return true;
    }

    void HandTo(OPCHDA_ANNOTATION &record)
    {
        record.dwNumValues = static_cast<DWORD>(count);
        record.ftTimeStamps = times.release();
        record.szAnnotation = texts.release();
        record.ftAnnotationTime = annotationTimes.release();
        record.szUser = users.release();
        count = 0;
    }
};

} // namespace

bool AnnotationsOffered()
{
    return ReadAnnotationsSetting().load() != nullptr || InsertAnnotationSetting().load() != nullptr;
}

OPCHDA_ANNOTATIONCAPABILITIES AnnotationCapabilities()
{
    int caps = 0;
    if (ReadAnnotationsSetting().load() != nullptr)
        caps |= OPCHDA_READANNOTATIONCAP;
    if (InsertAnnotationSetting().load() != nullptr)
        caps |= OPCHDA_INSERTANNOTATIONCAP;
    return static_cast<OPCHDA_ANNOTATIONCAPABILITIES>(caps);
}

HRESULT RunReadAnnotations(void *item, OPCHDA_ANNOTATION &result, const FILETIME &start,
                           const FILETIME &end)
{
    ZQHDA_ReadAnnotationsProc fn = ReadAnnotationsSetting().load();
    if (fn == nullptr)
        return E_NOTIMPL;
    Collected collected;
    collected.limit = CurrentReadLimits().values;
    long hostResult = E_FAIL; // a callback that stores no result has failed
    fn(item, start, end, &collected, AddAnnotation, &hostResult);
    if (FAILED(hostResult))
        return hostResult;
    if (hostResult != S_OK)
        return OPC_S_NODATA;
    if (collected.noMemory)
        return E_OUTOFMEMORY;
    if (collected.entries.empty())
        return OPC_S_NODATA;
    AnnotationArrays arrays;
    if (!arrays.Fill(collected.entries))
        return E_OUTOFMEMORY;
    arrays.HandTo(result);
    return collected.more ? OPC_S_MOREDATA : S_OK;
}

namespace {

// The add function of a count: only the values stamped before the end count.
struct Counted
{
    uint64_t end = 0;
    long n = 0;
};

void __stdcall CountAnnotation(void *list, FILETIME time, const char *, FILETIME, const char *)
{
    Counted *c = static_cast<Counted *>(list);
    if (c != nullptr && TicksFromFileTime(time) < c->end)
        ++c->n;
}

} // namespace

long CountAnnotations(void *item, const FILETIME &start, const FILETIME &end)
{
    ZQHDA_ReadAnnotationsProc fn = ReadAnnotationsSetting().load();
    if (fn == nullptr)
        return -1;
    Counted counted;
    counted.end = TicksFromFileTime(end);
    long hostResult = E_FAIL;
    fn(item, start, end, &counted, CountAnnotation, &hostResult);
    return hostResult == S_OK ? counted.n : 0;
}

bool AnnotationsReadable() { return ReadAnnotationsSetting().load() != nullptr; }

HRESULT RunInsertAnnotations(const char *user, void *item, const FILETIME &time,
                             const OPCHDA_ANNOTATION &values, const FILETIME &annotationTime)
{
    ZQHDA_InsertAnnotationProc fn = InsertAnnotationSetting().load();
    if (fn == nullptr)
        return E_NOTIMPL;
    if (values.dwNumValues != 0 && values.szAnnotation == nullptr)
        return E_INVALIDARG;
    UserCopy name(user);
    for (DWORD i = 0; i < values.dwNumValues; ++i) {
        std::string text;
        if (!AnsiFromWide(values.szAnnotation[i], text))
            return E_INVALIDARG;
        long hostResult = E_FAIL;
        fn(name.text, item, time, &text[0], annotationTime, &hostResult);
        if (hostResult != S_OK)
            return FAILED(hostResult) ? hostResult : E_FAIL;
    }
    return S_OK;
}

void FreeAnnotationArrays(OPCHDA_ANNOTATION &annotation)
{
    for (DWORD i = 0; i < annotation.dwNumValues; ++i) {
        if (annotation.szAnnotation != nullptr)
            TaskFree(annotation.szAnnotation[i]);
        if (annotation.szUser != nullptr)
            TaskFree(annotation.szUser[i]);
    }
    TaskFreeAll(annotation.ftTimeStamps, annotation.szAnnotation, annotation.ftAnnotationTime,
                annotation.szUser);
    annotation.dwNumValues = 0;
}

} // namespace zq
