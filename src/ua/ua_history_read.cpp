// Raw, modified and at-time history reads of the endpoint.
#include <algorithm>

#include "history/read_limits.h"
#include "history/result_records.h"
#include "history/sync_requests.h"
#include "ua/ua_continuation.h"
#include "ua/ua_convert.h"
#include "ua/ua_history.h"
#include "ua/ua_read_common.h"
#include "ua/ua_session.h"

namespace zq {

namespace {

int64_t Ticks(const FILETIME &t) { return static_cast<int64_t>(UaTime(t)); }

// One page of a raw or modified read of one node: the time rules of
// ReadRawModifiedDetails, the host's limit, where the page starts.
struct RawPage
{
    RawReadTimes times;
    DWORD numValues = 0;
    bool backwards = false;
    bool resumed = false;
    Resume resume;
    // A read with one time ends after its value count: what this page may
    // return (the rest of the count), 0 for a read with both times.
    uint64_t allowed = 0;
    uint64_t want = 0; // values this page returns at most
};

// A UA time of 0 is "not given". Both absent, or only one without a value
// count, is BadInvalidTimestampArgument. A value count above the host's
// limit is refused, as for COM clients; below it, one page reads at most
// kUaPageValues values (the rest on later pages).
UA_StatusCode PlanPage(const UA_ReadRawModifiedDetails &d, const UA_ByteString &point,
                       PageKind kind, RawPage *page)
{
    const bool hasStart = d.startTime != 0;
    const bool hasEnd = d.endTime != 0;
    if (!hasStart && !hasEnd)
        return UA_STATUSCODE_BADINVALIDTIMESTAMPARGUMENT;
    if ((!hasStart || !hasEnd) && d.numValuesPerNode == 0)
        return UA_STATUSCODE_BADINVALIDTIMESTAMPARGUMENT;
    if (d.startTime < 0 || d.endTime < 0)
        return UA_STATUSCODE_BADINVALIDTIMESTAMPARGUMENT;
    const ReadLimits limits = CurrentReadLimits();
    if (Exceeds(d.numValuesPerNode, limits.hostValues))
        return UaStatusOfResult(OPC_E_MAXEXCEEDED);
    page->backwards = !hasStart || (hasEnd && d.startTime > d.endTime);
    if (point.length != 0) {
        UA_StatusCode status = ParseContinuation(point, kind, &page->resume);
        if (status != UA_STATUSCODE_GOOD)
            return status;
        // The place must lie in the requested range: between the times, or
        // on the read's side of its one time (after the start, before the end).
        const int64_t from = page->resume.from;
        bool outside;
        if (hasStart && hasEnd)
            outside = page->backwards ? from > d.startTime || from < d.endTime
                                      : from < d.startTime || from > d.endTime;
        else
            outside = hasStart ? from < d.startTime : from > d.endTime;
        if (outside)
            return UA_STATUSCODE_BADCONTINUATIONPOINTINVALID;
        page->resumed = true;
    }
    page->times.hasStart = hasStart;
    page->times.hasEnd = hasEnd;
    page->times.start = FileTimeOfUa(d.startTime);
    page->times.end = FileTimeOfUa(d.endTime);
    if (page->resumed) {
        // The page reads on from where the last one ended: the start moves,
        // or the end of a read that has only an end.
        (hasStart ? page->times.start : page->times.end) = FileTimeOfUa(page->resume.from);
    }
    if (!hasStart || !hasEnd) {
        page->allowed = page->resumed ? page->resume.left : d.numValuesPerNode;
        if (page->allowed == 0 || page->allowed > d.numValuesPerNode)
            return UA_STATUSCODE_BADCONTINUATIONPOINTINVALID;
    }
    uint64_t want = d.numValuesPerNode == 0 ? kUaPageValues
                                            : std::min<uint64_t>(d.numValuesPerNode, kUaPageValues);
    if (page->allowed != 0)
        want = std::min<uint64_t>(want, page->allowed);
    page->want = want;
    // Room for what is left out again: the values already returned at the
    // place, and a bound before it.
    want += (page->resumed ? page->resume.skip : 0) + (d.returnBounds ? 1 : 0);
    if (limits.hostValues != 0)
        want = std::min<uint64_t>(want, limits.hostValues);
    page->numValues = static_cast<DWORD>(std::min<uint64_t>(want, limits.values));
    return UA_STATUSCODE_GOOD;
}

// Whether a page ends the read. With both times the engine says so
// (OPC_S_MOREDATA: the host has more in the range); a read with one time
// goes on while its count is not reached and the page came full.
bool PageLeavesMore(const RawPage &page, HRESULT code, size_t kept)
{
    if (page.allowed == 0)
        return code == OPC_S_MOREDATA;
    return kept < page.allowed && kept >= page.want;
}

// The result's continuation point after a page cut short: the place after
// its last value. A page that kept nothing although the host has more made
// no progress (more values at one time than the limit allows): refused.
UA_StatusCode Continue(PageKind kind, const RawPage &page, size_t kept, int64_t last,
                       uint32_t sameAtLast, UA_HistoryReadResult &result)
{
    if (kept == 0)
        return UaStatusOfResult(OPC_E_MAXEXCEEDED);
    Resume next = NextPlace(page.resumed ? &page.resume : nullptr, last, sameAtLast);
    if (page.allowed != 0)
        next.left = static_cast<uint32_t>(page.allowed - kept);
    return MakeContinuation(kind, next, &result.continuationPoint);
}

// Counts the values a page keeps, and where the last of them is.
template <typename Record> struct Kept
{
    size_t count = 0;
    int64_t last = 0;
    uint32_t sameAtLast = 0;
    std::vector<size_t> index;

    void Collect(const Record &r, const RawPage &page)
    {
        PageFilter filter(page.resumed ? &page.resume : nullptr, page.backwards);
        index.reserve(r.dwCount);
        for (DWORD i = 0; i < r.dwCount; ++i) {
            const int64_t t = Ticks(r.pftTimeStamps[i]);
            if (!filter.Keep(t))
                continue;
            index.push_back(i);
            sameAtLast = count != 0 && t == last ? sameAtLast + 1 : 1;
            last = t;
            ++count;
        }
    }
};

UA_StatusCode ReadRawNode(void *sessionContext, const UA_HistoryReadValueId &node,
                          const UA_ReadRawModifiedDetails &d, UA_TimestampsToReturn timestamps,
                          UA_HistoryReadResult &result, UA_HistoryData &data)
{
    RawPage page;
    UA_StatusCode status = PlanPage(d, node.continuationPoint, PageKind::Raw, &page);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    UaRequestItems items(sessionContext);
    items.Add(node.nodeId);
    OPCHDA_ITEM *records = nullptr;
    HRESULT *codes = nullptr;
    ItemRecords owned;
    HRESULT code = S_OK;
    status = AdoptOneNode(ReadRawRequest(items.Handles(), page.times, page.numValues,
                                         d.returnBounds, 1, items.Servers(), &records, &codes,
                                         UaQualityWords()),
                          &records, &codes, owned, &code);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    const OPCHDA_ITEM &r = owned[0];
    Kept<OPCHDA_ITEM> kept;
    kept.Collect(r, page);
    if (!AllocateDataValues(&data, kept.count))
        return UA_STATUSCODE_BADOUTOFMEMORY;
    for (size_t k = 0; k < kept.count; ++k) {
        const size_t i = kept.index[k];
        FillDataValue(r.pftTimeStamps[i], r.pvDataValues[i], r.pdwQualities[i], timestamps,
                      &data.dataValues[k]);
    }
    if (PageLeavesMore(page, code, kept.count))
        return Continue(PageKind::Raw, page, kept.count, kept.last, kept.sameAtLast, result);
    return kept.count == 0 ? UA_STATUSCODE_GOODNODATA : UA_STATUSCODE_GOOD;
}

UA_StatusCode ReadModifiedNode(void *sessionContext, const UA_HistoryReadValueId &node,
                               const UA_ReadRawModifiedDetails &d,
                               UA_TimestampsToReturn timestamps, UA_HistoryReadResult &result,
                               UA_HistoryModifiedData &data)
{
    // Modified values have no bounds.
    if (d.returnBounds)
        return UA_STATUSCODE_BADHISTORYOPERATIONINVALID;
    RawPage page;
    UA_StatusCode status = PlanPage(d, node.continuationPoint, PageKind::Modified, &page);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    UaRequestItems items(sessionContext);
    items.Add(node.nodeId);
    OPCHDA_MODIFIEDITEM *records = nullptr;
    HRESULT *codes = nullptr;
    ModifiedRecords owned;
    HRESULT code = S_OK;
    status = AdoptOneNode(ReadModifiedRequest(items.Handles(), page.times, page.numValues, 1,
                                              items.Servers(), &records, &codes),
                          &records, &codes, owned, &code);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    const OPCHDA_MODIFIEDITEM &r = owned[0];
    Kept<OPCHDA_MODIFIEDITEM> kept;
    kept.Collect(r, page);
    data.dataValuesSize = data.modificationInfosSize = 0;
    if (kept.count != 0) {
        data.dataValues = static_cast<UA_DataValue *>(
            UA_Array_new(kept.count, &UA_TYPES[UA_TYPES_DATAVALUE]));
        data.modificationInfos = static_cast<UA_ModificationInfo *>(
            UA_Array_new(kept.count, &UA_TYPES[UA_TYPES_MODIFICATIONINFO]));
        if (data.dataValues == nullptr || data.modificationInfos == nullptr)
            return UA_STATUSCODE_BADOUTOFMEMORY; // the response frees what came
        data.dataValuesSize = data.modificationInfosSize = kept.count;
    }
    for (size_t k = 0; k < kept.count; ++k) {
        const size_t i = kept.index[k];
        FillDataValue(r.pftTimeStamps[i], r.pvDataValues[i], r.pdwQualities[i], timestamps,
                      &data.dataValues[k]);
        UA_ModificationInfo &info = data.modificationInfos[k];
        info.modificationTime = UaTime(r.pftModificationTime[i]);
        // The edit types are numbered alike (insert 1 .. delete 4).
        info.updateType = static_cast<UA_HistoryUpdateType>(r.pEditType[i]);
        std::string user;
        if (r.szUser[i] != nullptr && AnsiFromWide(r.szUser[i], user)) {
            const std::string utf8 = Utf8FromAnsi(user);
            UA_String text;
            text.length = utf8.size();
            text.data = reinterpret_cast<UA_Byte *>(const_cast<char *>(utf8.data()));
            UA_String_copy(&text, &info.userName);
        }
    }
    if (PageLeavesMore(page, code, kept.count))
        return Continue(PageKind::Modified, page, kept.count, kept.last, kept.sameAtLast,
                        result);
    return kept.count == 0 ? UA_STATUSCODE_GOODNODATA : UA_STATUSCODE_GOOD;
}

// Runs one node's read and sets its result; nothing escapes.
template <typename Run> void EachNode(UA_HistoryReadResponse *response, size_t count, Run &&run)
{
    for (size_t i = 0; i < count && i < response->resultsSize; ++i) {
        UA_HistoryReadResult &result = response->results[i];
        try {
            result.statusCode = run(i, result);
        } catch (...) {
            result.statusCode = UA_STATUSCODE_BADOUTOFMEMORY;
        }
    }
}

} // namespace

void UaReadRaw(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
               const UA_RequestHeader *, const UA_ReadRawModifiedDetails *details,
               UA_TimestampsToReturn timestamps, UA_Boolean release, size_t count,
               const UA_HistoryReadValueId *nodes, UA_HistoryReadResponse *response,
               UA_HistoryData *const *const data)
{
    if (!ReadGoesOn(timestamps, release, response))
        return;
    EachNode(response, count, [&](size_t i, UA_HistoryReadResult &result) {
        return ReadRawNode(sessionContext, nodes[i], *details, timestamps, result, *data[i]);
    });
}

void UaReadModified(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                    const UA_RequestHeader *, const UA_ReadRawModifiedDetails *details,
                    UA_TimestampsToReturn timestamps, UA_Boolean release, size_t count,
                    const UA_HistoryReadValueId *nodes, UA_HistoryReadResponse *response,
                    UA_HistoryModifiedData *const *const data)
{
    if (!ReadGoesOn(timestamps, release, response))
        return;
    EachNode(response, count, [&](size_t i, UA_HistoryReadResult &result) {
        return ReadModifiedNode(sessionContext, nodes[i], *details, timestamps, result, *data[i]);
    });
}

void UaReadAtTime(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                  const UA_RequestHeader *, const UA_ReadAtTimeDetails *details,
                  UA_TimestampsToReturn timestamps, UA_Boolean release, size_t count,
                  const UA_HistoryReadValueId *nodes, UA_HistoryReadResponse *response,
                  UA_HistoryData *const *const data)
{
    if (!ReadGoesOn(timestamps, release, response))
        return;
    try {
        // One request for every node: the times are the same for each, and
        // the reply's bound counts them together.
        const size_t n = details->reqTimesSize;
        if (n == 0 || n > MAXDWORD) {
            SetAllResults(response, UA_STATUSCODE_BADINVALIDARGUMENT);
            return;
        }
        std::vector<FILETIME> times(n);
        for (size_t k = 0; k < n; ++k) {
            if (details->reqTimes[k] < 0) {
                SetAllResults(response, UA_STATUSCODE_BADINVALIDTIMESTAMPARGUMENT);
                return;
            }
            times[k] = FileTimeOfUa(details->reqTimes[k]);
        }
        UaRequestItems items(sessionContext);
        for (size_t i = 0; i < count; ++i)
            items.Add(nodes[i].nodeId);
        OPCHDA_ITEM *records = nullptr;
        HRESULT *codes = nullptr;
        if (FAILED(ReadAtTimeRequest(items.Handles(), static_cast<DWORD>(n), times.data(),
                                     items.Count(), items.Servers(), &records, &codes,
                                     UaQualityWords()))) {
            SetAllResults(response, UA_STATUSCODE_BADOUTOFMEMORY);
            return;
        }
        ItemRecords owned;
        owned.Adopt(records, codes, items.Count());
        EachNode(response, count, [&](size_t i, UA_HistoryReadResult &) {
            const DWORD at = static_cast<DWORD>(i);
            if (FAILED(owned.Code(at)))
                return UaStatusOfResult(owned.Code(at));
            const OPCHDA_ITEM &r = owned[at];
            if (!AllocateDataValues(data[i], r.dwCount))
                return static_cast<UA_StatusCode>(UA_STATUSCODE_BADOUTOFMEMORY);
            for (DWORD k = 0; k < r.dwCount; ++k)
                FillDataValue(r.pftTimeStamps[k], r.pvDataValues[k], r.pdwQualities[k],
                              timestamps, &data[i]->dataValues[k]);
            return UaStatusOfResult(owned.Code(at));
        });
    } catch (...) {
        SetAllResults(response, UA_STATUSCODE_BADOUTOFMEMORY);
    }
}

} // namespace zq
