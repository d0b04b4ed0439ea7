// A series' queries: time stamps in both directions with open ends, count
// queries and capacities; the neighbours used for bounds; values at and
// between stored time stamps; attributes with and without history.
#include "historian_fixture.h"

#include <vector>

#include "opchda.h"

using namespace htest;
using historian::Series;
using historian::Value;

namespace {

class SeriesTest : public testing::Test
{
protected:
    SeriesTest() : series("Plant.Unit.Tag")
    {
        series.Load(MakeSamples({{0, 1}, {10, 2}, {20, 3}, {30, 4}, {40, 5}}));
    }

    // The time stamps as seconds, in the order written.
    std::vector<long long> Stamps(const Ticks *start, const Ticks *end, int capacity,
                                  int *returned = nullptr)
    {
        std::vector<FILETIME> out(capacity > 0 ? capacity + 2 : 1, FILETIME{0xEEEEEEEE, 0xEEEE});
        int n = series.TimeStamps(start, end, capacity, out.data());
        if (returned != nullptr)
            *returned = n;
        std::vector<long long> seconds;
        for (int i = 0; i < n; ++i)
            seconds.push_back(static_cast<long long>(historian::ToTicks(out[i]) - kBase) /
                              static_cast<long long>(historian::kTicksPerSecond));
        // Nothing is written past what was returned.
        for (size_t i = static_cast<size_t>(n); i < out.size(); ++i)
            EXPECT_EQ(out[i].dwLowDateTime, 0xEEEEEEEEu) << "place " << i;
        return seconds;
    }

    Series series;
};

using Seconds = std::vector<long long>;

TEST_F(SeriesTest, ForwardRangeIncludesBothEnds)
{
    Ticks s = Sec(10), e = Sec(30);
    EXPECT_EQ(Stamps(&s, &e, 10), (Seconds{10, 20, 30}));
    s = Sec(5), e = Sec(35);
    EXPECT_EQ(Stamps(&s, &e, 10), (Seconds{10, 20, 30}));
}

TEST_F(SeriesTest, StartLaterThanEndGivesDescendingOrder)
{
    Ticks s = Sec(30), e = Sec(10);
    EXPECT_EQ(Stamps(&s, &e, 10), (Seconds{30, 20, 10}));
    s = Sec(35), e = Sec(-100);
    EXPECT_EQ(Stamps(&s, &e, 2), (Seconds{30, 20})) << "the capacity keeps the newest";
}

TEST_F(SeriesTest, OpenEnds)
{
    Ticks s = Sec(25), e = Sec(15);
    EXPECT_EQ(Stamps(&s, nullptr, 10), (Seconds{30, 40})) << "no end: forwards to the last";
    EXPECT_EQ(Stamps(nullptr, &e, 10), (Seconds{40, 30, 20})) << "no start: backwards to the end";
    EXPECT_EQ(Stamps(nullptr, nullptr, 10), (Seconds{40, 30, 20, 10, 0}));
    EXPECT_EQ(Stamps(nullptr, nullptr, 2), (Seconds{40, 30}));
}

TEST_F(SeriesTest, CountQueryAndCapacity)
{
    Ticks s = Sec(0), e = Sec(40);
    EXPECT_EQ(series.TimeStamps(&s, &e, 0, nullptr), 5);
    EXPECT_EQ(series.TimeStamps(&e, &s, 0, nullptr), 5);
    EXPECT_EQ(series.TimeStamps(nullptr, nullptr, 0, nullptr), 5);
    Ticks late = Sec(41);
    EXPECT_EQ(series.TimeStamps(&late, nullptr, 0, nullptr), 0);
    int n = -1;
    EXPECT_EQ(Stamps(&s, &e, 3, &n), (Seconds{0, 10, 20}));
    EXPECT_EQ(n, 3);
    EXPECT_EQ(series.TimeStamps(&s, &e, 3, nullptr), 0) << "no array to write";
    FILETIME one;
    EXPECT_EQ(series.TimeStamps(&s, &e, -1, &one), 0) << "no room at all";
    Ticks gap = Sec(11), gapEnd = Sec(19);
    EXPECT_EQ(Stamps(&gap, &gapEnd, 5), Seconds{});
}

TEST_F(SeriesTest, NeighboursAreStrictlyBeforeAndAfter)
{
    Ticks t = 0;
    ASSERT_TRUE(series.Previous(Sec(20), &t));
    EXPECT_EQ(t, Sec(10));
    ASSERT_TRUE(series.Previous(Sec(21), &t));
    EXPECT_EQ(t, Sec(20));
    ASSERT_TRUE(series.Next(Sec(20), &t));
    EXPECT_EQ(t, Sec(30));
    EXPECT_FALSE(series.Previous(Sec(0), &t));
    EXPECT_FALSE(series.Next(Sec(40), &t));
    ASSERT_TRUE(series.Next(Sec(-5), &t));
    EXPECT_EQ(t, Sec(0));
}

TEST_F(SeriesTest, ValueAtStoredAndBetweenTimeStamps)
{
    Value v;
    DWORD q = 0;
    series.ValueAt(Sec(20), &v, &q);
    EXPECT_EQ(AsDouble(v), 3);
    EXPECT_EQ(q, historian::kRawGood);

    series.ValueAt(Sec(25), &v, &q);
    EXPECT_DOUBLE_EQ(AsDouble(v), 3.5);
    EXPECT_EQ(q, 0xC0u | OPCHDA_INTERPOLATED);

    series.SetStepped(true);
    series.ValueAt(Sec(25), &v, &q);
    EXPECT_EQ(AsDouble(v), 3);
    EXPECT_EQ(q, 0xC0u | OPCHDA_INTERPOLATED);

    series.ValueAt(Sec(-1), &v, &q);
    EXPECT_TRUE(v.IsEmpty());
    EXPECT_EQ(q, static_cast<DWORD>(OPCHDA_NOBOUND));
    series.ValueAt(Sec(41), &v, &q);
    EXPECT_TRUE(v.IsEmpty());
    EXPECT_EQ(q, static_cast<DWORD>(OPCHDA_NOBOUND));
}

TEST(ValueAt, NeighbourQualitiesDecide)
{
    const DWORD uncertain = OPCHDA_RAW | 0x40, bad = OPCHDA_RAW | 0x18;
    auto samples = MakeSamples(
        {{0, 10, uncertain}, {10, 20}, {20, 99, bad}, {30, 0, bad, true}, {40, 40}});
    Value v;
    DWORD q = 0;
    historian::ValueAt(samples, false, Sec(5), &v, &q);
    EXPECT_DOUBLE_EQ(AsDouble(v), 15);
    EXPECT_EQ(q, 0x58u | OPCHDA_INTERPOLATED);
    historian::ValueAt(samples, false, Sec(15), &v, &q);
    EXPECT_TRUE(v.IsEmpty()) << "a straight line to a bad value is no value";
    EXPECT_EQ(q, static_cast<DWORD>(OPCHDA_INTERPOLATED));
    historian::ValueAt(samples, true, Sec(15), &v, &q);
    EXPECT_EQ(AsDouble(v), 20) << "stepped: only the earlier sample counts";
    EXPECT_EQ(q, 0xC0u | OPCHDA_INTERPOLATED);
    historian::ValueAt(samples, false, Sec(25), &v, &q);
    EXPECT_TRUE(v.IsEmpty()) << "held from a bad value";
    EXPECT_EQ(q, static_cast<DWORD>(OPCHDA_INTERPOLATED));
    historian::ValueAt(samples, false, Sec(35), &v, &q);
    EXPECT_TRUE(v.IsEmpty());
    EXPECT_EQ(q, static_cast<DWORD>(OPCHDA_INTERPOLATED));
}

TEST(ValueAt, ANumberBeforeAnEmptyValueHolds)
{
    auto samples = MakeSamples({{0, 7}, {10, 0, OPCHDA_RAW | 0x18, true}});
    Value v;
    DWORD q = 0;
    historian::ValueAt(samples, false, Sec(5), &v, &q);
    EXPECT_EQ(AsDouble(v), 7);
    EXPECT_EQ(q, 0xC0u | OPCHDA_INTERPOLATED);
}

TEST(ValueAt, TextHoldsUntilTheNextValue)
{
    historian::Samples samples(2);
    samples[0].time = Sec(0);
    samples[0].value = Value::Text(L"Auto");
    samples[1].time = Sec(10);
    samples[1].value = Value::Text(L"Manual");
    Value v;
    DWORD q = 0;
    historian::ValueAt(samples, false, Sec(9), &v, &q);
    ASSERT_EQ(v.Type(), VT_BSTR);
    EXPECT_STREQ(v.Get().bstrVal, L"Auto");
}

TEST(SeriesLoad, SortsAndKeepsTheLastOfEqualTimeStamps)
{
    Series s("x");
    s.Load(MakeSamples({{20, 3}, {0, 1}, {10, 2}, {0, 9}}));
    ASSERT_EQ(s.Size(), 3u);
    Value v;
    DWORD q;
    s.ValueAt(Sec(0), &v, &q);
    EXPECT_EQ(AsDouble(v), 9);
    Ticks start = Sec(-1);
    FILETIME out[3];
    ASSERT_EQ(s.TimeStamps(&start, nullptr, 3, out), 3);
    EXPECT_EQ(historian::ToTicks(out[0]), Sec(0));
    EXPECT_EQ(historian::ToTicks(out[1]), Sec(10));
    EXPECT_EQ(historian::ToTicks(out[2]), Sec(20));
}

TEST(SeriesAttributes, CurrentAndHistoricValues)
{
    Series s("x");
    s.SetAttribute(OPCHDA_HIGH_ENTRY_LIMIT, Sec(100), Value(110.0));
    s.SetAttribute(OPCHDA_HIGH_ENTRY_LIMIT, Sec(0), Value(100.0)); // out of order on purpose
    s.SetAttribute(OPCHDA_DESCRIPTION, Sec(0), Value::Text(L"Boiler"));
    Ticks stamp = 0;
    Value v;
    ASSERT_TRUE(s.CurrentAttribute(OPCHDA_HIGH_ENTRY_LIMIT, &stamp, &v));
    EXPECT_EQ(AsDouble(v), 110);
    EXPECT_EQ(stamp, Sec(100));
    ASSERT_TRUE(s.AttributeAt(OPCHDA_HIGH_ENTRY_LIMIT, Sec(99), &v));
    EXPECT_EQ(AsDouble(v), 100);
    ASSERT_TRUE(s.AttributeAt(OPCHDA_HIGH_ENTRY_LIMIT, Sec(100), &v));
    EXPECT_EQ(AsDouble(v), 110);
    ASSERT_TRUE(s.AttributeAt(OPCHDA_HIGH_ENTRY_LIMIT, Sec(-50), &v));
    EXPECT_EQ(AsDouble(v), 100) << "before every change: the earliest value";
    EXPECT_FALSE(s.CurrentAttribute(OPCHDA_ENG_UNITS, &stamp, &v));
    EXPECT_FALSE(s.AttributeAt(OPCHDA_ENG_UNITS, Sec(0), &v));
}

} // namespace
