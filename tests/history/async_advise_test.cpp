// Raw-data advise through the in-process server: every due window in order,
// a backlog caught up a limited number of windows per step, windows not yet
// due, an update interval of 0 refused, windows
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

TEST_F(AsyncAdvise, EveryDueWindowInOrderInOneStepThenNoneUntilDue)
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

    // The six due windows at the first tick, each as its own callback; then
    // nothing until the next window ends.
    for (int tick = 1; tick <= 3; ++tick) {
        ASSERT_TRUE(Tick());
        EXPECT_EQ(Windows(), 6u) << "after tick " << tick;
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

TEST_F(AsyncAdvise, AnAdviseFarBehindCatchesUpALimitedNumberOfWindowsPerStepInOrder)
{
    AddItem(1, 10);
    AddItem(2, 20);
    const uint64_t interval = kMinute;
    const uint64_t start = NowTicks() - 100 * interval;
    // A value in the middle of every window of item 1; item 2 has none.
    for (int k = 0; k < 100; ++k)
        host.AddValue(ItemOf(1), start + k * interval + interval / 2, Variant::R8(k));
    RequestOut out;
    ASSERT_EQ(Advise(5, start, interval, {1, 2}, out), S_OK);
    ASSERT_TRUE(Tick());
    // At most 32 windows in one step, so that one client's backlog cannot
    // hold its worker long; the rest follow at the next steps.
    EXPECT_EQ(Windows(), 32u);
    ASSERT_TRUE(Tick());
    ASSERT_TRUE(Tick());
    ASSERT_TRUE(Tick());
    std::vector<Received> windows = sink.CallsOf(Received::DataChange);
    ASSERT_EQ(windows.size(), 100u);
    for (int k = 0; k < 100; ++k) {
        SCOPED_TRACE(k);
        const Received &w = windows[k];
        EXPECT_EQ(w.transactionId, 5u);
        EXPECT_EQ(w.clients, (std::vector<OPCHANDLE>{10, 20}));
        // Exactly what the window held, as on time.
        EXPECT_EQ(w.values[0].times, std::vector<uint64_t>{start + k * interval + interval / 2});
        ASSERT_EQ(w.values[0].values.size(), 1u);
        EXPECT_TRUE(SameValue(w.values[0].values[0].Get(), Variant::R8(k).Get()));
        EXPECT_EQ(w.codes, (std::vector<HRESULT>{S_OK, OPC_S_NODATA}));
        EXPECT_EQ(w.status, S_FALSE);
    }
    ASSERT_TRUE(Tick());
    EXPECT_EQ(Windows(), 100u);
}

// An interval of 0 would make every window the same instant, delivered
// again at every tick: the request is refused and nothing runs.
TEST_F(AsyncAdvise, UpdateIntervalZeroIsRefused)
{
    AddItem(1, 10);
    const uint64_t start = NowTicks() - 60 * kMinute;
    host.AddValue(ItemOf(1), start, Variant::R8(3));
    RequestOut out;
    EXPECT_EQ(Advise(1, start, 0, {1}, out), E_INVALIDARG);
    EXPECT_TRUE(out.Cleared());
    EXPECT_EQ(Pending(), 0u);
    for (int tick = 0; tick < 3; ++tick)
        ASSERT_TRUE(Tick());
    EXPECT_EQ(Windows(), 0u);
    EXPECT_TRUE(host.CallsOf(Method::GetTimeStamps).empty());
    // The smallest interval there is still makes a subscription.
    RequestOut smallest;
    ASSERT_EQ(Advise(2, start, 1, {1}, smallest), S_OK);
    EXPECT_EQ(Pending(), 1u);
}

TEST_F(AsyncAdvise, WindowWithoutDataStillDeliversWithNoDataCodes)
{
    AddItem(1, 10);
    AddItem(2, 20);
    const uint64_t start = NowTicks() - 15 * kMinute; // one window due
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
    const uint64_t start = NowTicks() - 25 * kMinute; // two windows due
    const uint64_t interval = 10 * kMinute;
    // 5500 values a tenth of a second apart, all in the first window.
    for (int i = 0; i < 5500; ++i)
        host.AddValue(ItemOf(1), start + kSecond + i * (kSecond / 10), Variant::R8(i));
    RequestOut out;
    ASSERT_EQ(Advise(8, start, interval, {1}, out), S_OK);
    ASSERT_TRUE(Tick());
    std::vector<Received> windows = sink.CallsOf(Received::DataChange);
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].codes, std::vector<HRESULT>{OPC_S_MOREDATA});
    EXPECT_EQ(windows[0].status, S_FALSE);
    ASSERT_EQ(windows[0].values[0].times.size(), 5000u);
    EXPECT_EQ(windows[0].values[0].times.front(), start + kSecond);
    EXPECT_EQ(windows[0].values[0].times.back(), start + kSecond + 4999 * (kSecond / 10));
    // The rest of that window is never delivered: the next window follows.
    EXPECT_EQ(windows[1].codes, std::vector<HRESULT>{OPC_S_NODATA});
    EXPECT_TRUE(windows[1].values[0].times.empty());
}

TEST_F(AsyncAdvise, AWindowThatCannotBeAllocatedIsSkippedNotRetried)
{
    TaskMallocSpy *spy = TaskMallocSpy::Instance();
    ASSERT_NE(spy, nullptr);
    AddItem(1, 10);
    // Far behind: every step delivers 32 windows.
    const uint64_t interval = 10 * kMinute;
    const uint64_t start = NowTicks() - 1000 * interval;
    RequestOut out;
    ASSERT_EQ(Advise(1, start, interval, {1}, out), S_OK);
    ASSERT_TRUE(Tick());
    ASSERT_EQ(Windows(), 32u);
    const long before = spy->Outstanding();

    // The first window of the next step: its result records cannot be
    // allocated; of the step after: its codes. Each is skipped, and the
    // step goes on with the next window.
    size_t expected = 32;
    uint64_t skipped[2];
    for (long nth : {1L, 2L}) {
        skipped[nth - 1] = start + expected * interval + (nth - 1) * interval;
        spy->FailNth(nth, 0); // the step's thread: nothing else allocates meanwhile
        ASSERT_TRUE(Tick());
        EXPECT_EQ(spy->Refused(), 1);
        spy->StopFailing();
        expected += 31;
        EXPECT_EQ(Windows(), expected);
    }
    EXPECT_EQ(spy->Outstanding(), before);
    std::vector<Call> reads = host.CallsOf(Method::GetTimeStamps);
    ASSERT_EQ(reads.size(), expected);
    // Every window but the two skipped ones was read once, in order.
    uint64_t next = start;
    for (const Call &c : reads) {
        while (next == skipped[0] || next == skipped[1])
            next += interval;
        EXPECT_EQ(c.start, next);
        EXPECT_EQ(c.end, next + interval);
        next += interval;
    }
}

TEST_F(AsyncAdvise, CancelEndsTheAdvise)
{
    AddItem(1, 10);
    RequestOut out;
    ASSERT_EQ(Advise(1, NowTicks() - 15 * kMinute, 10 * kMinute, {1}, out), S_OK);
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
    ASSERT_EQ(Advise(1, NowTicks() - 15 * kMinute, 10 * kMinute, {1}, out), S_OK);
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
    // Its worker destroys it, on a thread of its own: it may have done so
    // already (checking for exactly one here raced with it).
    EXPECT_LE(zq::HDAServer::LiveObjects(), 1);
    EXPECT_TRUE(AllServersDestroyed());
    EXPECT_EQ(sink.refs, 1);
    // Destroyed at the next tick, before running anything: no callback.
    EXPECT_EQ(sink.Count(), 0u);
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_EQ(spy->Outstanding(), before);
}

} // namespace
