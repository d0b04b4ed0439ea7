// Raw reads of the endpoint's history service over more values than one
// page holds, called in-process as the stack calls it, each page followed
// through its continuation point.
#include <gtest/gtest.h>

#include <vector>

#include "addrspace/item_registry.h"
#include "hda_values.h"
#include "runtime/task_memory.h"
#include "test_host.h"
#include "ua/ua_history.h"
#include "ua/ua_continuation.h"
#include "ua/ua_read_common.h"
#include "ua/ua_session.h"

namespace {

using namespace zq;
using zqtest::Ft;
using zqtest::kSecond;
using zqtest::Sec;

constexpr int kStored = 250000; // more than two pages

class UaPages : public testing::Test
{
protected:
    void SetUp() override
    {
        item = AddItem("Pages.Item", 0, 0);
        ASSERT_NE(item, NoItemHandle());
        host.AddSeries(item, Sec(0), kSecond, kStored);
        SetHDAServerCallback(&host);
        // As the endpoint's start does.
        ASSERT_TRUE(EnsureTaskAllocator());
    }
    void TearDown() override
    {
        SetHDAServerCallback(nullptr);
        DeleteItem("Pages.Item");
        ReleaseEarlierResponses();
    }

    // The times of every value a read returns, page after page.
    std::vector<uint64_t> ReadAll(UA_DateTime start, UA_DateTime end, UA_UInt32 count,
                                  int *pages)
    {
        UA_ReadRawModifiedDetails d;
        UA_ReadRawModifiedDetails_init(&d);
        d.startTime = start;
        d.endTime = end;
        d.numValuesPerNode = count;
        std::vector<uint64_t> times;
        UA_ByteString point = UA_BYTESTRING_NULL;
        for (*pages = 0; *pages < 100; ++*pages) {
            UA_HistoryReadValueId node;
            UA_HistoryReadValueId_init(&node);
            node.nodeId = UA_NODEID_STRING(1, const_cast<char *>("Pages.Item"));
            node.continuationPoint = point;
            UA_HistoryReadResponse response;
            UA_HistoryReadResponse_init(&response);
            response.results = static_cast<UA_HistoryReadResult *>(
                UA_Array_new(1, &UA_TYPES[UA_TYPES_HISTORYREADRESULT]));
            response.resultsSize = 1;
            UA_HistoryData *data = UA_HistoryData_new();
            UA_ExtensionObject_setValue(&response.results[0].historyData, data,
                                        &UA_TYPES[UA_TYPES_HISTORYDATA]);
            UA_HistoryData *const all[1] = {data};
            UaReadRaw(nullptr, nullptr, nullptr, nullptr, nullptr, &d,
                      UA_TIMESTAMPSTORETURN_SOURCE, false, 1, &node, &response, all);
            EXPECT_EQ(response.results[0].statusCode & 0xC0000000, 0u) << std::hex << response.results[0].statusCode;
            for (size_t i = 0; i < data->dataValuesSize; ++i)
                times.push_back(static_cast<uint64_t>(data->dataValues[i].sourceTimestamp));
            UA_ByteString_clear(&point);
            UA_ByteString_copy(&response.results[0].continuationPoint, &point);
            UA_HistoryReadResponse_clear(&response);
            if (point.length == 0)
                return times;
        }
        ADD_FAILURE() << "the pages never end";
        UA_ByteString_clear(&point);
        return times;
    }

    zqtest::TestHost host;
    void *item = nullptr;
};

UA_DateTime UaAt(uint64_t ticks) { return static_cast<UA_DateTime>(ticks); }

TEST_F(UaPages, AReadWithOneTimeEndsAtItsCountAcrossPages)
{
    int pages = 0;
    std::vector<uint64_t> t = ReadAll(UaAt(Sec(10)), 0, 150000, &pages);
    ASSERT_EQ(t.size(), 150000u);
    EXPECT_EQ(pages, 1); // one continuation: a page holds 100,000
    for (size_t i = 0; i < t.size(); ++i)
        ASSERT_EQ(t[i], Sec(10 + static_cast<int64_t>(i))) << i;

    // Only an end: backwards from it, as many as asked.
    t = ReadAll(0, UaAt(Sec(kStored - 1)), 120001, &pages);
    ASSERT_EQ(t.size(), 120001u);
    EXPECT_EQ(t.front(), Sec(kStored - 1));
    EXPECT_EQ(t.back(), Sec(kStored - 1 - 120000));
}

TEST_F(UaPages, AReadOfEverythingInARangePagesToItsEnd)
{
    int pages = 0;
    std::vector<uint64_t> t = ReadAll(UaAt(Sec(5)), UaAt(Sec(kStored + 100)), 0, &pages);
    ASSERT_EQ(t.size(), static_cast<size_t>(kStored - 5));
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(t.back(), Sec(kStored - 1));
}

// A processed read of more intervals than a page holds: three pages of whole
// intervals, each the host's count of the values in it, none lost or
// repeated; a continuation point off the interval grid is refused. (A
// sparse item: the host counts each interval.)
TEST_F(UaPages, AProcessedReadPagesByWholeIntervals)
{
    void *sparse = AddItem("Pages.Sparse", 0, 0);
    ASSERT_NE(sparse, NoItemHandle());
    const int64_t at[] = {0, 99999, 100000, 249999};
    for (int64_t t : at)
        host.AddValue(sparse, Sec(t), zqtest::Variant::R8(1.0));
    UA_ReadProcessedDetails d;
    UA_ReadProcessedDetails_init(&d);
    d.startTime = UaAt(Sec(0));
    d.endTime = UaAt(Sec(kStored));
    d.processingInterval = 1000.0; // ms
    UA_NodeId count = UA_NODEID_NUMERIC(0, UA_NS0ID_AGGREGATEFUNCTION_COUNT);
    d.aggregateType = &count;
    d.aggregateTypeSize = 1;
    d.aggregateConfiguration.useServerCapabilitiesDefaults = true;

    std::vector<uint64_t> times;
    UA_ByteString point = UA_BYTESTRING_NULL;
    int pages = 0;
    for (; pages < 10; ++pages) {
        UA_HistoryReadValueId node;
        UA_HistoryReadValueId_init(&node);
        node.nodeId = UA_NODEID_STRING(1, const_cast<char *>("Pages.Sparse"));
        node.continuationPoint = point;
        UA_HistoryReadResponse response;
        UA_HistoryReadResponse_init(&response);
        response.results = static_cast<UA_HistoryReadResult *>(
            UA_Array_new(1, &UA_TYPES[UA_TYPES_HISTORYREADRESULT]));
        response.resultsSize = 1;
        UA_HistoryData *data = UA_HistoryData_new();
        UA_ExtensionObject_setValue(&response.results[0].historyData, data,
                                    &UA_TYPES[UA_TYPES_HISTORYDATA]);
        UA_HistoryData *const all[1] = {data};
        UaReadProcessed(nullptr, nullptr, nullptr, nullptr, nullptr, &d,
                        UA_TIMESTAMPSTORETURN_SOURCE, false, 1, &node, &response, all);
        EXPECT_EQ(response.results[0].statusCode & 0xC0000000, 0u) << std::hex
                                                                    << response.results[0].statusCode;
        for (size_t i = 0; i < data->dataValuesSize; ++i) {
            const UA_DataValue &v = data->dataValues[i];
            times.push_back(static_cast<uint64_t>(v.sourceTimestamp));
            ASSERT_TRUE(v.hasValue);
            const int64_t second = static_cast<int64_t>(times.size() - 1);
            const bool holds = second == 0 || second == 99999 || second == 100000 || second == 249999;
            ASSERT_EQ(*static_cast<const UA_Int32 *>(v.value.data), holds ? 1 : 0) << second;
        }
        UA_ByteString_clear(&point);
        UA_ByteString_copy(&response.results[0].continuationPoint, &point);
        UA_HistoryReadResponse_clear(&response);
        if (point.length == 0)
            break;
        if (pages == 0) {
            // The same place moved half an interval: not a point of this read.
            Resume at;
            ASSERT_EQ(ParseContinuation(point, PageKind::Processed, &at), UA_STATUSCODE_GOOD);
            at.from += kSecond / 2;
            UA_ByteString forged;
            ASSERT_EQ(MakeContinuation(PageKind::Processed, at, &forged), UA_STATUSCODE_GOOD);
            node.continuationPoint = forged;
            UA_HistoryReadResponse_init(&response);
            response.results = static_cast<UA_HistoryReadResult *>(
                UA_Array_new(1, &UA_TYPES[UA_TYPES_HISTORYREADRESULT]));
            response.resultsSize = 1;
            UA_HistoryData *other = UA_HistoryData_new();
            UA_ExtensionObject_setValue(&response.results[0].historyData, other,
                                        &UA_TYPES[UA_TYPES_HISTORYDATA]);
            UA_HistoryData *const one[1] = {other};
            UaReadProcessed(nullptr, nullptr, nullptr, nullptr, nullptr, &d,
                            UA_TIMESTAMPSTORETURN_SOURCE, false, 1, &node, &response, one);
            EXPECT_EQ(response.results[0].statusCode, UA_STATUSCODE_BADCONTINUATIONPOINTINVALID);
            UA_HistoryReadResponse_clear(&response);
            UA_ByteString_clear(&forged);
        }
    }
    EXPECT_EQ(pages, 2);
    ASSERT_EQ(times.size(), static_cast<size_t>(kStored));
    for (size_t i = 0; i < times.size(); ++i)
        ASSERT_EQ(times[i], Sec(static_cast<int64_t>(i))) << i;
    DeleteItem("Pages.Sparse");
}

// Updates: an anonymous session reaches no host; a user's values that can
// be stored go to the host under the user's name, each refused one gets its
// own status and the rest are stored.
TEST_F(UaPages, UpdatesNeedAUserAndRefuseValuesOneByOne)
{
    UA_DataValue values[3];
    for (UA_DataValue &v : values)
        UA_DataValue_init(&v);
    UA_Double stored = 42.5;
    UA_Variant_setScalar(&values[0].value, &stored, &UA_TYPES[UA_TYPES_DOUBLE]);
    values[0].hasValue = true;
    values[0].hasSourceTimestamp = true;
    values[0].sourceTimestamp = UaAt(Sec(0) + kSecond / 2); // between two values
    values[1] = values[0]; // no time stamp
    values[1].hasSourceTimestamp = false;
    UA_Guid guid = UA_GUID_NULL; // no OPC HDA type
    UA_Variant_setScalar(&values[2].value, &guid, &UA_TYPES[UA_TYPES_GUID]);
    values[2].hasValue = true;
    values[2].hasSourceTimestamp = true;
    values[2].sourceTimestamp = UaAt(Sec(1) + kSecond / 2);
    UA_UpdateDataDetails d;
    UA_UpdateDataDetails_init(&d);
    d.nodeId = UA_NODEID_STRING(1, const_cast<char *>("Pages.Item"));
    d.performInsertReplace = UA_PERFORMUPDATETYPE_INSERT;
    d.updateValues = values;
    d.updateValuesSize = 3;

    UA_HistoryUpdateResult result;
    UA_HistoryUpdateResult_init(&result);
    UaUpdateData(nullptr, nullptr, nullptr, nullptr, nullptr, &d, &result);
    EXPECT_EQ(result.statusCode, UA_STATUSCODE_BADUSERACCESSDENIED);
    UA_HistoryUpdateResult_clear(&result);
    EXPECT_EQ(host.Values(item).size(), static_cast<size_t>(kStored));

    UaUser op;
    op.name = "operator";
    UA_HistoryUpdateResult_init(&result);
    UaUpdateData(nullptr, nullptr, nullptr, &op, nullptr, &d, &result);
    EXPECT_EQ(result.statusCode, UA_STATUSCODE_GOOD);
    ASSERT_EQ(result.operationResultsSize, 3u);
    EXPECT_EQ(result.operationResults[0] & 0xC0000000, 0u);
    EXPECT_EQ(result.operationResults[1], UA_STATUSCODE_BADINVALIDTIMESTAMP);
    EXPECT_EQ(result.operationResults[2], UA_STATUSCODE_BADTYPEMISMATCH);
    UA_HistoryUpdateResult_clear(&result);
    const std::vector<zqtest::Sample> after = host.Values(item);
    ASSERT_EQ(after.size(), static_cast<size_t>(kStored) + 1);
    EXPECT_EQ(after[1].time, Sec(0) + kSecond / 2);
    EXPECT_EQ(after[1].value.Get().dblVal, 42.5);
    bool asOperator = false;
    for (const zqtest::Call &c : host.Calls())
        asOperator = asOperator || (c.method == zqtest::Method::Insert && c.user == "operator");
    EXPECT_TRUE(asOperator);

    // Delete at a stored time and at one with nothing stored.
    UA_DateTime at[2] = {UaAt(Sec(0) + kSecond / 2), UaAt(Sec(2) + kSecond / 2)};
    UA_DeleteAtTimeDetails del;
    UA_DeleteAtTimeDetails_init(&del);
    del.nodeId = d.nodeId;
    del.reqTimes = at;
    del.reqTimesSize = 2;
    UA_HistoryUpdateResult_init(&result);
    UaDeleteAtTime(nullptr, nullptr, nullptr, &op, nullptr, &del, &result);
    ASSERT_EQ(result.operationResultsSize, 2u);
    EXPECT_EQ(result.operationResults[0] & 0xC0000000, 0u);
    EXPECT_EQ(result.operationResults[1], UA_STATUSCODE_BADNOENTRYEXISTS);
    UA_HistoryUpdateResult_clear(&result);
    EXPECT_EQ(host.Values(item).size(), static_cast<size_t>(kStored));
}

} // namespace
