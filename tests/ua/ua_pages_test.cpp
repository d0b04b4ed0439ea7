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
#include "ua/ua_read_common.h"

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

} // namespace
