#include "ua/ua_read_common.h"

#include "ua/ua_convert.h"

namespace zq {

void FillDataValue(const FILETIME &time, const VARIANT &value, DWORD quality,
                   UA_TimestampsToReturn timestamps, UA_DataValue *out)
{
    UA_DataValue_init(out);
    UA_StatusCode status = UaStatusOfQuality(quality);
    const bool missing =
        status == UA_STATUSCODE_BADNODATA || status == UA_STATUSCODE_BADBOUNDNOTFOUND;
    if (!missing) {
        UA_StatusCode converted = UaValueOf(value, &out->value);
        if (converted != UA_STATUSCODE_GOOD)
            status = converted;
        else
            out->hasValue = !UA_Variant_isEmpty(&out->value);
    }
    out->hasStatus = status != UA_STATUSCODE_GOOD;
    out->status = status;
    const UA_DateTime t = UaTime(time);
    if (timestamps != UA_TIMESTAMPSTORETURN_SERVER) {
        out->hasSourceTimestamp = true;
        out->sourceTimestamp = t;
    }
    if (timestamps == UA_TIMESTAMPSTORETURN_SERVER || timestamps == UA_TIMESTAMPSTORETURN_BOTH) {
        out->hasServerTimestamp = true;
        out->serverTimestamp = t;
    }
}

bool TimestampsServed(UA_TimestampsToReturn timestamps)
{
    return timestamps == UA_TIMESTAMPSTORETURN_SOURCE ||
           timestamps == UA_TIMESTAMPSTORETURN_SERVER || timestamps == UA_TIMESTAMPSTORETURN_BOTH;
}

bool AllocateDataValues(UA_HistoryData *data, size_t count)
{
    data->dataValuesSize = 0;
    data->dataValues = nullptr;
    if (count == 0)
        return true;
    data->dataValues =
        static_cast<UA_DataValue *>(UA_Array_new(count, &UA_TYPES[UA_TYPES_DATAVALUE]));
    if (data->dataValues == nullptr)
        return false;
    data->dataValuesSize = count;
    return true;
}

bool ReadGoesOn(UA_TimestampsToReturn timestamps, UA_Boolean release,
                UA_HistoryReadResponse *response)
{
    if (!TimestampsServed(timestamps)) {
        response->responseHeader.serviceResult = UA_STATUSCODE_BADTIMESTAMPSTORETURNINVALID;
        return false;
    }
    return !release;
}

void SetAllResults(UA_HistoryReadResponse *response, UA_StatusCode status)
{
    for (size_t i = 0; i < response->resultsSize; ++i)
        response->results[i].statusCode = status;
}

} // namespace zq
