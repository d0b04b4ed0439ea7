// The library's aggregates through the asynchronous interface: a processed
// read and a processed subscription of the same windows give the same
// values, computed from the raw history without the host's aggregate
// callbacks.
#include "async_fixture.h"

#include "opchda_constants.h"

using namespace zqtest;

namespace {

class AsyncStandardAggregates : public AsyncTest
{
protected:
    void SetUp() override
    {
        AsyncTest::SetUp();
        EnableHDAStandardAggregates(1);
        EnableHDAAdviseProcessed(1);
    }
    void TearDown() override
    {
        EnableHDAAdviseProcessed(0);
        EnableHDAStandardAggregates(0);
        AsyncTest::TearDown();
    }
};

} // namespace

TEST_F(AsyncStandardAggregates, ReadAndAdviseOfTheSameWindowsAgreeWithoutTheHostsAggregates)
{
    AddItem(1, 10);
    const uint64_t interval = 10 * kMinute;
    const uint64_t start = NowTicks() - 65 * kMinute; // six windows due
    // 0, 1, 2, ... every three minutes: 4, 3, 3, 4, 3, 3 values per window.
    host.AddSeries(ItemOf(1), start, 3 * kMinute, 22);
    OPCHANDLE items[] = {1, 1};
    DWORD aggregates[] = {OPCHDA_COUNT, OPCHDA_AVERAGE};
    RequestOut out;
    OPCHDA_TIME s = AbsoluteTime(start);
    ASSERT_EQ(read->AdviseProcessed(42, &s, Ft(interval), 2, items, aggregates, 0, &out.cancelId,
                                    &out.errors),
              S_OK);
    ASSERT_TRUE(Tick());
    const std::vector<Received> windows = sink.CallsOf(Received::DataChange);
    ASSERT_EQ(windows.size(), 6u);

    sink.Clear();
    Received whole;
    ASSERT_NO_FATAL_FAILURE(ReadSameWindows(7, start, interval, 6, {1, 1},
                                            {OPCHDA_COUNT, OPCHDA_AVERAGE}, &whole));

    const long counts[] = {4, 3, 3, 4, 3, 3};
    const double averages[] = {1.5, 5, 8, 11.5, 15, 18};
    for (size_t k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        ExpectWindowAsRead(windows[k], k, start + k * interval, whole, {{0, 0}, {1, 1}});
        for (size_t item = 0; item < 2; ++item)
            EXPECT_EQ(windows[k].values[item].qualities.at(0), kGoodQuality | OPCHDA_CALCULATED);
        EXPECT_EQ(windows[k].values[0].values[0].Get().lVal, counts[k]);
        EXPECT_DOUBLE_EQ(windows[k].values[1].values[0].Get().dblVal, averages[k]);
    }
    EXPECT_EQ(host.CountOf(Method::PrepareAggregates), 0);
    EXPECT_EQ(host.CountOf(Method::ReadProcessed), 0);
}
