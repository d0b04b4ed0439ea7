// Raw-data advise through the in-process server: consecutive windows on
// consecutive ticks, windows not yet due, an update interval of 0, windows
// without data or with more than 5000 values, skipped windows, and the ways
// an advise ends (cancel, the sink going away, the client object's
// destruction).
#include "async_fixture.h"

#include <algorithm>

#include "malloc_spy.h"
#include "opchda_constants.h"

using namespace zqtest;

namespace {

class AsyncAdvise : public AsyncTest
{
protected:
    // Advises the items from start on with the interval; the request's result.
    HRESULT Advise(DWORD tid, uint64_t start, uint64_t interval, std::vector<OPCHANDLE> items,
                   RequestOut &out)
    {
        OPCHDA_TIME s = AbsoluteTime(start);
        return read->AdviseRaw(tid, &s, Ft(interval), static_cast<DWORD>(items.size()),
                               items.data(), &out.cancelId, &out.errors);
    }

    size_t Windows() const { return sink.CallsOf(Received::DataChange).size(); }
};

TEST_F(AsyncAdvise, ConsecutiveWindowsOnConsecutiveTicksThenNoneUntilDue)
{
    AddItem(1, 10);
    const uint64_t start = NowTicks() - 60 * kMinute;
    const uint64_t interval = 10 * kMinute;
    // One value a minute into each of the six windows.
    for (int k = 0; k < 6; ++k)
        host.AddValue(ItemOf(1), start + k * interval + kMinute, Variant::R8(k));
    RequestOut out;
    ASSERT_EQ(Advise(42, start, interval, {1}, out), S_OK);
    EXPECT_EQ(out.Errors(1), std::vector<HRESULT>{S_OK});
    EXPECT_NE(out.cancelId, 0u);

    const LONG stepsBefore = server->TickSteps();
    for (int tick = 1; tick <= 8; ++tick) {
        ASSERT_TRUE(Tick());
        // One window per step while windows are due, never more.
        const size_t steps = static_cast<size_t>(server->TickSteps() - stepsBefore);
        EXPECT_EQ(Windows(), std::min<size_t>(steps, 6)) << "after tick " << tick;
    }
    std::vector<Received> windows = sink.CallsOf(Received::DataChange);
    ASSERT_EQ(windows.size(), 6u);
    std::vector<Call> reads = host.CallsOf(Method::GetTimeStamps);
    ASSERT_EQ(reads.size(), 6u);
    for (int k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(reads[k].start, start + k * interval);
        EXPECT_EQ(reads[k].end, start + (k + 1) * interval);
        EXPECT_EQ(reads[k].maxCount, 5000);
        const Received &w = windows[k];
        EXPECT_EQ(w.transactionId, 42u);
        EXPECT_EQ(w.status, S_OK);
        EXPECT_EQ(w.clients, std::vector<OPCHANDLE>{10});
        EXPECT_EQ(w.codes, std::vector<HRESULT>{S_OK});
        // No bounds: exactly the window's value.
        EXPECT_EQ(w.values[0].times, std::vector<uint64_t>{start + k * interval + kMinute});
    }
    // The advise stays until cancelled.
    EXPECT_EQ(Pending(), 1u);
}

TEST_F(AsyncAdvise, UpdateIntervalZeroDeliversTheSameInstantEveryTick)
{
    AddItem(1, 10);
    const uint64_t start = NowTicks() - 60 * kMinute;
    host.AddValue(ItemOf(1), start, Variant::R8(3));
    host.AddValue(ItemOf(1), start + kSecond, Variant::R8(4));
    RequestOut out;
    ASSERT_EQ(Advise(1, start, 0, {1}, out), S_OK);
    for (int tick = 0; tick < 3; ++tick)
        ASSERT_TRUE(Tick());
    std::vector<Received> windows = sink.CallsOf(Received::DataChange);
    ASSERT_GE(windows.size(), 3u);
    for (const Received &w : windows) {
        EXPECT_EQ(w.values[0].times, std::vector<uint64_t>{start});
        EXPECT_EQ(w.status, S_OK);
    }
    for (const Call &c : host.CallsOf(Method::GetTimeStamps)) {
        EXPECT_EQ(c.start, start);
        EXPECT_EQ(c.end, start);
    }
}

TEST_F(AsyncAdvise, WindowWithoutDataStillDeliversWithNoDataCodes)
{
    AddItem(1, 10);
    AddItem(2, 20);
    const uint64_t start = NowTicks() - 30 * kMinute;
    RequestOut out;
    // One of the items was never obtained by the client.
    ASSERT_EQ(Advise(3, start, 10 * kMinute, {1, 99, 2}, out), S_FALSE);
    EXPECT_EQ(out.Errors(3), (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    ASSERT_TRUE(Tick());
    std::vector<Received> windows = sink.CallsOf(Received::DataChange);
    ASSERT_EQ(windows.size(), 1u);
    const Received &w = windows[0];
    EXPECT_TRUE(w.arraysGiven);
    EXPECT_EQ(w.count, 3u);
    EXPECT_EQ(w.status, S_FALSE);
    EXPECT_EQ(w.clients, (std::vector<OPCHANDLE>{10, 0xFFFFFFFF, 20}));
    EXPECT_EQ(w.codes, (std::vector<HRESULT>{OPC_S_NODATA, OPC_E_INVALIDHANDLE, OPC_S_NODATA}));
    for (const ItemValues &v : w.values)
        EXPECT_TRUE(v.times.empty());
    // The unknown item never reaches the host.
    for (const Call &c : host.Calls())
        EXPECT_NE(c.item, ItemOf(99));
}

TEST_F(AsyncAdvise, AWindowDeliversAtMostFiveThousandValuesPerItem)
{
    AddItem(1, 10);
    const uint64_t start = NowTicks() - 60 * kMinute;
    const uint64_t interval = 10 * kMinute;
    // 5500 values a tenth of a second apart, all in the first window.
    for (int i = 0; i < 5500; ++i)
        host.AddValue(ItemOf(1), start + kSecond + i * (kSecond / 10), Variant::R8(i));
    RequestOut out;
    ASSERT_EQ(Advise(8, start, interval, {1}, out), S_OK);
    ASSERT_TRUE(Tick());
    std::vector<Received> windows = sink.CallsOf(Received::DataChange);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].codes, std::vector<HRESULT>{OPC_S_MOREDATA});
    EXPECT_EQ(windows[0].status, S_FALSE);
    ASSERT_EQ(windows[0].values[0].times.size(), 5000u);
    EXPECT_EQ(windows[0].values[0].times.front(), start + kSecond);
    EXPECT_EQ(windows[0].values[0].times.back(), start + kSecond + 4999 * (kSecond / 10));
    // The rest of that window is never delivered: the next window follows.
    sink.Clear();
    ASSERT_TRUE(Tick());
    windows = sink.CallsOf(Received::DataChange);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].codes, std::vector<HRESULT>{OPC_S_NODATA});
}

TEST_F(AsyncAdvise, AWindowThatCannotBeAllocatedIsSkippedNotRetried)
{
    TaskMallocSpy *spy = TaskMallocSpy::Instance();
    ASSERT_NE(spy, nullptr);
    AddItem(1, 10);
    const uint64_t start = NowTicks() - 60 * kMinute;
    const uint64_t interval = 10 * kMinute;
    RequestOut out;
    ASSERT_EQ(Advise(1, start, interval, {1}, out), S_OK);
    ASSERT_TRUE(Tick());
    ASSERT_EQ(Windows(), 1u);
    const DWORD worker = sink.Calls()[0].thread;
    const long before = spy->Outstanding();

    // Window 2: its result records cannot be allocated; window 3: its codes.
    for (long nth : {1L, 2L}) {
        spy->FailNth(nth, worker);
        ASSERT_TRUE(Tick());
        EXPECT_EQ(spy->Refused(), 1);
        spy->StopFailing();
        EXPECT_EQ(Windows(), 1u);
    }
    EXPECT_EQ(host.CountOf(Method::GetTimeStamps), 1);
    EXPECT_EQ(spy->Outstanding(), before);

    ASSERT_TRUE(Tick());
    ASSERT_EQ(Windows(), 2u);
    std::vector<Call> reads = host.CallsOf(Method::GetTimeStamps);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[1].start, start + 3 * interval);
    EXPECT_EQ(reads[1].end, start + 4 * interval);
}

TEST_F(AsyncAdvise, CancelEndsTheAdvise)
{
    AddItem(1, 10);
    RequestOut out;
    ASSERT_EQ(Advise(1, NowTicks() - 60 * kMinute, 10 * kMinute, {1}, out), S_OK);
    ASSERT_TRUE(Tick());
    ASSERT_EQ(Windows(), 1u);
    EXPECT_EQ(read->Cancel(out.cancelId), S_OK);
    EXPECT_EQ(Pending(), 0u);
    ASSERT_TRUE(Tick());
    EXPECT_EQ(Windows(), 1u);
    // No callback tells the client about the cancel.
    EXPECT_EQ(sink.Count(), 1u);
}

TEST_F(AsyncAdvise, AdviseEndsWhenTheSinkGoesAway)
{
    AddItem(1, 10);
    RequestOut out;
    ASSERT_EQ(Advise(1, NowTicks() - 60 * kMinute, 10 * kMinute, {1}, out), S_OK);
    ASSERT_TRUE(Tick());
    ASSERT_EQ(Windows(), 1u);
    Unadvise();
    ASSERT_TRUE(Tick());
    EXPECT_EQ(Pending(), 0u);
    // A sink advised again later gets nothing of the old advise.
    ASSERT_EQ(point->Advise(static_cast<IOPCHDA_DataCallback *>(&sink), &cookie), S_OK);
    ASSERT_TRUE(Tick());
    EXPECT_EQ(Windows(), 1u);
}

TEST_F(AsyncAdvise, ClientLeavingWithALiveAdviseIsDestroyedWithItsTransactions)
{
    TaskMallocSpy *spy = TaskMallocSpy::Instance();
    ASSERT_NE(spy, nullptr);
    AddItem(1, 10);
    host.AddSeries(ItemOf(1), NowTicks() - 50 * kMinute, kMinute, 5);
    const long before = spy->Outstanding();
    RequestOut advise, raw;
    ASSERT_EQ(Advise(1, NowTicks() - 60 * kMinute, 10 * kMinute, {1}, advise), S_OK);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    OPCHANDLE h = 1;
    ASSERT_EQ(read->ReadRaw(2, &s, &e, 0, FALSE, 1, &h, &raw.cancelId, &raw.errors), S_OK);
    CoTaskMemFree(advise.errors);
    advise.errors = nullptr;
    CoTaskMemFree(raw.errors);
    raw.errors = nullptr;
    EXPECT_EQ(Pending(), 2u);

    // The sink stays advised; the client lets go of everything.
    ReleaseClient();
    EXPECT_EQ(zq::HDAServer::LiveObjects(), 1);
    EXPECT_TRUE(AllServersDestroyed());
    EXPECT_EQ(sink.refs, 1);
    // Destroyed at the next tick, before running anything: no callback.
    EXPECT_EQ(sink.Count(), 0u);
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_EQ(spy->Outstanding(), before);
}

} // namespace
