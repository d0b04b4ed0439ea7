// What the endpoint's history reads share: the records of one node's read
// turned into UA data values, the timestamps a client asked for, and the
// quality words the reads use (the 1.1 words, whatever the host's style, so
// that a missing bound or value is never taken for a DA quality).
#pragma once

#include <windows.h>

#include "history/read_engine.h"
#include "history/result_records.h"
#include "open62541.h"
#include "opchda.h"
#include "ua/ua_convert.h"

namespace zq {

inline QualityWords UaQualityWords() { return QualityWords{OPCHDA_NOBOUND, OPCHDA_NODATA}; }

// One value of a record as a UA data value: the value (none for a missing
// bound or value), the status of its quality, the requested timestamps.
void FillDataValue(const FILETIME &time, const VARIANT &value, DWORD quality,
                   UA_TimestampsToReturn timestamps, UA_DataValue *out);

// Whether the request's timestamps can be served: Source, Server and Both
// (the history keeps one time, given as either); Neither and unknown values
// are BadTimestampsToReturnInvalid for the whole request.
bool TimestampsServed(UA_TimestampsToReturn timestamps);

// Data values for count values of a history data result; false without
// memory.
bool AllocateDataValues(UA_HistoryData *data, size_t count);

// Frees what the responses sent before held (FillDataValue's doubles).
// Called when a read starts and when the endpoint stops, on its thread.
void ReleaseEarlierResponses();

// The common start of every read (releases the earlier responses' values):
// false when nothing more is to be done,
// because the timestamps cannot be served (the service result says so) or
// the client releases its continuation points (they hold no state, so
// that is nothing to do).
bool ReadGoesOn(UA_TimestampsToReturn timestamps, UA_Boolean release,
                UA_HistoryReadResponse *response);

// Takes over what a request of one node handed out (its overall result,
// and the records and codes it wrote; passed by address, so that they are
// read only after the request has run): Good with the node's code in
// *code, or the status the node's result then has (BadOutOfMemory, or its
// failure).
template <typename Records, typename Record>
UA_StatusCode AdoptOneNode(HRESULT overall, Record *const *records, HRESULT *const *codes,
                           Records &owned, HRESULT *code)
{
    if (FAILED(overall))
        return UA_STATUSCODE_BADOUTOFMEMORY;
    owned.Adopt(*records, *codes, 1);
    *code = owned.Code(0);
    return FAILED(*code) ? UaStatusOfResult(*code) : UA_STATUSCODE_GOOD;
}

// Sets every result's status (the request as a whole was refused per node).
void SetAllResults(UA_HistoryReadResponse *response, UA_StatusCode status);

} // namespace zq
