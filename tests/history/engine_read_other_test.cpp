// Reads at given times, attribute reads and processed reads of the read
// engine, and the release helpers for result records.
#include "engine_fixture.h"

#include "alloc_counter.h"
#include "malloc_spy.h"
#include "opchda_constants.h"

using namespace zqtest;
using zq::kQualityNoValue;

namespace {

void *const kItem = ItemAt(0x2000);

// --- At time ------------------------------------------------------------------

class AtTimeRead : public EngineTest
{
};

TEST_F(AtTimeRead, EveryRequestedTimeGetsAnEntryWithContextZero)
{
    host.AddValue(kItem, Sec(1), Variant::Str(L"one"), 0xC1);
    host.AddValue(kItem, Sec(3), Variant::R8Array({1.5, -2.25}), 0xC3);
    host.SetContext(99); // no GetTimeStamps here: nobody may pass it on
    const FILETIME times[] = {Ft(Sec(3)), Ft(Sec(2)), Ft(Sec(1))};
    ItemRecord rec;
    EXPECT_EQ(zq::RunReadAtTime(zq::Host(), kItem, rec.r, 3, times), S_OK);
    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.times, (std::vector<uint64_t>{Sec(3), Sec(2), Sec(1)}));
    EXPECT_EQ(v.qualities, (std::vector<DWORD>{0xC3, kQualityNoValue, 0xC1}));
    EXPECT_EQ(R8Elements(v.values[0].Get()), (std::vector<double>{1.5, -2.25}));
    EXPECT_EQ(v.values[1].Type(), VT_EMPTY);
    EXPECT_EQ(Text(v.values[2].Get()), L"one");
    for (const Call &c : host.CallsOf(Method::ReadAt))
        EXPECT_EQ(c.context, 0u);
    EXPECT_EQ(host.CountOf(Method::GetTimeStamps), 0);
}

TEST_F(AtTimeRead, WithoutCallbackObjectThereIsNoData)
{
    SetHDAServerCallback(nullptr);
    const FILETIME t = Ft(Sec(1));
    ItemRecord rec;
    EXPECT_EQ(zq::RunReadAtTime(zq::Host(), kItem, rec.r, 1, &t), OPC_S_NODATA);
    EXPECT_TRUE(rec.Empty());
}

// --- Attributes ---------------------------------------------------------------

class AttributeRead : public EngineTest
{
protected:
    HRESULT Read(AttributeRecord &rec, DWORD id, int64_t from, std::optional<int64_t> to)
    {
        FILETIME s = Ft(Sec(from)), e = Ft(to ? Sec(*to) : 0);
        return zq::RunReadAttribute(zq::Host(), kItem, id, rec.r, s, to ? &e : nullptr);
    }
};

TEST_F(AttributeRead, AnUndefinedIdIsRefusedBeforeTheHostIsAsked)
{
    AttributeRecord rec;
    EXPECT_EQ(Read(rec, kUndefinedAttribute, 0, 10), OPC_E_INVALIDATTRID);
    EXPECT_TRUE(rec.NoArrays());
    EXPECT_TRUE(host.Calls().empty());
    SetHDAServerCallback(nullptr);
    EXPECT_EQ(Read(rec, kHistoryAttribute, 0, 10), E_FAIL);
    EXPECT_TRUE(rec.NoArrays());
}

TEST_F(AttributeRead, WithoutAnEndTheCurrentValueIsRead)
{
    host.SetCurrentAttribute(kItem, kHistoryAttribute, Sec(42), Variant::Str(L"max"));
    AttributeRecord rec;
    EXPECT_EQ(Read(rec, kHistoryAttribute, 0, std::nullopt), S_OK);
    EXPECT_EQ(rec.r.dwAttributeID, kHistoryAttribute);
    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.times, std::vector<uint64_t>{Sec(42)});
    EXPECT_EQ(Text(v.values[0].Get()), L"max");
    ASSERT_EQ(host.CountOf(Method::ReadCurrentAttribute), 1);
    EXPECT_TRUE(host.CallsOf(Method::ReadCurrentAttribute)[0].valueEmptyOnEntry);
}

TEST_F(AttributeRead, AnAttributeWithoutHistoryAnswersWithItsCurrentValue)
{
    host.SetCurrentAttribute(kItem, kCurrentAttribute, Sec(7), Variant::Str(L"pump"));
    AttributeRecord rec;
    EXPECT_EQ(Read(rec, kCurrentAttribute, 0, 10), OPC_S_CURRENTVALUE);
    EXPECT_EQ(rec.r.dwNumValues, 1u);
    EXPECT_EQ(Text(rec.r.vAttributeValues[0]), L"pump");
    EXPECT_EQ(host.CountOf(Method::GetTimeStamps), 0);
}

TEST_F(AttributeRead, AFailedCurrentValueLeavesNoArrays)
{
    AttributeRecord rec;
    EXPECT_EQ(Read(rec, kCurrentAttribute, 0, std::nullopt), E_FAIL);
    EXPECT_TRUE(rec.NoArrays());
}

TEST_F(AttributeRead, HistoryStartsWithTheValueInForceAtTheStart)
{
    for (int64_t s : {0, 2, 4, 6})
        host.AddValue(kItem, Sec(s), Variant::R8(0));
    host.AddAttributeValue(kItem, kHistoryAttribute, Sec(-10), Variant::R8(100));
    host.AddAttributeValue(kItem, kHistoryAttribute, Sec(3), Variant::R8(300));
    host.SetContext(static_cast<ULONG_PTR>(sizeof(ULONG_PTR) == 8 ? 0x5150000000005150ull : 0x5150u));
    AttributeRecord rec;
    EXPECT_EQ(Read(rec, kHistoryAttribute, 1, 6), S_OK);
    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.times, (std::vector<uint64_t>{Sec(0), Sec(2), Sec(4), Sec(6)}));
    std::vector<double> values;
    for (const Variant &x : v.values)
        values.push_back(x.Get().dblVal);
    EXPECT_EQ(values, (std::vector<double>{100, 100, 300, 300}));
    std::vector<Call> ts = host.CallsOf(Method::GetTimeStamps);
    ASSERT_EQ(ts.size(), 1u);
    EXPECT_EQ(ts[0].maxCount, 5000);
    for (const Call &c : host.CallsOf(Method::ReadAttributeAt))
        EXPECT_EQ(c.context, static_cast<ULONG_PTR>(sizeof(ULONG_PTR) == 8 ? 0x5150000000005150ull : 0x5150u));
}

TEST_F(AttributeRead, NoStampsInRangeGivesTheOneBefore)
{
    host.AddValue(kItem, Sec(-4), Variant::R8(0));
    host.AddAttributeValue(kItem, kHistoryAttribute, Sec(-9), Variant::R8(9));
    AttributeRecord rec;
    EXPECT_EQ(Read(rec, kHistoryAttribute, 0, 10), S_OK);
    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.times, std::vector<uint64_t>{Sec(-4)});
    EXPECT_EQ(v.values[0].Get().dblVal, 9.0);
}

TEST_F(AttributeRead, NoStampsAtAllFails)
{
    AttributeRecord rec;
    EXPECT_EQ(Read(rec, kHistoryAttribute, 0, 10), E_FAIL);
    EXPECT_TRUE(rec.NoArrays());
}

TEST_F(AttributeRead, AFailedHistoricalValueFailsTheAttributeWithoutArrays)
{
    for (int64_t s : {1, 2, 3})
        host.AddValue(kItem, Sec(s), Variant::R8(0));
    host.AddAttributeValue(kItem, kHistoryAttribute, Sec(0), Variant::Str(L"kept?"));
    host.ForceResultAt(Method::ReadAttributeAt, Sec(3), E_FAIL);
    TaskMallocSpy *spy = TaskMallocSpy::Instance();
    ASSERT_NE(spy, nullptr);
    long before = spy->Outstanding();
    {
        AttributeRecord rec;
        EXPECT_EQ(Read(rec, kHistoryAttribute, 1, 3), E_FAIL);
        EXPECT_TRUE(rec.NoArrays());
    }
    // The strings read before the failure went with the arrays.
    EXPECT_EQ(spy->Outstanding(), before);
}

TEST_F(AttributeRead, AHostClaimingMoreThanTheLimitIsCutToIt)
{
    host.SetOverfill(50);
    AttributeRecord rec;
    EXPECT_EQ(Read(rec, kHistoryAttribute, 0, 100000), E_FAIL); // no attribute values
    host.AddAttributeValue(kItem, kHistoryAttribute, Sec(-1), Variant::R8(1));
    EXPECT_EQ(Read(rec, kHistoryAttribute, 0, 100000), S_OK);
    EXPECT_EQ(rec.r.dwNumValues, zq::kAttributeHistoryLimit);
    EXPECT_EQ(host.CountOf(Method::GetPreviousTimeStamp), 0); // no room for the spare
}

// --- Processed ----------------------------------------------------------------

class ProcessedRead : public EngineTest
{
protected:
    HRESULT Read(ItemRecord &rec, DWORD aggregate, int64_t from, int64_t to, uint64_t interval)
    {
        return zq::RunReadProcessed(zq::Host(), kItem, rec.r, aggregate, Ft(Sec(from)), Ft(Sec(to)),
                                    interval);
    }
};

TEST_F(ProcessedRead, IntervalCountsDropATrailingPart)
{
    auto count = [](int64_t a, int64_t b, uint64_t i) {
        return zq::CountResampleIntervals(Ft(Sec(a)), Ft(Sec(b)), i);
    };
    EXPECT_EQ(count(0, 12, 5 * kSecond), 2u);
    EXPECT_EQ(count(12, 0, 5 * kSecond), 2u);
    EXPECT_EQ(count(0, 10, 5 * kSecond), 2u);
    EXPECT_EQ(count(0, 4, 5 * kSecond), 0u);
    EXPECT_EQ(count(0, 4, 0), 1u);
    EXPECT_EQ(count(0, 0, kSecond), 0u);
}

TEST_F(ProcessedRead, TwelveSecondsInFiveSecondIntervalsGiveTwoValues)
{
    host.AddSeries(kItem, Sec(0), kSecond, 12, 1); // 1..12 at 0..11 s
    host.SetContext(0xAB);
    ItemRecord rec;
    EXPECT_EQ(Read(rec, kCountAggregate, 0, 12, 5 * kSecond), S_OK);
    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.times, (std::vector<uint64_t>{Sec(0), Sec(5)}));
    EXPECT_EQ(v.values[0].Get().lVal, 5);
    EXPECT_EQ(v.qualities, (std::vector<DWORD>{kAggregateQuality, kAggregateQuality}));
    EXPECT_EQ(rec.r.haAggregate, 0u);

    std::vector<Call> prepare = host.CallsOf(Method::PrepareAggregates);
    ASSERT_EQ(prepare.size(), 1u);
    EXPECT_EQ(prepare[0].id, kCountAggregate);
    EXPECT_EQ(prepare[0].start, Sec(0));
    EXPECT_EQ(prepare[0].end, Sec(12));
    EXPECT_EQ(prepare[0].interval, 5 * kSecond);
    EXPECT_EQ(prepare[0].context, 0u);
    std::vector<Call> reads = host.CallsOf(Method::ReadProcessed);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[1].start, Sec(5));
    EXPECT_EQ(reads[1].end, Sec(10));
    for (const Call &c : reads) {
        EXPECT_EQ(c.context, 0xABu);
        EXPECT_EQ(c.id, kCountAggregate);
    }
}

TEST_F(ProcessedRead, ShorterThanOneIntervalGivesAnEmptyResult)
{
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 3, 0, 4, 5 * kSecond), S_OK);
    EXPECT_TRUE(rec.Empty());
    EXPECT_EQ(host.CountOf(Method::PrepareAggregates), 1);
    EXPECT_EQ(host.CountOf(Method::ReadProcessed), 0);
}

TEST_F(ProcessedRead, IntervalZeroGivesOneValueAtTheStart)
{
    ItemRecord rec;
    EXPECT_EQ(Read(rec, kCountAggregate, 3, 9, 0), S_OK);
    ASSERT_EQ(rec.r.dwCount, 1u);
    std::vector<Call> reads = host.CallsOf(Method::ReadProcessed);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].start, Sec(3));
    EXPECT_EQ(reads[0].end, Sec(3));
}

TEST_F(ProcessedRead, BackwardsIntervalsRunTowardsTheEnd)
{
    ItemRecord rec;
    EXPECT_EQ(Read(rec, kCountAggregate, 12, 0, 5 * kSecond), S_OK);
    std::vector<Call> reads = host.CallsOf(Method::ReadProcessed);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].start, Sec(12));
    EXPECT_EQ(reads[0].end, Sec(7));
    EXPECT_EQ(reads[1].start, Sec(7));
    EXPECT_EQ(reads[1].end, Sec(2));
}

TEST_F(ProcessedRead, BoundsMovedByTheHostCarryOn)
{
    host.MoveIntervals(1 * static_cast<int64_t>(kSecond), 2 * static_cast<int64_t>(kSecond));
    ItemRecord rec;
    EXPECT_EQ(Read(rec, kCountAggregate, 0, 12, 5 * kSecond), S_OK);
    // First interval asked as 0-5, moved to 1-7; the next starts at 7.
    EXPECT_EQ(ValuesOf(rec.r).times, (std::vector<uint64_t>{Sec(1), Sec(8)}));
    std::vector<Call> reads = host.CallsOf(Method::ReadProcessed);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[1].start, Sec(7));
    EXPECT_EQ(reads[1].end, Sec(12));
}

TEST_F(ProcessedRead, AFailedIntervalIsMarked)
{
    host.AddSeries(kItem, Sec(0), kSecond, 4, 10);
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 3, 0, 10, 5 * kSecond), S_OK); // average; 5-10 holds nothing
    ItemValues v = ValuesOf(rec.r);
    EXPECT_EQ(v.qualities, (std::vector<DWORD>{kAggregateQuality, kQualityNoValue}));
    EXPECT_EQ(v.values[0].Get().dblVal, 11.5);
    EXPECT_EQ(v.values[1].Type(), VT_EMPTY);
    EXPECT_EQ(v.times[1], Sec(5));
}

// 2^40 intervals are far more than one reply carries: refused before
// anything is allocated.
TEST_F(ProcessedRead, TooManyIntervalsExceedTheBoundOfOneReply)
{
    ItemRecord rec;
    EXPECT_EQ(zq::RunReadProcessed(zq::Host(), kItem, rec.r, 1, Ft(Sec(0)), Ft(Sec(0) + (1ull << 40)), 1),
              OPC_E_MAXEXCEEDED);
    EXPECT_TRUE(rec.Empty());
    EXPECT_EQ(host.CountOf(Method::ReadProcessed), 0);
}

TEST_F(ProcessedRead, WithoutCallbackObjectThereIsNoData)
{
    SetHDAServerCallback(nullptr);
    ItemRecord rec;
    EXPECT_EQ(Read(rec, 1, 0, 10, kSecond), OPC_S_NODATA);
    EXPECT_TRUE(rec.Empty());
}

// --- Task memory --------------------------------------------------------------

class EngineMemory : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        spy = TaskMallocSpy::Instance();
        ASSERT_NE(spy, nullptr);
    }
    TaskMallocSpy *spy = nullptr;
};

TEST_F(EngineMemory, FreeHelpersGiveEverythingBackAndEmptyTheRecord)
{
    host.AddValue(kItem, Sec(1), Variant::Str(L"a string"));
    host.AddValue(kItem, Sec(2), Variant::R8Array({1, 2, 3}));
    host.SetCurrentAttribute(kItem, kCurrentAttribute, Sec(1), Variant::Str(L"text"));
    long before = spy->Outstanding();
    OPCHDA_ITEM item{};
    item.hClient = 77;
    ASSERT_EQ(zq::RunReadRaw(zq::Host(), kItem, item, nullptr, nullptr, 5, FALSE), S_OK);
    EXPECT_EQ(item.dwCount, 2u);
    OPCHDA_ATTRIBUTE attribute{};
    ASSERT_EQ(zq::RunReadAttribute(zq::Host(), kItem, kCurrentAttribute, attribute, Ft(Sec(0)), nullptr),
              S_OK);
    EXPECT_GT(spy->Outstanding(), before);
    zq::FreeItemArrays(item);
    zq::FreeAttributeArrays(attribute);
    EXPECT_EQ(spy->Outstanding(), before);
    EXPECT_EQ(item.dwCount, 0u);
    EXPECT_EQ(item.pvDataValues, nullptr);
    EXPECT_EQ(item.hClient, 77u);
    EXPECT_EQ(attribute.dwNumValues, 0u);
    EXPECT_EQ(attribute.vAttributeValues, nullptr);
    EXPECT_EQ(attribute.dwAttributeID, kCurrentAttribute);
}

// Every task allocation of each read, refused in turn: the read reports
// E_OUTOFMEMORY with an empty record, or (when a value's own copy was
// refused) marks that value; nothing stays allocated either way.
TEST_F(EngineMemory, EveryRefusedAllocationLeavesNothingBehind)
{
    host.AddValue(kItem, Sec(-1), Variant::R8(-1));
    host.AddValue(kItem, Sec(1), Variant::Str(L"x"));
    host.AddValue(kItem, Sec(2), Variant::R8(2));
    host.AddValue(kItem, Sec(20), Variant::R8(20));
    host.AddAttributeValue(kItem, kHistoryAttribute, Sec(-5), Variant::R8(5));
    host.SetCurrentAttribute(kItem, kCurrentAttribute, Sec(1), Variant::R8(1));
    const FILETIME at[] = {Ft(Sec(1)), Ft(Sec(2))};
    struct Case
    {
        const char *name;
        std::function<HRESULT()> run;
    };
    OPCHDA_ITEM item{};
    OPCHDA_ATTRIBUTE attribute{};
    const FILETIME s = Ft(Sec(0)), e = Ft(Sec(10));
    const Case cases[] = {
        {"raw", [&] { return zq::RunReadRaw(zq::Host(), kItem, item, &s, &e, 0, TRUE); }},
        {"at time", [&] { return zq::RunReadAtTime(zq::Host(), kItem, item, 2, at); }},
        {"processed", [&] { return zq::RunReadProcessed(zq::Host(), kItem, item, 3, s, e, kSecond); }},
        {"current", [&] {
             return zq::RunReadAttribute(zq::Host(), kItem, kCurrentAttribute, attribute, s, nullptr);
         }},
        {"history", [&] {
             return zq::RunReadAttribute(zq::Host(), kItem, kHistoryAttribute, attribute, s, &e);
         }},
    };
    for (const Case &c : cases) {
        for (long n = 1;; ++n) {
            long before = spy->Outstanding();
            item = OPCHDA_ITEM{};
            attribute = OPCHDA_ATTRIBUTE{};
            HRESULT hr;
            bool hit;
            {
                TaskAllocFailure failure(n);
                hr = c.run();
                hit = failure.Hit();
            }
            if (n == 1) {
                // The first allocation is always one of the result arrays.
                EXPECT_TRUE(hit) << c.name;
                EXPECT_EQ(hr, E_OUTOFMEMORY) << c.name;
            }
            if (hr == E_OUTOFMEMORY) {
                EXPECT_EQ(item.dwCount, 0u) << c.name << " " << n;
                EXPECT_EQ(item.pftTimeStamps, nullptr) << c.name << " " << n;
                EXPECT_EQ(attribute.ftTimeStamps, nullptr) << c.name << " " << n;
            } else {
                EXPECT_TRUE(SUCCEEDED(hr)) << c.name << " " << n;
            }
            FreeItemRecord(item);
            FreeAttributeRecord(attribute);
            EXPECT_EQ(spy->Outstanding(), before) << c.name << " " << n;
            if (!hit)
                break;
            ASSERT_LT(n, 50) << c.name;
        }
    }
}

// The scratch lists live on the heap: a list that cannot be had is
// E_OUTOFMEMORY before the host is asked anything, and no list outlives
// its read.
TEST_F(EngineMemory, AScratchListThatCannotBeHadIsOutOfMemory)
{
    host.AddSeries(kItem, Sec(1), kSecond, 3);
    const FILETIME s = Ft(Sec(0)), e = Ft(Sec(10));
    ItemRecord raw;
    AttributeRecord attribute;
    HRESULT rawResult, attributeResult;
    {
        AllocFailure failure(0);
        rawResult = zq::RunReadRaw(zq::Host(), kItem, raw.r, &s, &e, 5, FALSE);
        attributeResult = zq::RunReadAttribute(zq::Host(), kItem, kHistoryAttribute, attribute.r, s, &e);
    }
    EXPECT_EQ(rawResult, E_OUTOFMEMORY);
    EXPECT_TRUE(raw.Empty());
    EXPECT_EQ(attributeResult, E_OUTOFMEMORY);
    EXPECT_TRUE(attribute.NoArrays());
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(EngineMemory, NoScratchListOutlivesItsRead)
{
    host.AddValue(kItem, Sec(-1), Variant::R8(0));
    host.AddSeries(kItem, Sec(1), kSecond, 8);
    host.AddAttributeValue(kItem, kHistoryAttribute, Sec(-1), Variant::R8(1));
    const FILETIME s = Ft(Sec(0)), e = Ft(Sec(10));
    auto reads = [&] {
        ItemRecord a, b, c;
        AttributeRecord d;
        zq::RunReadRaw(zq::Host(), kItem, a.r, &s, &e, 0, TRUE);
        zq::RunReadRaw(zq::Host(), kItem, b.r, &e, &s, 3, TRUE);
        zq::RunReadProcessed(zq::Host(), kItem, c.r, 3, s, e, 2 * kSecond);
        zq::RunReadAttribute(zq::Host(), kItem, kHistoryAttribute, d.r, s, &e);
        host.ClearCalls(); // the host keeps its record's capacity
    };
    reads(); // the host's own records grow to their size here
    long long before = LiveAllocations();
    reads();
    EXPECT_EQ(LiveAllocations(), before);
}

} // namespace
