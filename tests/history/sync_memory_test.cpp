// Task memory of the synchronous interfaces: every allocation of every
// method refused in turn, and a mixed run of reads and updates that must
// leave nothing behind in the server once the client has freed its results.
#include "sync_fixture.h"

#include <functional>

#include "malloc_spy.h"
#include "opchda_constants.h"

using namespace zqtest;

namespace {

class SyncMemory : public SyncTest
{
protected:
    void SetUp() override
    {
        spy = TaskMallocSpy::Instance();
        ASSERT_NE(spy, nullptr);
        SyncTest::SetUp();
        AddItem(1, 10);
        AddItem(2, 20);
        host.AddValue(ItemOf(1), Sec(-1), Variant::Str(L"before"));
        host.AddValue(ItemOf(1), Sec(1), Variant::Str(L"one"));
        host.AddValue(ItemOf(1), Sec(2), Variant::R8Array({1, 2}));
        host.AddValue(ItemOf(1), Sec(20), Variant::Str(L"after"));
        host.AddSeries(ItemOf(2), Sec(0), kSecond, 5);
        host.SetCurrentAttribute(ItemOf(1), kCurrentAttr, Sec(1), Variant::Str(L"desc"));
        host.AddAttributeValue(ItemOf(1), kHistoryAttr, Sec(-5), Variant::Str(L"max"));
    }

    TaskMallocSpy *spy = nullptr;
};

// The client's view of one call: the method's result and whether it handed
// out its arrays consistently.
struct Outcome
{
    HRESULT hr;
    bool outsNull;
};

TEST_F(SyncMemory, EveryRefusedAllocationIsAnsweredAndLeavesNothing)
{
    OPCHANDLE items[] = {1, 2, 99};
    DWORD aggregates[] = {3, kCountAggregate, 3};
    FILETIME times[] = {Ft(Sec(1)), Ft(Sec(2))};
    DWORD ids[] = {kCurrentAttr, kHistoryAttr};
    Variant values[] = {Variant::R8(1), Variant::R8(2), Variant::R8(3)};
    VARIANT raw[] = {values[0].Get(), values[1].Get(), values[2].Get()};
    FILETIME stamps[] = {Ft(Sec(50)), Ft(Sec(51)), Ft(Sec(52))};
    DWORD qualities[] = {0, 0, 0};

    struct Case
    {
        const char *name;
        std::function<Outcome()> run;
    };
    const Case cases[] = {
        {"ReadRaw", [&] {
             OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
             ReadOut out(3);
             HRESULT hr = read->ReadRaw(&s, &e, 0, TRUE, 3, items, &out.records, &out.errors);
             if (SUCCEEDED(hr)) {
                 for (int i = 0; i < 3; ++i) {
                     if (out.errors[i] == E_OUTOFMEMORY) {
                         EXPECT_EQ(out.records[i].dwCount, 0u);
                         EXPECT_EQ(out.records[i].pvDataValues, nullptr);
                     }
                 }
             }
             return Outcome{hr, out.BothNull()};
         }},
        {"ReadProcessed", [&] {
             OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(4));
             ReadOut out(3);
             HRESULT hr = read->ReadProcessed(&s, &e, Ft(kSecond), 3, items, aggregates,
                                              &out.records, &out.errors);
             return Outcome{hr, out.BothNull()};
         }},
        {"ReadAtTime", [&] {
             ReadOut out(3);
             HRESULT hr = read->ReadAtTime(2, times, 3, items, &out.records, &out.errors);
             return Outcome{hr, out.BothNull()};
         }},
        {"ReadAttribute", [&] {
             OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
             AttributeOut out(2);
             HRESULT hr = read->ReadAttribute(&s, &e, 1, 2, ids, &out.records, &out.errors);
             return Outcome{hr, out.BothNull()};
         }},
        {"DeleteRaw", [&] {
             OPCHDA_TIME s = TextTime(L"NOW-1D"), e = TextTime(L"NOW");
             ErrorsOut out;
             HRESULT hr = update->DeleteRaw(&s, &e, 3, items, &out.errors);
             return Outcome{hr, out.errors == nullptr};
         }},
        {"DeleteAtTime", [&] {
             ErrorsOut out;
             HRESULT hr = update->DeleteAtTime(3, items, stamps, &out.errors);
             return Outcome{hr, out.errors == nullptr};
         }},
        {"Insert", [&] {
             // Numbers only: the host's own copies hold no task memory.
             ErrorsOut out;
             HRESULT hr = update->Insert(3, items, stamps, raw, qualities, &out.errors);
             return Outcome{hr, out.errors == nullptr};
         }},
    };

    for (const Case &c : cases) {
        int refusals = 0;
        for (long n = 1;; ++n) {
            host.ClearCalls();
            long before = spy->Outstanding();
            Outcome outcome{};
            bool hit;
            {
                TaskAllocFailure failure(n);
                outcome = c.run();
                hit = failure.Hit();
            }
            host.ClearCalls();
            SCOPED_TRACE(::testing::Message() << c.name << " refusing allocation " << n);
            if (outcome.hr == E_OUTOFMEMORY) {
                EXPECT_TRUE(outcome.outsNull);
                ++refusals;
            } else {
                EXPECT_TRUE(SUCCEEDED(outcome.hr));
            }
            if (n == 1) {
                EXPECT_TRUE(hit);
                EXPECT_EQ(outcome.hr, E_OUTOFMEMORY); // the error array comes first
            }
            EXPECT_EQ(spy->Outstanding(), before);
            if (!hit)
                break;
            ASSERT_LT(n, 100);
        }
        EXPECT_GE(refusals, 1) << c.name;
    }
}

TEST_F(SyncMemory, ReadsAndUpdatesLeaveNoTaskMemoryBehind)
{
    long before = spy->Outstanding();
    OPCHANDLE items[] = {1, 2, 99};
    for (int round = 0; round < 3; ++round) {
        {
            OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
            ReadOut out(3);
            EXPECT_EQ(read->ReadRaw(&s, &e, 0, TRUE, 3, items, &out.records, &out.errors),
                      S_FALSE);
            EXPECT_EQ(out.records[0].dwCount, 4u);
        }
        {
            OPCHDA_TIME s = AbsoluteTime(Sec(10)), e = AbsoluteTime(Sec(0));
            ReadOut out(3);
            EXPECT_EQ(read->ReadRaw(&s, &e, 2, FALSE, 3, items, &out.records, &out.errors),
                      S_FALSE);
        }
        {
            FILETIME times[] = {Ft(Sec(1)), Ft(Sec(2)), Ft(Sec(3))};
            ReadOut out(3);
            read->ReadAtTime(3, times, 3, items, &out.records, &out.errors);
        }
        {
            OPCHDA_TIME s = TextTime(L"NOW-1D"), e = TextTime(L"NOW");
            DWORD aggregates[] = {3, 5, 3};
            ReadOut out(3);
            read->ReadProcessed(&s, &e, Ft(3600 * kSecond), 3, items, aggregates, &out.records,
                                &out.errors);
        }
        {
            OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
            DWORD ids[] = {kCurrentAttr, kHistoryAttr, 0x999};
            AttributeOut out(3);
            EXPECT_EQ(read->ReadAttribute(&s, &e, 1, 3, ids, &out.records, &out.errors),
                      S_FALSE);
        }
        {
            OPCHDA_TIME s = AbsoluteTime(Sec(0));
            ReadOut out(1);
            EXPECT_EQ(read->ReadRaw(&s, nullptr, 0, FALSE, 1, items, &out.records, &out.errors),
                      E_INVALIDARG);
        }
        {
            Variant values[] = {Variant::Str(L"new"), Variant::R8Array({4, 5}), Variant::R8(0)};
            VARIANT raw[] = {values[0].Get(), values[1].Get(), values[2].Get()};
            FILETIME stamps[] = {Ft(Sec(100)), Ft(Sec(100)), Ft(Sec(100))};
            DWORD qualities[] = {0, 0, 0};
            ErrorsOut inserted, replaced, removed;
            update->InsertReplace(3, items, stamps, raw, qualities, &inserted.errors);
            update->Replace(3, items, stamps, raw, qualities, &replaced.errors);
            OPCHDA_UPDATECAPABILITIES caps;
            update->QueryCapabilities(&caps);
            // The host gives its copies back when the values are deleted.
            EXPECT_EQ(update->DeleteAtTime(3, items, stamps, &removed.errors), S_FALSE);
            EXPECT_EQ(removed.errors[0], S_OK);
            EXPECT_EQ(removed.errors[1], S_OK);
        }
        {
            OPCHDA_TIME s = TextTime(L"DAY"), e = TextTime(L"NOW");
            ErrorsOut out;
            update->DeleteRaw(&s, &e, 3, items, &out.errors);
        }
        host.ClearCalls();
    }
    EXPECT_EQ(spy->Outstanding(), before);
}

} // namespace
