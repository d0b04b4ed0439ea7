// Processed history reads of the endpoint: UA aggregates as the library's
// (or the host's) aggregate IDs, read interval by interval in pages.
#include <cmath>

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

// How a value of the OPC HDA aggregate becomes the UA aggregate's.
enum class Unit
{
    Same,
    SecondsToMs, // OPC HDA durations are seconds, OPC UA's milliseconds
    Quality,     // a quality word, as a StatusCode
};

struct UaAggregate
{
    UA_UInt32 id; // in namespace 0
    DWORD hda;
    Unit unit;
};

constexpr UaAggregate kAggregates[] = {
    {UA_NS0ID_AGGREGATEFUNCTION_INTERPOLATIVE, OPCHDA_INTERPOLATIVE, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_AVERAGE, OPCHDA_AVERAGE, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_TIMEAVERAGE, OPCHDA_TIMEAVERAGE, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_TIMEAVERAGE2, 0x80000001, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_TOTAL, OPCHDA_TOTAL, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_TOTAL2, 0x80000002, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_MINIMUM, OPCHDA_MINIMUM, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_MAXIMUM, OPCHDA_MAXIMUM, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_MINIMUMACTUALTIME, OPCHDA_MINIMUMACTUALTIME, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_MAXIMUMACTUALTIME, OPCHDA_MAXIMUMACTUALTIME, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_RANGE, OPCHDA_RANGE, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_MINIMUM2, 0x80000003, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_MAXIMUM2, 0x80000004, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_MINIMUMACTUALTIME2, 0x80000005, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_MAXIMUMACTUALTIME2, 0x80000006, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_RANGE2, 0x80000007, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_ANNOTATIONCOUNT, OPCHDA_ANNOTATIONS, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_COUNT, OPCHDA_COUNT, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_DURATIONINSTATEZERO, 0x8000000A, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_DURATIONINSTATENONZERO, 0x8000000B, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_NUMBEROFTRANSITIONS, 0x80000009, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_START, OPCHDA_START, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_END, OPCHDA_END, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_DELTA, OPCHDA_DELTA, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_STARTBOUND, 0x8000000C, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_ENDBOUND, 0x8000000D, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_DELTABOUNDS, 0x8000000E, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_DURATIONGOOD, OPCHDA_DURATIONGOOD, Unit::SecondsToMs},
    {UA_NS0ID_AGGREGATEFUNCTION_DURATIONBAD, OPCHDA_DURATIONBAD, Unit::SecondsToMs},
    {UA_NS0ID_AGGREGATEFUNCTION_PERCENTGOOD, OPCHDA_PERCENTGOOD, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_PERCENTBAD, OPCHDA_PERCENTBAD, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_WORSTQUALITY, OPCHDA_WORSTQUALITY, Unit::Quality},
    {UA_NS0ID_AGGREGATEFUNCTION_WORSTQUALITY2, 0x80000008, Unit::Quality},
    {UA_NS0ID_AGGREGATEFUNCTION_STANDARDDEVIATIONSAMPLE, OPCHDA_STDEV, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_STANDARDDEVIATIONPOPULATION, 0x8000000F, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_VARIANCESAMPLE, OPCHDA_VARIANCE, Unit::Same},
    {UA_NS0ID_AGGREGATEFUNCTION_VARIANCEPOPULATION, 0x80000010, Unit::Same},
};

// The aggregate a node names: a standard one of namespace 0, or the host's
// own by its ID (namespace 1, numeric). False for anything else.
bool AggregateOf(const UA_NodeId &node, DWORD *hda, Unit *unit)
{
    if (node.identifierType != UA_NODEIDTYPE_NUMERIC)
        return false;
    if (node.namespaceIndex == kItemNamespace) {
        *hda = node.identifier.numeric;
        *unit = Unit::Same;
        return true;
    }
    if (node.namespaceIndex != 0)
        return false;
    for (const UaAggregate &a : kAggregates) {
        if (a.id == node.identifier.numeric) {
            *hda = a.hda;
            *unit = a.unit;
            return true;
        }
    }
    return false;
}

void ApplyUnit(Unit unit, UA_DataValue &v)
{
    if (!v.hasValue || !UA_Variant_isScalar(&v.value))
        return;
    if (unit == Unit::SecondsToMs && v.value.type == &UA_TYPES[UA_TYPES_DOUBLE]) {
        *static_cast<UA_Double *>(v.value.data) *= 1000.0;
    } else if (unit == Unit::Quality) {
        UA_UInt32 word = 0;
        if (v.value.type == &UA_TYPES[UA_TYPES_INT32])
            word = static_cast<UA_UInt32>(*static_cast<UA_Int32 *>(v.value.data));
        else if (v.value.type == &UA_TYPES[UA_TYPES_UINT32])
            word = *static_cast<UA_UInt32 *>(v.value.data);
        else
            return;
        UA_StatusCode status = UaStatusOfQuality(word);
        UA_Variant_clear(&v.value);
        UA_Variant_setScalarCopy(&v.value, &status, &UA_TYPES[UA_TYPES_STATUSCODE]);
    }
}

// The request's aggregate configuration: null for the server's.
UA_StatusCode ConfigOf(const UA_AggregateConfiguration &c, AggregateConfig *out, bool *own)
{
    *own = !c.useServerCapabilitiesDefaults;
    if (!*own)
        return UA_STATUSCODE_GOOD;
    if (c.percentDataBad > 100 || c.percentDataGood > 100)
        return UA_STATUSCODE_BADAGGREGATECONFIGURATIONREJECTED;
    out->treatUncertainAsBad = c.treatUncertainAsBad;
    out->percentDataBad = c.percentDataBad;
    out->percentDataGood = c.percentDataGood;
    out->useSlopedExtrapolation = c.useSlopedExtrapolation;
    return UA_STATUSCODE_GOOD;
}

struct ProcessedRequest
{
    int64_t start = 0;
    int64_t end = 0;
    uint64_t interval = 0; // ticks; 0: one interval
    AggregateConfig config;
    bool ownConfig = false;
};

UA_StatusCode ReadProcessedNode(void *sessionContext, const UA_HistoryReadValueId &node,
                                const UA_NodeId &aggregateNode, const ProcessedRequest &q,
                                UA_TimestampsToReturn timestamps, UA_HistoryReadResult &result,
                                UA_HistoryData &data)
{
    DWORD aggregate = 0;
    Unit unit = Unit::Same;
    if (!AggregateOf(aggregateNode, &aggregate, &unit))
        return UA_STATUSCODE_BADAGGREGATENOTSUPPORTED;
    const bool backwards = q.start > q.end;
    const uint64_t span = backwards ? static_cast<uint64_t>(q.start - q.end)
                                    : static_cast<uint64_t>(q.end - q.start);
    // Intervals in all (a shorter trailing one included), checked against
    // the limits before anything is read.
    const uint64_t total = q.interval == 0 ? 1 : span / q.interval + (span % q.interval != 0);
    if (Exceeds(total, CurrentReadLimits().intervals))
        return UaStatusOfResult(OPC_E_MAXEXCEEDED);
    int64_t from = q.start;
    if (node.continuationPoint.length != 0) {
        Resume at;
        UA_StatusCode status = ParseContinuation(node.continuationPoint, PageKind::Processed, &at);
        if (status != UA_STATUSCODE_GOOD)
            return status;
        const bool inside = backwards ? at.from < q.start && at.from > q.end
                                      : at.from > q.start && at.from < q.end;
        if (!inside || q.interval == 0 ||
            static_cast<uint64_t>(backwards ? q.start - at.from : at.from - q.start) %
                    q.interval != 0)
            return UA_STATUSCODE_BADCONTINUATIONPOINTINVALID;
        from = at.from;
    }
    // This page: at most kUaPageValues whole intervals, the rest later.
    const uint64_t left = backwards ? static_cast<uint64_t>(from - q.end)
                                    : static_cast<uint64_t>(q.end - from);
    int64_t to = q.end;
    bool more = false;
    if (q.interval != 0 && left / q.interval > kUaPageValues) {
        const int64_t step = static_cast<int64_t>(q.interval * kUaPageValues);
        to = backwards ? from - step : from + step;
        more = true;
    }
    UaRequestItems items(sessionContext);
    items.Add(node.nodeId);
    const FILETIME start = FileTimeOfUa(from);
    const FILETIME end = FileTimeOfUa(to);
    OPCHDA_ITEM *records = nullptr;
    HRESULT *codes = nullptr;
    ItemRecords owned;
    HRESULT code = S_OK;
    const UA_StatusCode status = AdoptOneNode(
        ReadProcessedRequest(items.Handles(), start, end, q.interval, 1, items.Servers(),
                             &aggregate, &records, &codes, UaQualityWords(),
                             q.ownConfig ? &q.config : nullptr),
        &records, &codes, owned, &code);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    const OPCHDA_ITEM &r = owned[0];
    if (!AllocateDataValues(&data, r.dwCount))
        return UA_STATUSCODE_BADOUTOFMEMORY;
    for (DWORD k = 0; k < r.dwCount; ++k) {
        FillDataValue(r.pftTimeStamps[k], r.pvDataValues[k], r.pdwQualities[k], timestamps,
                      &data.dataValues[k]);
        ApplyUnit(unit, data.dataValues[k]);
    }
    if (more) {
        Resume next;
        next.from = to;
        return MakeContinuation(PageKind::Processed, next, &result.continuationPoint);
    }
    return UaStatusOfResult(code);
}

} // namespace

void UaReadProcessed(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                     const UA_RequestHeader *, const UA_ReadProcessedDetails *details,
                     UA_TimestampsToReturn timestamps, UA_Boolean release, size_t count,
                     const UA_HistoryReadValueId *nodes, UA_HistoryReadResponse *response,
                     UA_HistoryData *const *const data)
{
    if (details->aggregateTypeSize != count) {
        response->responseHeader.serviceResult = UA_STATUSCODE_BADAGGREGATELISTMISMATCH;
        return;
    }
    if (!ReadGoesOn(timestamps, release, response))
        return;
    ProcessedRequest q;
    const double ms = details->processingInterval;
    UA_StatusCode refused = UA_STATUSCODE_GOOD;
    if (details->startTime <= 0 || details->endTime <= 0)
        refused = UA_STATUSCODE_BADINVALIDTIMESTAMPARGUMENT;
    else if (!(ms >= 0) || ms * 10000.0 > 9.0e18)
        refused = UA_STATUSCODE_BADINVALIDARGUMENT;
    else
        refused = ConfigOf(details->aggregateConfiguration, &q.config, &q.ownConfig);
    if (refused != UA_STATUSCODE_GOOD) {
        SetAllResults(response, refused);
        return;
    }
    q.start = details->startTime;
    q.end = details->endTime;
    q.interval = static_cast<uint64_t>(std::llround(ms * 10000.0));
    for (size_t i = 0; i < count && i < response->resultsSize; ++i) {
        UA_HistoryReadResult &result = response->results[i];
        try {
            result.statusCode = ReadProcessedNode(sessionContext, nodes[i],
                                                  details->aggregateType[i], q, timestamps,
                                                  result, *data[i]);
        } catch (...) {
            result.statusCode = UA_STATUSCODE_BADOUTOFMEMORY;
        }
    }
}

} // namespace zq
