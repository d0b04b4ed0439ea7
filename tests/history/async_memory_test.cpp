// Memory of the asynchronous interfaces: every task allocation and every
// heap allocation of every request refused in turn (E_OUTOFMEMORY, nothing
// queued, nothing left behind), and a mixed run of reads, updates and
// advises, delivered, cancelled and undeliverable, that leaves no task
// memory behind in the server.
#include "async_fixture.h"

#include <functional>
#include <stdexcept>

#include "alloc_counter.h"
#include "history/transaction.h"
#include "malloc_spy.h"
#include "opchda_constants.h"

using namespace zqtest;

namespace {

class AsyncMemory : public AsyncTest
{
protected:
    void SetUp() override
    {
        spy = TaskMallocSpy::Instance();
        ASSERT_NE(spy, nullptr);
        AsyncTest::SetUp();
        AddItem(1, 10);
        AddItem(2, 20, TRUE, TRUE, "writer");
        host.AddValue(ItemOf(1), Sec(1), Variant::Str(L"one"));
        host.AddValue(ItemOf(1), Sec(2), Variant::R8Array({1, 2}));
        host.AddSeries(ItemOf(2), Sec(0), kSecond, 5);
        host.SetCurrentAttribute(ItemOf(1), 0x02, Sec(1), Variant::Str(L"desc"));
        values_[0] = Variant::Str(L"a");
        values_[1] = Variant::R8Array({3});
        values_[2] = Variant::R8(1);
    }

    struct Request
    {
        const char *name;
        std::function<HRESULT(RequestOut &)> run;
    };

    // One of each request over items 1, 2 and an unknown one.
    std::vector<Request> Requests()
    {
        return {
            {"ReadRaw", [this](RequestOut &o) {
                 OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
                 return read->ReadRaw(1, &s, &e, 0, TRUE, 3, items_, &o.cancelId, &o.errors);
             }},
            {"AdviseRaw", [this](RequestOut &o) {
                 OPCHDA_TIME s = AbsoluteTime(NowTicks() - 60 * kMinute);
                 return read->AdviseRaw(2, &s, Ft(10 * kMinute), 3, items_, &o.cancelId,
                                        &o.errors);
             }},
            {"ReadProcessed", [this](RequestOut &o) {
                 OPCHDA_TIME s = TextTime(L"NOW-1D"), e = TextTime(L"NOW");
                 DWORD aggregates[] = {3, kCountAggregate, 3};
                 return read->ReadProcessed(3, &s, &e, Ft(3600 * kSecond), 3, items_, aggregates,
                                            &o.cancelId, &o.errors);
             }},
            {"ReadAtTime", [this](RequestOut &o) {
                 FILETIME times[] = {Ft(Sec(1)), Ft(Sec(2))};
                 return read->ReadAtTime(4, 2, times, 3, items_, &o.cancelId, &o.errors);
             }},
            {"ReadAttribute", [this](RequestOut &o) {
                 OPCHDA_TIME s = AbsoluteTime(Sec(0));
                 DWORD ids[] = {0x02, 0x0B};
                 return read->ReadAttribute(5, &s, nullptr, 1, 2, ids, &o.cancelId, &o.errors);
             }},
            {"Insert", [this](RequestOut &o) {
                 VARIANT raw[] = {values_[0].Get(), values_[1].Get(), values_[2].Get()};
                 FILETIME stamps[] = {Ft(Sec(50)), Ft(Sec(50)), Ft(Sec(50))};
                 DWORD qualities[] = {0, 0, 0};
                 return update->Insert(6, 3, items_, stamps, raw, qualities, &o.cancelId,
                                       &o.errors);
             }},
            {"DeleteRaw", [this](RequestOut &o) {
                 OPCHDA_TIME s = TextTime(L"NOW-1D"), e = TextTime(L"NOW");
                 return update->DeleteRaw(7, &s, &e, 3, items_, &o.cancelId, &o.errors);
             }},
            {"DeleteAtTime", [this](RequestOut &o) {
                 FILETIME stamps[] = {Ft(Sec(60)), Ft(Sec(60)), Ft(Sec(60))};
                 return update->DeleteAtTime(8, 3, items_, stamps, &o.cancelId, &o.errors);
             }},
        };
    }

    TaskMallocSpy *spy = nullptr;

private:
    OPCHANDLE items_[3] = {1, 2, 99};
    // Made before any refusal is armed: only the server's own allocations
    // are refused.
    Variant values_[3];
};

// Runs one request with a refusal armed by arm(n) for n = 1, 2, ... until
// a run refuses nothing; every refused run must answer E_OUTOFMEMORY with
// its out values cleared and queue nothing, and every run must leave the
// task memory as it found it once its transaction is cancelled.
template <typename Arm>
void RefuseInTurn(const char *name, const std::function<HRESULT(RequestOut &)> &run,
                  TaskMallocSpy *spy, const std::function<size_t()> &pending,
                  const std::function<void(DWORD)> &cancel, Arm &&arm)
{
    int refusals = 0;
    for (long n = 1;; ++n) {
        SCOPED_TRACE(::testing::Message() << name << " refusing allocation " << n);
        const long before = spy->Outstanding();
        HRESULT hr;
        bool hit;
        {
            RequestOut out;
            {
                auto failure = arm(n);
                hr = run(out);
                hit = failure->Hit();
            }
            if (hr == E_OUTOFMEMORY) {
                EXPECT_TRUE(out.Cleared());
                EXPECT_EQ(pending(), 0u);
                ++refusals;
            } else {
                EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
                EXPECT_EQ(pending(), 1u);
                cancel(out.cancelId);
            }
        }
        EXPECT_EQ(spy->Outstanding(), before);
        if (!hit)
            break;
        ASSERT_LT(n, 200);
    }
    EXPECT_GE(refusals, 1) << name;
}

// Adapters with a common Hit() for the two kinds of refusal.
struct TaskRefusal
{
    explicit TaskRefusal(long n) : failure(n) {}
    bool Hit() const { return failure.Hit(); }
    TaskAllocFailure failure;
};
struct HeapRefusal
{
    explicit HeapRefusal(long n) : failure(n - 1) {}
    bool Hit() const { return failure.Refused() > 0; }
    AllocFailure failure;
};

TEST_F(AsyncMemory, EveryRefusedTaskAllocationIsAnsweredAndLeavesNothing)
{
    for (const Request &r : Requests()) {
        RefuseInTurn(
            r.name, r.run, spy, [this] { return Pending(); },
            [this](DWORD id) { read->Cancel(id); },
            [](long n) { return std::make_unique<TaskRefusal>(n); });
    }
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(AsyncMemory, EveryRefusedHeapAllocationIsAnsweredAndLeavesNothing)
{
    // The list keeps its capacity once grown: grow it before counting.
    {
        RequestOut out;
        ASSERT_TRUE(SUCCEEDED(Requests()[0].run(out)));
        read->Cancel(out.cancelId);
    }
    for (const Request &r : Requests()) {
        const long long live = LiveAllocations();
        RefuseInTurn(
            r.name, r.run, spy, [this] { return Pending(); },
            [this](DWORD id) { update->Cancel(id); },
            [](long n) { return std::make_unique<HeapRefusal>(n); });
        EXPECT_EQ(LiveAllocations(), live) << r.name;
    }
}

TEST_F(AsyncMemory, HostThatThrowsEndsItsTransactionAndLeavesNothing)
{
    AddItem(3, 30);
    host.AddSeries(ItemOf(3), Sec(0), kSecond, 4);
    const long before = spy->Outstanding();
    // Item 2 has been read (its record holds values) when item 3's first
    // value throws.
    host.SetHook([&](Method m, void *item) {
        if (m == Method::ReadAt && item == ItemOf(3))
            throw std::runtime_error("host failure");
    });
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    OPCHANDLE items[] = {2, 3};
    // The step ends the transaction without a callback and leaves nothing.
    auto endedLeavingNothing = [&] {
        ASSERT_TRUE(Tick());
        EXPECT_EQ(Pending(), 0u);
        EXPECT_EQ(sink.Count(), 0u);
        EXPECT_GE(host.CountOf(Method::ReadAt), 5);
        host.ClearCalls();
        EXPECT_EQ(spy->Outstanding(), before);
    };
    {
        RequestOut out;
        ASSERT_EQ(read->ReadRaw(1, &s, &e, 0, FALSE, 2, items, &out.cancelId, &out.errors), S_OK);
    }
    endedLeavingNothing();
    // The same in an advise's window.
    {
        RequestOut out;
        ASSERT_EQ(read->AdviseRaw(3, &s, Ft(10 * kSecond), 2, items, &out.cancelId, &out.errors),
                  S_OK);
    }
    endedLeavingNothing();

    // The next request is served.
    host.SetHook(nullptr);
    {
        RequestOut out;
        ASSERT_EQ(read->ReadRaw(2, &s, &e, 0, FALSE, 2, items, &out.cancelId, &out.errors), S_OK);
    }
    ASSERT_TRUE(Tick());
    ASSERT_EQ(sink.Count(), 1u);
    EXPECT_EQ(sink.Calls()[0].codes, (std::vector<HRESULT>{S_OK, S_OK}));
}

TEST_F(AsyncMemory, DeliveredCancelledAndUndeliverableWorkLeavesNoTaskMemory)
{
    const long before = spy->Outstanding();
    for (int round = 0; round < 2; ++round) {
        // Delivered: one of each request, then one more advise window.
        for (const Request &r : Requests()) {
            RequestOut out;
            EXPECT_TRUE(SUCCEEDED(r.run(out))) << r.name;
        }
        ASSERT_TRUE(Tick());
        ASSERT_TRUE(Tick());
        EXPECT_GE(sink.Count(), Requests().size() + 1);
        EXPECT_EQ(Pending(), 1u); // the advise
        // Cancelled: the live advise and a fresh request of each kind.
        for (const Request &r : Requests()) {
            RequestOut out;
            ASSERT_TRUE(SUCCEEDED(r.run(out))) << r.name;
            EXPECT_EQ(update->Cancel(out.cancelId), S_OK);
        }
        EXPECT_EQ(Pending(), 1u);
        {
            server->Requests().Lock();
            DWORD adviseId = server->Requests().Transactions().front()->CancelId();
            server->Requests().Unlock();
            EXPECT_EQ(read->Cancel(adviseId), S_OK);
        }
        EXPECT_EQ(Pending(), 0u);
        // Undeliverable: no sink when the step runs.
        Unadvise();
        for (const Request &r : Requests()) {
            RequestOut out;
            ASSERT_TRUE(SUCCEEDED(r.run(out))) << r.name;
        }
        ASSERT_TRUE(Tick());
        EXPECT_EQ(Pending(), 0u);
        ASSERT_EQ(point->Advise(static_cast<IOPCHDA_DataCallback *>(&sink), &cookie), S_OK);

        // The client's copies of what it received, and the host's of what
        // it stored, are given back before counting.
        sink.Clear();
        host.ClearCalls();
        {
            FILETIME stamps[] = {Ft(Sec(50)), Ft(Sec(50)), Ft(Sec(50))};
            OPCHANDLE items[] = {1, 2, 99};
            RequestOut removed;
            ASSERT_EQ(update->DeleteAtTime(9, 3, items, stamps, &removed.cancelId,
                                           &removed.errors),
                      S_FALSE);
        }
        ASSERT_TRUE(Tick());
        ASSERT_EQ(sink.Count(), 1u);
        EXPECT_EQ(sink.Calls()[0].codes, (std::vector<HRESULT>{S_OK, S_OK, OPC_E_INVALIDHANDLE}));
        sink.Clear();
        host.ClearCalls();
        EXPECT_EQ(spy->Outstanding(), before) << "round " << round;
    }
}

} // namespace
