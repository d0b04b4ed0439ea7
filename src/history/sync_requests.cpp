#include "history/sync_requests.h"

#include "history/annotation_engine.h"
#include "history/checked_items.h"
#include "history/modified_engine.h"
#include "history/read_engine.h"
#include "history/update_engine.h"
#include "runtime/server_state.h"

namespace zq {

HRESULT ReadRawRequest(const HandleList &handles, const RawReadTimes &times, DWORD numValues,
                       BOOL bounds, DWORD count, const OPCHANDLE *servers, OPCHDA_ITEM **records,
                       HRESULT **errors, QualityWords words)
{
    CZqHDACallback *const host = Host();
    return ReadCheckedItems<ItemRecords>(
        handles, count, servers, records, errors, [&](DWORD, void *item, OPCHDA_ITEM &record) {
            return RunReadRaw(host, item, record, times.Start(), times.End(), numValues, bounds,
                              words);
        });
}

HRESULT ReadProcessedRequest(const HandleList &handles, const FILETIME &start,
                             const FILETIME &end, uint64_t interval, DWORD count,
                             const OPCHANDLE *servers, const DWORD *aggregates,
                             OPCHDA_ITEM **records, HRESULT **errors, QualityWords words,
                             const AggregateConfig *config)
{
    CZqHDACallback *const host = Host();
    return ReadCheckedItems<ItemRecords>(
        handles, count, servers, records, errors, [&](DWORD i, void *item, OPCHDA_ITEM &record) {
            return RunReadProcessed(host, item, record, aggregates[i], start, end, interval,
                                    words, config);
        });
}

HRESULT ReadAtTimeRequest(const HandleList &handles, DWORD numTimes, const FILETIME *times,
                          DWORD count, const OPCHANDLE *servers, OPCHDA_ITEM **records,
                          HRESULT **errors, QualityWords words)
{
    CZqHDACallback *const host = Host();
    return ReadCheckedItems<ItemRecords>(
        handles, count, servers, records, errors, [&](DWORD, void *item, OPCHDA_ITEM &record) {
            return RunReadAtTime(host, item, record, numTimes, times, words);
        });
}

HRESULT ReadModifiedRequest(const HandleList &handles, const RawReadTimes &times,
                            DWORD numValues, DWORD count, const OPCHANDLE *servers,
                            OPCHDA_MODIFIEDITEM **records, HRESULT **errors)
{
    return ReadCheckedItems<ModifiedRecords>(
        handles, count, servers, records, errors,
        [&](DWORD, void *item, OPCHDA_MODIFIEDITEM &record) {
            return RunReadModified(item, record, times.Start(), times.End(), numValues);
        });
}

HRESULT ReadAttributeRequest(const AttributeReadTimes &checked, DWORD count,
                             const DWORD *attributeIds, OPCHDA_ATTRIBUTE **records,
                             HRESULT **errors)
{
    AttributeRecords results;
    if (!results.Allocate(count))
        return E_OUTOFMEMORY;
    CZqHDACallback *const host = Host();
    for (DWORD i = 0; i < count; ++i) {
        results[i].hClient = checked.client;
        results.Code(i) = results.Admit(i, RunReadAttribute(host, checked.item, attributeIds[i],
                                                            results[i], checked.start,
                                                            checked.End()));
    }
    HRESULT overall = results.OverallRead();
    results.HandTo(records, errors);
    return overall;
}

HRESULT ReadAnnotationsRequest(const HandleList &handles, const FILETIME &start,
                               const FILETIME &end, DWORD count, const OPCHANDLE *servers,
                               OPCHDA_ANNOTATION **records, HRESULT **errors)
{
    return ReadCheckedItems<AnnotationRecords>(
        handles, count, servers, records, errors,
        [&](DWORD, void *item, OPCHDA_ANNOTATION &record) {
            return RunReadAnnotations(item, record, start, end);
        });
}

HRESULT UpdateValuesRequest(const HandleList &handles, ValueEdit edit, DWORD count,
                            const OPCHANDLE *servers, const FILETIME *times, VARIANT *values,
                            const DWORD *qualities, HRESULT **errors)
{
    using Run = HRESULT (*)(CZqHDACallback *, const char *, void *, const FILETIME &, VARIANT *,
                            DWORD);
    const Run run = edit == ValueEdit::Insert    ? RunInsert
                    : edit == ValueEdit::Replace ? RunReplace
                                                 : RunInsertReplace;
    CZqHDACallback *const host = Host();
    return UpdateCheckedItems(handles, count, servers, errors,
                              [&](DWORD i, const char *user, void *item) {
                                  return run(host, user, item, times[i], &values[i],
                                             qualities[i]);
                              });
}

HRESULT DeleteRawRequest(const HandleList &handles, OPCHDA_TIME *start, OPCHDA_TIME *end,
                         DWORD count, const OPCHANDLE *servers, HRESULT **errors)
{
    CZqHDACallback *const host = Host();
    return UpdateCheckedItems(handles, count, servers, errors,
                              [&](DWORD, const char *user, void *item) {
                                  return RunDeleteRaw(host, user, item, start, end);
                              });
}

HRESULT DeleteAtTimeRequest(const HandleList &handles, DWORD count, const OPCHANDLE *servers,
                            const FILETIME *times, HRESULT **errors)
{
    CZqHDACallback *const host = Host();
    return UpdateCheckedItems(handles, count, servers, errors,
                              [&](DWORD i, const char *user, void *item) {
                                  return RunDeleteAtTime(host, user, item, times[i]);
                              });
}

HRESULT InsertAnnotationsRequest(const HandleList &handles, DWORD count,
                                 const OPCHANDLE *servers, const FILETIME *times,
                                 const OPCHDA_ANNOTATION *annotations,
                                 const FILETIME &annotationTime, HRESULT **errors)
{
    return UpdateCheckedItems(handles, count, servers, errors,
                              [&](DWORD i, const char *user, void *item) {
                                  return RunInsertAnnotations(user, item, times[i],
                                                              annotations[i], annotationTime);
                              });
}

} // namespace zq
