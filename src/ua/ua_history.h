// The endpoint's history services: open62541's history database, answered
// by the library's history-level request API (history/sync_requests.h) and
// therefore by the same engines, limits, aggregates and item checks as the
// COM interfaces.
//
// Every function runs on the endpoint's thread, one request at a time; the
// host's callbacks are called from there as from any client thread. Results
// are written into the response open62541 prepared (one result per node);
// nothing is thrown out of them.
//
// Pages and continuation points: one result carries at most kUaPageValues
// values (and never more than the library's bound of one reply); a read
// with more gets a continuation point that says where the next page starts
// (ua_continuation.h). Continuation points hold no server state, so there
// is nothing to release and no limit on how many a session keeps.
#pragma once

#include "open62541.h"

namespace zq {

// Most values (or intervals) one node's result carries.
constexpr UA_UInt32 kUaPageValues = 100000;

// Installs the history database in a configuration (reads, updates,
// deletes).
void InstallHistoryDatabase(UA_ServerConfig *config);

// The parts, one file each.
void UaReadRaw(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
               const UA_RequestHeader *, const UA_ReadRawModifiedDetails *details,
               UA_TimestampsToReturn timestamps, UA_Boolean release, size_t count,
               const UA_HistoryReadValueId *nodes, UA_HistoryReadResponse *response,
               UA_HistoryData *const *const data);
void UaReadModified(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                    const UA_RequestHeader *, const UA_ReadRawModifiedDetails *details,
                    UA_TimestampsToReturn timestamps, UA_Boolean release, size_t count,
                    const UA_HistoryReadValueId *nodes, UA_HistoryReadResponse *response,
                    UA_HistoryModifiedData *const *const data);
void UaReadAtTime(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                  const UA_RequestHeader *, const UA_ReadAtTimeDetails *details,
                  UA_TimestampsToReturn timestamps, UA_Boolean release, size_t count,
                  const UA_HistoryReadValueId *nodes, UA_HistoryReadResponse *response,
                  UA_HistoryData *const *const data);
void UaReadProcessed(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                     const UA_RequestHeader *, const UA_ReadProcessedDetails *details,
                     UA_TimestampsToReturn timestamps, UA_Boolean release, size_t count,
                     const UA_HistoryReadValueId *nodes, UA_HistoryReadResponse *response,
                     UA_HistoryData *const *const data);
void UaUpdateData(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                  const UA_RequestHeader *, const UA_UpdateDataDetails *details,
                  UA_HistoryUpdateResult *result);
void UaDeleteRaw(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                 const UA_RequestHeader *, const UA_DeleteRawModifiedDetails *details,
                 UA_HistoryUpdateResult *result);
void UaDeleteAtTime(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                    const UA_RequestHeader *, const UA_DeleteAtTimeDetails *details,
                    UA_HistoryUpdateResult *result);

} // namespace zq
