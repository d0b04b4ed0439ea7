// Processed-data advise through the in-process server: off until the host
// switches it on, the request's argument checks once on, every due window
// delivered in order with what a processed read of that window gives, a
// backlog caught up a limited number of windows per step, and Cancel
// stopping windows that are already due.
#include "async_fixture.h"

#include "malloc_spy.h"
#include "opchda_constants.h"

using namespace zqtest;

namespace {

constexpr DWORD kAverage = 3;

class AsyncAdviseProcessed : public AsyncTest
{
protected:
    void TearDown() override
    {
        EnableHDAAdviseProcessed(0);
        AsyncTest::TearDown();
    }

    HRESULT Advise(DWORD tid, uint64_t start, uint64_t interval, std::vector<OPCHANDLE> items,
                   std::vector<DWORD> aggregates, RequestOut &out)
    {
        OPCHDA_TIME s = AbsoluteTime(start);
        return read->AdviseProcessed(tid, &s, Ft(interval), static_cast<DWORD>(items.size()),
                                     items.data(), aggregates.data(), 0, &out.cancelId,
                                     &out.errors);
    }

    size_t Windows() const { return sink.CallsOf(Received::DataChange).size(); }
};

TEST_F(AsyncAdviseProcessed, OffUntilSwitchedOnThenChecksItsArguments)
{
    AddItem(1, 10);
    OPCHANDLE h = 1;
    DWORD aggregate = kAverage;
    OPCHDA_TIME s = AbsoluteTime(NowTicks() - kMinute), bad = TextTime(L"NOT A TIME");
    const FILETIME second = Ft(kSecond), zero = Ft(0);
    auto call = [&](OPCHDA_TIME *start, FILETIME interval, DWORD n, OPCHANDLE *handles,
                    DWORD *aggregates, RequestOut &out, bool withCancel = true,
                    bool withErrors = true) {
        return read->AdviseProcessed(1, start, interval, n, handles, aggregates, 5,
                                     withCancel ? &out.cancelId : nullptr,
                                     withErrors ? &out.errors : nullptr);
    };
    {
        RequestOut out;
        EXPECT_EQ(call(&s, second, 1, &h, &aggregate, out), E_NOTIMPL);
        EXPECT_TRUE(out.Cleared());
    }
    EXPECT_EQ(EnableHDAAdviseProcessed(1), 0);
    struct Case
    {
        const char *name;
        std::function<HRESULT(RequestOut &)> run;
    };
    const Case cases[] = {
        {"no items", [&](RequestOut &o) { return call(&s, second, 0, &h, &aggregate, o); }},
        {"null handles", [&](RequestOut &o) { return call(&s, second, 1, nullptr, &aggregate, o); }},
        {"null aggregates", [&](RequestOut &o) { return call(&s, second, 1, &h, nullptr, o); }},
        {"null start", [&](RequestOut &o) { return call(nullptr, second, 1, &h, &aggregate, o); }},
        {"bad start", [&](RequestOut &o) { return call(&bad, second, 1, &h, &aggregate, o); }},
        {"zero interval", [&](RequestOut &o) { return call(&s, zero, 1, &h, &aggregate, o); }},
        {"null cancel", [&](RequestOut &o) { o.cancelId = 0; return call(&s, second, 1, &h, &aggregate, o, false); }},
        {"null errors", [&](RequestOut &o) { return call(&s, second, 1, &h, &aggregate, o, true, false); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RequestOut out;
        EXPECT_EQ(c.run(out), E_INVALIDARG);
        EXPECT_EQ(out.cancelId, 0u);
        if (out.errors != RequestOut::Unset()) {
            EXPECT_EQ(out.errors, nullptr);
        }
    }
    EXPECT_EQ(Pending(), 0u);
    EXPECT_TRUE(host.Calls().empty());
    // Switched off again: refused as before.
    EXPECT_EQ(EnableHDAAdviseProcessed(0), 1);
    RequestOut out;
    EXPECT_EQ(call(&s, second, 1, &h, &aggregate, out), E_NOTIMPL);
    EXPECT_TRUE(out.Cleared());
}

TEST_F(AsyncAdviseProcessed, EachDueWindowGivesWhatAProcessedReadOfThatWindowGives)
{
    EnableHDAAdviseProcessed(1);
    AddItem(1, 10);
    AddItem(2, 20);
    const uint64_t interval = 10 * kMinute;
    const uint64_t start = NowTicks() - 65 * kMinute; // six windows due
    // A value every three minutes: 4, 3, 3, 4, 3, 3 values in the windows.
    host.AddSeries(ItemOf(1), start, 3 * kMinute, 22);
    host.AddSeries(ItemOf(2), start, 3 * kMinute, 22, 100);
    RequestOut out;
    ASSERT_EQ(Advise(42, start, interval, {1, 99, 2}, {kCountAggregate, kAverage, kAverage}, out),
              S_FALSE);
    EXPECT_EQ(out.Errors(3), (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    for (int tick = 1; tick <= 3; ++tick) {
        ASSERT_TRUE(Tick());
        EXPECT_EQ(Windows(), 6u) << "after tick " << tick;
    }
    const std::vector<Received> windows = sink.CallsOf(Received::DataChange);
    ASSERT_EQ(windows.size(), 6u);

    // The processed read of the same six windows.
    host.ClearCalls();
    sink.Clear();
    Received whole;
    ASSERT_NO_FATAL_FAILURE(
        ReadSameWindows(7, start, interval, 6, {1, 2}, {kCountAggregate, kAverage}, &whole));

    const long counts[] = {4, 3, 3, 4, 3, 3};
    for (size_t k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        const Received &w = windows[k];
        EXPECT_EQ(w.transactionId, 42u);
        EXPECT_TRUE(w.arraysGiven);
        EXPECT_EQ(w.clients, (std::vector<OPCHANDLE>{10, 0xFFFFFFFF, 20}));
        EXPECT_EQ(w.codes, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
        EXPECT_EQ(w.status, S_FALSE);
        // One interval per item: the window's own, as the read gave it.
        ExpectWindowAsRead(w, k, start + k * interval, whole, {{0, 0}, {2, 1}});
        EXPECT_EQ(w.values[0].values[0].Get().lVal, counts[k]);
        EXPECT_TRUE(w.values[1].times.empty());
    }
}

TEST_F(AsyncAdviseProcessed, ABacklogCatchesUpInOrderAndCancelStopsWindowsAlreadyDue)
{
    TaskMallocSpy *spy = TaskMallocSpy::Instance();
    ASSERT_NE(spy, nullptr);
    EnableHDAAdviseProcessed(1);
    AddItem(1, 10);
    const uint64_t interval = kMinute;
    const uint64_t start = NowTicks() - 200 * interval;
    // Window k holds k values (k < 100), each of value k.
    for (int k = 0; k < 100; ++k)
        for (int i = 0; i < k; ++i)
            host.AddValue(ItemOf(1), start + k * interval + i * (kSecond / 2), Variant::R8(k));
    const long before = spy->Outstanding();
    RequestOut caught, cancelled;
    ASSERT_EQ(Advise(5, start, interval, {1}, {kCountAggregate}, caught), S_OK);
    ASSERT_EQ(Advise(6, start, interval, {1}, {kAverage}, cancelled), S_OK);
    ASSERT_TRUE(Tick());
    // At most 32 windows of each advise in one step.
    EXPECT_EQ(Windows(), 64u);

    // The second advise is cancelled with 168 windows still due: none of
    // them comes; the first catches up at the next steps.
    EXPECT_EQ(read->Cancel(cancelled.cancelId), S_OK);
    EXPECT_EQ(Pending(), 1u);
    for (int tick = 0; tick < 7; ++tick)
        ASSERT_TRUE(Tick());
    std::vector<Received> counts, averages;
    for (const Received &w : sink.CallsOf(Received::DataChange))
        (w.transactionId == 5 ? counts : averages).push_back(w);
    ASSERT_EQ(averages.size(), 32u);
    ASSERT_GE(counts.size(), 200u);
    for (size_t k = 0; k < counts.size(); ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(counts[k].values[0].values.size(), 1u);
        EXPECT_EQ(counts[k].values[0].times, std::vector<uint64_t>{start + k * interval});
        EXPECT_EQ(counts[k].values[0].values[0].Get().lVal, k < 100 ? static_cast<long>(k) : 0);
        if (k < 32) {
            EXPECT_EQ(averages[k].values[0].times, counts[k].values[0].times);
            if (k > 0) {
                EXPECT_DOUBLE_EQ(averages[k].values[0].values[0].Get().dblVal,
                                 static_cast<double>(k));
            }
        }
    }
    EXPECT_EQ(read->Cancel(caught.cancelId), S_OK);
    EXPECT_EQ(Pending(), 0u);
    CoTaskMemFree(caught.errors);
    caught.errors = nullptr;
    CoTaskMemFree(cancelled.errors);
    cancelled.errors = nullptr;
    // Everything delivered was given back.
    EXPECT_EQ(spy->Outstanding(), before);
}

} // namespace
