// The raw read of the read engine: capacity and count query, bounds, the
// full list, the more-data test in both directions, failed values, the
// context value, and hosts that answer counts out of range.
#include "engine_fixture.h"

#include <climits>

#include "alloc_counter.h"
#include "history/read_limits.h"

#include "opchda_constants.h"

using namespace zqtest;
using zq::kQualityNoBound;
using zq::kQualityNoValue;
using zq::RunReadRaw;

namespace {

void *const kItem = ItemAt(0x1000);

class RawRead : public EngineTest
{
protected:
    // Reads [from, to] (seconds from kBase), either bound may be absent.
    HRESULT Read(ItemRecord &rec, std::optional<int64_t> from, std::optional<int64_t> to,
                 DWORD numValues, BOOL bounds)
    {
        FILETIME s = Ft(from ? Sec(*from) : 0), e = Ft(to ? Sec(*to) : 0);
        return RunReadRaw(zq::Host(), kItem, rec.r, from ? &s : nullptr, to ? &e : nullptr, numValues,
                          bounds);
    }

    static std::vector<uint64_t> Secs(std::initializer_list<int64_t> seconds)
    {
        std::vector<uint64_t> out;
        for (int64_t s : seconds)
            out.push_back(Sec(s));
        return out;
    }
};

TEST_F(RawRead, WithoutCallbackObjectThereIsNoDataAndNoRecord)
{
    host.AddSeries(kItem, Sec(1), kSecond, 3);
    SetHDAServerCallback(nullptr);
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 10, 0, FALSE), OPC_S_NODATA);
    EXPECT_TRUE(rec.Empty());
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(RawRead, CountQueryGivesEveryValueAndNeverMoreData)
{
    host.AddSeries(kItem, Sec(1), kSecond, 7, 100); // 1..7 s: 100..106
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 10, 0, FALSE), S_OK);

    std::vector<Call> counts = host.CallsOf(Method::GetTimeStamps);
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_EQ(counts[0].maxCount, 0);
    EXPECT_FALSE(counts[0].arrayGiven);
    EXPECT_EQ(counts[1].maxCount, 10); // 7 + room for two bounds
    EXPECT_TRUE(counts[1].arrayGiven);

    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.times, Secs({1, 2, 3, 4, 5, 6, 7}));
    for (size_t i = 0; i < v.values.size(); ++i) {
        EXPECT_TRUE(SameValue(v.values[i].Get(), Variant::R8(100.0 + i).Get())) << i;
        EXPECT_EQ(v.qualities[i], kGoodQuality);
    }
    EXPECT_EQ(rec.r.haAggregate, 0u);
    EXPECT_EQ(host.CountOf(Method::GetNextTimeStamp), 0); // no more-data test
}

TEST_F(RawRead, CountQueryWithBoundsAddsTheValuesJustOutside)
{
    host.AddValue(kItem, Sec(-5), Variant::R8(-5), 0x40);
    host.AddSeries(kItem, Sec(1), kSecond, 7, 1);
    host.AddValue(kItem, Sec(20), Variant::R8(20), 0x41);
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 10, 0, TRUE), S_OK);
    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.times, Secs({-5, 1, 2, 3, 4, 5, 6, 7, 20}));
    EXPECT_EQ(v.qualities.front(), 0x40u);
    EXPECT_EQ(v.qualities.back(), 0x41u);
    EXPECT_TRUE(SameValue(v.values.front().Get(), Variant::R8(-5).Get()));
    EXPECT_TRUE(SameValue(v.values.back().Get(), Variant::R8(20).Get()));
    // The start-side bound is the value before the start, the end-side one
    // the value after the end.
    ASSERT_EQ(host.CountOf(Method::GetPreviousTimeStamp), 1);
    EXPECT_EQ(host.CallsOf(Method::GetPreviousTimeStamp)[0].time, Sec(0));
    ASSERT_EQ(host.CountOf(Method::GetNextTimeStamp), 1);
    EXPECT_EQ(host.CallsOf(Method::GetNextTimeStamp)[0].time, Sec(10));
}

TEST_F(RawRead, BoundsOnExactStampsAddNothingAndKeepTheHostsQualities)
{
    host.AddValue(kItem, Sec(-1), Variant::R8(0));
    host.AddValue(kItem, Sec(0), Variant::R8(1), 0x44);
    host.AddValue(kItem, Sec(2), Variant::R8(2));
    host.AddValue(kItem, Sec(4), Variant::R8(3), 0x48);
    host.AddValue(kItem, Sec(5), Variant::R8(4));
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 4, 0, TRUE), S_OK);
    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.times, Secs({0, 2, 4}));
    EXPECT_EQ(v.qualities, (std::vector<DWORD>{0x44, kGoodQuality, 0x48}));
    EXPECT_EQ(host.CountOf(Method::GetPreviousTimeStamp), 0);
    EXPECT_EQ(host.CountOf(Method::GetNextTimeStamp), 0);
}

TEST_F(RawRead, MissingBoundsAreMarkedWithTheTimeTheyWereSoughtFor)
{
    host.AddSeries(kItem, Sec(1), kSecond, 3);
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 10, 0, TRUE), S_OK);
    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.times, Secs({0, 1, 2, 3, 10}));
    EXPECT_EQ(v.qualities.front(), kQualityNoBound);
    EXPECT_EQ(v.qualities.back(), kQualityNoBound);
    EXPECT_EQ(v.values.front().Type(), VT_EMPTY);
    EXPECT_EQ(v.values.back().Type(), VT_EMPTY);
    // Nothing is read for a missing bound.
    EXPECT_EQ(host.CountOf(Method::ReadAt), 3);
}

TEST_F(RawRead, AFullListReportsMoreDataOnlyWhenMoreLiesBeforeTheEnd)
{
    host.AddSeries(kItem, Sec(1), kSecond, 20);
    {
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 0, 30, 5, FALSE), OPC_S_MOREDATA);
        EXPECT_EQ(ValuesOf(rec.r).times, Secs({1, 2, 3, 4, 5}));
        ASSERT_EQ(host.CountOf(Method::GetNextTimeStamp), 1);
        EXPECT_EQ(host.CallsOf(Method::GetNextTimeStamp)[0].time, Sec(5));
    }
    host.AddValue(kItem, Sec(25), Variant::R8(25));
    {
        // Exactly five in range; the next value lies after the end.
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 16, 20, 5, FALSE), S_OK);
        EXPECT_EQ(ValuesOf(rec.r).times, Secs({16, 17, 18, 19, 20}));
    }
    {
        // Fewer than asked: not full, no test.
        host.ClearCalls();
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 18, 30, 5, FALSE), S_OK);
        EXPECT_EQ(ValuesOf(rec.r).times, Secs({18, 19, 20, 25}));
        EXPECT_EQ(host.CountOf(Method::GetNextTimeStamp), 0);
    }
}

TEST_F(RawRead, TheStartBoundPushesTheLastValueOutOfAFullList)
{
    host.AddSeries(kItem, Sec(1), kSecond, 20);
    host.AddValue(kItem, Sec(-3), Variant::R8(-3));
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 30, 5, TRUE), OPC_S_MOREDATA);
    EXPECT_EQ(ValuesOf(rec.r).times, Secs({-3, 1, 2, 3, 4}));
    // No end-side bound was asked for; the only next-stamp question is the
    // more-data test, from the entry before the last.
    std::vector<Call> next = host.CallsOf(Method::GetNextTimeStamp);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].time, Sec(3));
}

TEST_F(RawRead, ABackwardsReadAsksTheOtherNeighbourForEachBound)
{
    host.AddValue(kItem, Sec(-2), Variant::R8(-2));
    host.AddSeries(kItem, Sec(1), kSecond, 5); // 1..5
    host.AddValue(kItem, Sec(12), Variant::R8(12));
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 10, 0, 0, TRUE), S_OK);
    EXPECT_EQ(ValuesOf(rec.r).times, Secs({12, 5, 4, 3, 2, 1, -2}));
    std::vector<Call> next = host.CallsOf(Method::GetNextTimeStamp);
    std::vector<Call> previous = host.CallsOf(Method::GetPreviousTimeStamp);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].time, Sec(10)); // start side
    ASSERT_EQ(previous.size(), 1u);
    EXPECT_EQ(previous[0].time, Sec(0)); // end side
}

TEST_F(RawRead, ABackwardsFullListLooksForMoreDataBeforeTheLastValue)
{
    host.AddSeries(kItem, Sec(1), kSecond, 20);
    {
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 20, 0, 3, FALSE), OPC_S_MOREDATA);
        EXPECT_EQ(ValuesOf(rec.r).times, Secs({20, 19, 18}));
        std::vector<Call> previous = host.CallsOf(Method::GetPreviousTimeStamp);
        ASSERT_EQ(previous.size(), 1u);
        EXPECT_EQ(previous[0].time, Sec(18));
    }
    {
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 3, 1, 3, FALSE), S_OK); // 3, 2, 1: nothing left before 1
    }
}

TEST_F(RawRead, AnAbsentTimeReadsWithoutBoundsAndWithoutMoreData)
{
    host.AddSeries(kItem, Sec(1), kSecond, 10);
    {
        // No start: backwards from the end.
        ItemRecord rec;
        EXPECT_EQ(Read(rec, std::nullopt, 8, 3, TRUE), S_OK);
        EXPECT_EQ(ValuesOf(rec.r).times, Secs({8, 7, 6}));
        std::vector<Call> ts = host.CallsOf(Method::GetTimeStamps);
        ASSERT_EQ(ts.size(), 1u);
        EXPECT_FALSE(ts[0].hasStart);
        EXPECT_TRUE(ts[0].hasEnd);
    }
    {
        // No end: forwards from the start.
        host.ClearCalls();
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 2, std::nullopt, 3, TRUE), S_OK);
        EXPECT_EQ(ValuesOf(rec.r).times, Secs({2, 3, 4}));
    }
    EXPECT_EQ(host.CountOf(Method::GetPreviousTimeStamp), 0);
    EXPECT_EQ(host.CountOf(Method::GetNextTimeStamp), 0);
}

TEST_F(RawRead, AFailedValueIsMarkedAndTheItemStillSucceeds)
{
    host.AddSeries(kItem, Sec(1), kSecond, 3);
    host.ForceResultAt(Method::ReadAt, Sec(2), E_FAIL);
    host.ForceResultAt(Method::ReadAt, Sec(3), S_FALSE); // success codes fail too
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 10, 0, FALSE), S_OK);
    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.qualities, (std::vector<DWORD>{kGoodQuality, kQualityNoValue, kQualityNoValue}));
    EXPECT_EQ(v.values[1].Type(), VT_EMPTY);
    EXPECT_EQ(v.times, Secs({1, 2, 3}));
    for (const Call &c : host.CallsOf(Method::ReadAt))
        EXPECT_TRUE(c.valueEmptyOnEntry);
}

TEST_F(RawRead, TheContextValueReachesEveryLaterCallOfTheItem)
{
    // Pointer-sized: on x86_64 the upper half must come back too.
    const ULONG_PTR kContext = static_cast<ULONG_PTR>(sizeof(ULONG_PTR) == 8 ? 0xC0FFEE0012345678ull : 0xC0FFEEu);
    static_assert(sizeof(ULONG_PTR) == sizeof(void *), "a host can keep a pointer in the context value");
    host.AddValue(kItem, Sec(-1), Variant::R8(0));
    host.AddSeries(kItem, Sec(1), kSecond, 10);
    host.SetContext(kContext);
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 5, 4, TRUE), OPC_S_MOREDATA);
    std::vector<Call> calls = host.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].method, Method::GetTimeStamps);
    EXPECT_EQ(calls[0].context, 0u); // set to 0 before the host fills it
    int later = 0;
    for (const Call &c : calls) {
        if (c.method == Method::ReadAt || c.method == Method::GetPreviousTimeStamp ||
            c.method == Method::GetNextTimeStamp) {
            EXPECT_EQ(c.context, kContext) << MethodName(c.method);
            ++later;
        }
    }
    EXPECT_GE(later, 6); // a bound, four reads, the more-data test
}

TEST_F(RawRead, EachItemStartsWithContextZero)
{
    host.AddSeries(kItem, Sec(1), kSecond, 2);
    host.SetContext(7);
    ItemRecord first, second;
    Read(first, 0, 5, 0, FALSE);
    Read(second, 0, 5, 0, FALSE);
    std::vector<Call> ts = host.CallsOf(Method::GetTimeStamps);
    ASSERT_EQ(ts.size(), 4u);
    EXPECT_EQ(ts[0].context, 0u);
    EXPECT_EQ(ts[2].context, 0u);
}

// Hosts that answer counts out of range never make the engine step outside
// the list it handed over, and get a defined answer.
TEST_F(RawRead, NegativeCountsMeanNoData)
{
    host.AddSeries(kItem, Sec(1), kSecond, 3);
    host.SetCountAnswer(-4);
    {
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 0, 10, 0, FALSE), OPC_S_NODATA);
        EXPECT_TRUE(rec.Empty());
    }
    host.ClearKnobs();
    host.SetFillAnswer(-1);
    {
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 0, 10, 5, FALSE), OPC_S_NODATA);
        EXPECT_TRUE(rec.Empty());
    }
}

TEST_F(RawRead, ACountBeyondTheCapacityIsCutToTheCapacity)
{
    host.SetOverfill(1000000); // fills all places, then claims a million more
    {
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 0, 100, 6, FALSE), S_OK); // the host has no values after them
        EXPECT_EQ(rec.r.dwCount, 6u);
        EXPECT_EQ(ValuesOf(rec.r).times, Secs({1, 2, 3, 4, 5, 6}));
    }
    {
        // After a count query of 4 the capacity is 7; bounds cannot grow it.
        host.SetCountAnswer(4);
        ItemRecord rec;
        Read(rec, 0, 100, 0, TRUE);
        EXPECT_EQ(rec.r.dwCount, 7u);
    }
}

// The largest GetTimeStamps capacity asked for since the host's calls were
// cleared.
int LargestCapacity(const TestHost &host)
{
    int largest = 0;
    for (const Call &c : host.CallsOf(Method::GetTimeStamps))
        largest = c.maxCount > largest ? c.maxCount : largest;
    return largest;
}

// Without limits of the host's, a read of everything, or of more values
// than one reply carries, asks the host for no more than that many and
// tells the client that there is more: however many values a host claims,
// the memory of the read stays that of one reply.
TEST_F(RawRead, ReadsStopAtTheBoundOfOneReply)
{
    const int bound = static_cast<int>(zq::kReplyValueLimit);
    for (int count : {INT_MAX, INT_MAX - 2, 0x10000000}) {
        host.SetCountAnswer(count); // claimed, never delivered
        host.ClearCalls();
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 0, 10, 0, FALSE), OPC_S_NODATA) << count;
        EXPECT_TRUE(rec.Empty());
        EXPECT_EQ(LargestCapacity(host), bound) << count;
    }
    host.ClearKnobs();
    // A history longer than one reply, one value per 100 ns from 1 s on.
    host.AddSeries(kItem, Sec(1), 1, bound + 10);
    for (DWORD numValues : {DWORD{0}, zq::kReplyValueLimit + 1}) {
        SCOPED_TRACE(numValues);
        ItemRecord rec;
        EXPECT_EQ(Read(rec, 0, 10, numValues, FALSE), OPC_S_MOREDATA);
        ASSERT_EQ(rec.r.dwCount, zq::kReplyValueLimit);
        EXPECT_EQ(Ticks(rec.r.pftTimeStamps[0]), Sec(1));
        EXPECT_EQ(Ticks(rec.r.pftTimeStamps[bound - 1]), Sec(1) + bound - 1);
    }
    EXPECT_EQ(zq::WithinValueLimit(0xFFFFFFFFu), zq::kReplyValueLimit);
    // The largest numValues is no such count: the list follows the host's 3.
    host.Reset();
    host.AddSeries(kItem, Sec(1), kSecond, 3);
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 10, 0xFFFFFFFFu, FALSE), S_OK);
    EXPECT_EQ(rec.r.dwCount, 3u);
}

// Requests that one reply could never carry are refused before the host is
// asked anything and before anything of their size is allocated: 10^8
// intervals, a million and one time stamps. A host limit above the bound
// does not lift it.
TEST_F(RawRead, RequestsBeyondTheBoundOfOneReplyAreRefusedAtOnce)
{
    struct Limits
    {
        Limits() { SetHDAReadLimits(5000000, 0); }
        ~Limits() { SetHDAReadLimits(0, 0); }
    } limits;
    std::vector<FILETIME> times(zq::kReplyValueLimit + 1, Ft(Sec(1)));
    host.AddSeries(kItem, Sec(1), kSecond, 3);
    host.ClearCalls();
    zqtest::ResetLargestAllocation();
    ItemRecord processed;
    EXPECT_EQ(zq::RunReadProcessed(zq::Host(), kItem, processed.r, 1, Ft(Sec(0)), Ft(Sec(10)), 1),
              OPC_E_MAXEXCEEDED);
    EXPECT_TRUE(processed.Empty());
    ItemRecord atTimes;
    EXPECT_EQ(zq::RunReadAtTime(zq::Host(), kItem, atTimes.r, zq::kReplyValueLimit + 1, times.data()),
              OPC_E_MAXEXCEEDED);
    EXPECT_TRUE(atTimes.Empty());
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_LT(zqtest::LargestAllocation(), size_t{1} << 20);
    // Exactly the bound is a reply.
    EXPECT_EQ(zq::RunReadProcessed(zq::Host(), kItem, processed.r, 1, Ft(Sec(0)), Ft(Sec(10)), 100),
              S_OK);
    EXPECT_EQ(processed.r.dwCount, zq::kReplyValueLimit);
}

TEST_F(RawRead, ACapacityOfOneWithBoundsHoldsOnlyTheStartBound)
{
    host.AddValue(kItem, Sec(-1), Variant::R8(-1));
    host.AddSeries(kItem, Sec(1), kSecond, 3);
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 10, 1, TRUE), OPC_S_MOREDATA);
    EXPECT_EQ(ValuesOf(rec.r).times, Secs({-1}));
}

// --- Memory and the host's limits -------------------------------------------


// A client's numValues far beyond what the host has costs memory for what
// the host has: the result is that of a read of everything.
TEST_F(RawRead, AHugeNumValuesCostsMemoryForTheHostsValuesOnly)
{
    host.AddSeries(kItem, Sec(1), kSecond, 2881);
    ItemRecord all;
    ASSERT_EQ(Read(all, 0, 3000, 0, TRUE), S_OK);
    ASSERT_EQ(all.r.dwCount, 2883u);

    host.ClearCalls();
    zqtest::ResetLargestAllocation();
    ItemRecord huge;
    EXPECT_EQ(Read(huge, 0, 3000, 100000000, TRUE), S_OK);
    // A list of numValues would be 800 MB; nothing near that is asked for.
    // (The host's record of its calls, grown by the first read, is the
    // largest block here.)
    EXPECT_LT(zqtest::LargestAllocation(), size_t{1} << 20);
    EXPECT_LE(LargestCapacity(host), 2881 + 3);
    ASSERT_EQ(huge.r.dwCount, all.r.dwCount);
    for (DWORD i = 0; i < all.r.dwCount; ++i) {
        EXPECT_EQ(Ticks(huge.r.pftTimeStamps[i]), Ticks(all.r.pftTimeStamps[i])) << i;
        EXPECT_EQ(huge.r.pdwQualities[i], all.r.pdwQualities[i]) << i;
    }
}

// A host that cannot count gets a small list that grows, at least doubling,
// until it holds everything: few calls, memory a small multiple of the data.
TEST_F(RawRead, AHostWithoutACountGetsAGrowingList)
{
    host.AddSeries(kItem, Sec(1), kSecond, 10000);
    host.SetCountAnswer(0);
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 0, 20000, 4000000, FALSE), S_OK);
    EXPECT_EQ(rec.r.dwCount, 10000u);
    EXPECT_EQ(Ticks(rec.r.pftTimeStamps[9999]), Sec(10000));
    EXPECT_LE(LargestCapacity(host), 2 * (10000 + 3));
    EXPECT_LE(host.CountOf(Method::GetTimeStamps), 6);

    // With exactly numValues values the list still reaches numValues.
    host.ClearCalls();
    ItemRecord exact;
    EXPECT_EQ(Read(exact, 0, 20000, 9000, FALSE), OPC_S_MOREDATA);
    EXPECT_EQ(exact.r.dwCount, 9000u);
}

// The host's limits hold for every kind of value read and are enforced
// before the host is asked for anything that breaks them.
TEST_F(RawRead, TheHostsLimitsAreEnforced)
{
    struct Limits
    {
        Limits() { SetHDAReadLimits(100, 5); }
        ~Limits() { SetHDAReadLimits(0, 0); }
    } limits;
    host.AddSeries(kItem, Sec(1), kSecond, 2881);

    ItemRecord tooMany;
    EXPECT_EQ(Read(tooMany, 0, 3000, 101, FALSE), OPC_E_MAXEXCEEDED);
    EXPECT_TRUE(tooMany.Empty());
    EXPECT_TRUE(host.Calls().empty());

    ItemRecord everything;
    EXPECT_EQ(Read(everything, 0, 3000, 0, FALSE), OPC_S_MOREDATA);
    EXPECT_EQ(everything.r.dwCount, 100u);
    ItemRecord open;
    EXPECT_EQ(Read(open, std::nullopt, std::nullopt, 0, FALSE), OPC_S_MOREDATA);
    EXPECT_EQ(open.r.dwCount, 100u);
    ItemRecord atLimit;
    EXPECT_EQ(Read(atLimit, 0, 3000, 100, TRUE), OPC_S_MOREDATA);
    EXPECT_EQ(atLimit.r.dwCount, 100u);
    EXPECT_EQ(zq::WithinValueLimit(5000), 100u);

    host.ClearCalls();
    std::vector<FILETIME> times(101, Ft(Sec(1)));
    ItemRecord atTimes;
    EXPECT_EQ(zq::RunReadAtTime(zq::Host(), kItem, atTimes.r, 101, times.data()), OPC_E_MAXEXCEEDED);
    EXPECT_EQ(zq::RunReadAtTime(zq::Host(), kItem, atTimes.r, 100, times.data()), S_OK);
    ItemRecord processed;
    EXPECT_EQ(zq::RunReadProcessed(zq::Host(), kItem, processed.r, 1, Ft(Sec(0)), Ft(Sec(6)), kSecond),
              OPC_E_MAXEXCEEDED);
    EXPECT_EQ(host.CountOf(Method::PrepareAggregates), 0);
    EXPECT_EQ(zq::RunReadProcessed(zq::Host(), kItem, processed.r, 1, Ft(Sec(0)), Ft(Sec(5)), kSecond), S_OK);
    EXPECT_EQ(processed.r.dwCount, 5u);
}

} // namespace
