#include "ua/ua_read_common.h"

#include <memory>
#include <vector>

#include "ua/ua_convert.h"

namespace zq {

namespace {

void SetTimes(UA_DateTime t, UA_TimestampsToReturn timestamps, UA_DataValue *out)
{
    if (timestamps != UA_TIMESTAMPSTORETURN_SERVER) {
        out->hasSourceTimestamp = true;
        out->sourceTimestamp = t;
    }
    if (timestamps == UA_TIMESTAMPSTORETURN_SERVER || timestamps == UA_TIMESTAMPSTORETURN_BOTH) {
        out->hasServerTimestamp = true;
        out->serverTimestamp = t;
    }
}

// The doubles of the responses being answered, in blocks: one allocation
// per block instead of one per value (an allocation costs more than the
// rest of a value's conversion). Their variants are marked not to be
// deleted with the response; the blocks go when the next read starts, by
// which time the stack has sent and cleared the response: the endpoint's
// one thread answers one request after another, each response sent before
// the next request is read.
class DoubleArena
{
public:
    UA_Double *Next()
    {
        if (used_ == kBlock || blocks_.empty()) {
            blocks_.emplace_back(new (std::nothrow) UA_Double[kBlock]);
            if (!blocks_.back()) {
                blocks_.pop_back();
                return nullptr;
            }
            used_ = 0;
        }
        return &blocks_.back()[used_++];
    }
    void Clear()
    {
        blocks_.clear();
        used_ = kBlock;
    }

private:
    static constexpr size_t kBlock = 8192;
    std::vector<std::unique_ptr<UA_Double[]>> blocks_;
    size_t used_ = kBlock;
};

DoubleArena g_doubles; // the endpoint's thread only

// The common case of a history, a double of good raw quality, without the
// generic conversions.
bool FillGoodDouble(const VARIANT &value, DWORD quality, UA_DataValue *out)
{
    if (value.vt != VT_R8 || (quality != 0xC0 && quality != (OPCHDA_RAW | 0xC0)))
        return false;
    UA_Double *d = nullptr;
    try {
        d = g_doubles.Next();
    } catch (...) {
        return false;
    }
    if (d == nullptr)
        return false;
    *d = value.dblVal;
    UA_Variant_setScalar(&out->value, d, &UA_TYPES[UA_TYPES_DOUBLE]);
    out->value.storageType = UA_VARIANT_DATA_NODELETE;
    out->hasValue = true;
    return true;
}

} // namespace

void FillDataValue(const FILETIME &time, const VARIANT &value, DWORD quality,
                   UA_TimestampsToReturn timestamps, UA_DataValue *out)
{
    UA_DataValue_init(out);
    if (FillGoodDouble(value, quality, out)) {
        SetTimes(UaTime(time), timestamps, out);
        return;
    }
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
    SetTimes(UaTime(time), timestamps, out);
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

void ReleaseEarlierResponses() { g_doubles.Clear(); }

bool ReadGoesOn(UA_TimestampsToReturn timestamps, UA_Boolean release,
                UA_HistoryReadResponse *response)
{
    ReleaseEarlierResponses();
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
