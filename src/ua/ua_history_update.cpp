// History updates of the endpoint: insert, replace, update (insert or
// replace) and the two deletes, through the host's update callbacks under
// the session user's write right and name.
#include <vector>

#include "history/sync_requests.h"
#include "runtime/task_memory.h"
#include "ua/ua_convert.h"
#include "ua/ua_history.h"
#include "ua/ua_session.h"

namespace zq {

namespace {

// The item a details' node names, its write right checked: Good, or the
// node's status (BadNodeIdUnknown, BadUserAccessDenied). An anonymous
// session never writes.
UA_StatusCode CheckNode(const UaRequestItems &items)
{
    if (items.Item(0) == nullptr)
        return UA_STATUSCODE_BADNODEIDUNKNOWN;
    HandleLookup entry;
    if (items.User() == nullptr || !items.Handles().Find(items.Servers()[0], &entry) ||
        !entry.writeAllowed)
        return UA_STATUSCODE_BADUSERACCESSDENIED;
    return UA_STATUSCODE_GOOD;
}

// The per-value results of an update: every operation's status, the
// refused ones set before the host is asked.
bool AllocateOperations(UA_HistoryUpdateResult *result, size_t count)
{
    if (count == 0)
        return true;
    result->operationResults =
        static_cast<UA_StatusCode *>(UA_Array_new(count, &UA_TYPES[UA_TYPES_STATUSCODE]));
    if (result->operationResults == nullptr)
        return false;
    result->operationResultsSize = count;
    return true;
}

// VARIANTs of one update, cleared on every path.
struct Variants
{
    explicit Variants(size_t n) : v(n)
    {
        for (VARIANT &x : v)
            VariantInit(&x);
    }
    ~Variants()
    {
        for (VARIANT &x : v)
            VariantClear(&x);
    }
    Variants(const Variants &) = delete;
    Variants &operator=(const Variants &) = delete;
    std::vector<VARIANT> v;
};

UA_StatusCode UpdateNode(void *sessionContext, const UA_UpdateDataDetails &d,
                         UA_HistoryUpdateResult *result)
{
    ValueEdit edit;
    switch (d.performInsertReplace) {
    case UA_PERFORMUPDATETYPE_INSERT: edit = ValueEdit::Insert; break;
    case UA_PERFORMUPDATETYPE_REPLACE: edit = ValueEdit::Replace; break;
    case UA_PERFORMUPDATETYPE_UPDATE: edit = ValueEdit::InsertReplace; break;
    default: return UA_STATUSCODE_BADHISTORYOPERATIONINVALID;
    }
    UaRequestItems items(sessionContext);
    items.Add(d.nodeId);
    UA_StatusCode node = CheckNode(items);
    if (node != UA_STATUSCODE_GOOD)
        return node;
    const size_t n = d.updateValuesSize;
    if (n == 0)
        return UA_STATUSCODE_BADNOTHINGTODO;
    if (n > MAXDWORD || !AllocateOperations(result, n))
        return UA_STATUSCODE_BADOUTOFMEMORY;
    // The values that can be stored go to the host in one request; a value
    // without a source time stamp or of a type it cannot take is refused on
    // its own.
    Variants values(n);
    std::vector<FILETIME> times;
    std::vector<DWORD> qualities;
    std::vector<OPCHANDLE> servers;
    std::vector<size_t> which;
    for (size_t i = 0; i < n; ++i) {
        const UA_DataValue &dv = d.updateValues[i];
        UA_StatusCode s = UA_STATUSCODE_GOOD;
        if (!dv.hasSourceTimestamp || dv.sourceTimestamp <= 0)
            s = UA_STATUSCODE_BADINVALIDTIMESTAMP;
        else if (!dv.hasValue)
            s = UA_STATUSCODE_BADTYPEMISMATCH;
        else
            s = VariantOfUa(dv.value, &values.v[which.size()]);
        result->operationResults[i] = s;
        if (s != UA_STATUSCODE_GOOD) {
            VariantClear(&values.v[which.size()]);
            continue;
        }
        times.push_back(FileTimeOfUa(dv.sourceTimestamp));
        qualities.push_back(QualityOfUaStatus(dv.hasStatus ? dv.status : UA_STATUSCODE_GOOD));
        servers.push_back(items.Servers()[0]);
        which.push_back(i);
    }
    if (!which.empty()) {
        HRESULT *codes = nullptr;
        if (FAILED(UpdateValuesRequest(items.Handles(), edit, static_cast<DWORD>(which.size()),
                                       servers.data(), times.data(), values.v.data(),
                                       qualities.data(), &codes)))
            return UA_STATUSCODE_BADOUTOFMEMORY;
        TaskPtr<HRESULT> owned(codes);
        for (size_t k = 0; k < which.size(); ++k)
            result->operationResults[which[k]] = UaStatusOfResult(owned.get()[k]);
    }
    return UA_STATUSCODE_GOOD;
}

UA_StatusCode DeleteRawNode(void *sessionContext, const UA_DeleteRawModifiedDetails &d)
{
    // The history keeps no modified values to delete.
    if (d.isDeleteModified)
        return UA_STATUSCODE_BADHISTORYOPERATIONUNSUPPORTED;
    if (d.startTime <= 0 || d.endTime <= 0)
        return UA_STATUSCODE_BADINVALIDTIMESTAMPARGUMENT;
    UaRequestItems items(sessionContext);
    items.Add(d.nodeId);
    UA_StatusCode node = CheckNode(items);
    if (node != UA_STATUSCODE_GOOD)
        return node;
    OPCHDA_TIME start{};
    OPCHDA_TIME end{};
    start.bString = end.bString = FALSE;
    start.szTime = end.szTime = const_cast<LPWSTR>(L"");
    start.ftTime = FileTimeOfUa(d.startTime);
    end.ftTime = FileTimeOfUa(d.endTime);
    HRESULT *codes = nullptr;
    if (FAILED(DeleteRawRequest(items.Handles(), &start, &end, 1, items.Servers(), &codes)))
        return UA_STATUSCODE_BADOUTOFMEMORY;
    TaskPtr<HRESULT> owned(codes);
    return UaStatusOfResult(owned.get()[0]);
}

UA_StatusCode DeleteAtTimeNode(void *sessionContext, const UA_DeleteAtTimeDetails &d,
                               UA_HistoryUpdateResult *result)
{
    UaRequestItems items(sessionContext);
    items.Add(d.nodeId);
    UA_StatusCode node = CheckNode(items);
    if (node != UA_STATUSCODE_GOOD)
        return node;
    const size_t n = d.reqTimesSize;
    if (n == 0)
        return UA_STATUSCODE_BADNOTHINGTODO;
    if (n > MAXDWORD || !AllocateOperations(result, n))
        return UA_STATUSCODE_BADOUTOFMEMORY;
    std::vector<FILETIME> times;
    std::vector<size_t> which;
    for (size_t i = 0; i < n; ++i) {
        if (d.reqTimes[i] <= 0) {
            result->operationResults[i] = UA_STATUSCODE_BADINVALIDTIMESTAMP;
            continue;
        }
        times.push_back(FileTimeOfUa(d.reqTimes[i]));
        which.push_back(i);
    }
    if (!which.empty()) {
        std::vector<OPCHANDLE> servers(which.size(), items.Servers()[0]);
        HRESULT *codes = nullptr;
        if (FAILED(DeleteAtTimeRequest(items.Handles(), static_cast<DWORD>(which.size()),
                                       servers.data(), times.data(), &codes)))
            return UA_STATUSCODE_BADOUTOFMEMORY;
        TaskPtr<HRESULT> owned(codes);
        for (size_t k = 0; k < which.size(); ++k)
            result->operationResults[which[k]] = UaStatusOfResult(owned.get()[k]);
    }
    return UA_STATUSCODE_GOOD;
}

template <typename Run> void Guarded(UA_HistoryUpdateResult *result, Run &&run)
{
    try {
        result->statusCode = run();
    } catch (...) {
        result->statusCode = UA_STATUSCODE_BADOUTOFMEMORY;
    }
}

} // namespace

void UaUpdateData(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                  const UA_RequestHeader *, const UA_UpdateDataDetails *details,
                  UA_HistoryUpdateResult *result)
{
    Guarded(result, [&] { return UpdateNode(sessionContext, *details, result); });
}

void UaDeleteRaw(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                 const UA_RequestHeader *, const UA_DeleteRawModifiedDetails *details,
                 UA_HistoryUpdateResult *result)
{
    Guarded(result, [&] { return DeleteRawNode(sessionContext, *details); });
}

void UaDeleteAtTime(UA_Server *, void *, const UA_NodeId *, void *sessionContext,
                    const UA_RequestHeader *, const UA_DeleteAtTimeDetails *details,
                    UA_HistoryUpdateResult *result)
{
    Guarded(result, [&] { return DeleteAtTimeNode(sessionContext, *details, result); });
}

void InstallHistoryDatabase(UA_ServerConfig *config)
{
    UA_HistoryDatabase &db = config->historyDatabase;
    if (db.clear != nullptr)
        db.clear(&db);
    db = UA_HistoryDatabase{};
    // The service looks for a context before it calls anything.
    static int context;
    db.context = &context;
    db.readRaw = UaReadRaw;
    db.readModified = UaReadModified;
    db.readProcessed = UaReadProcessed;
    db.readAtTime = UaReadAtTime;
    db.updateData = UaUpdateData;
    db.deleteRawModified = UaDeleteRaw;
    db.deleteAtTime = UaDeleteAtTime;
}

} // namespace zq
