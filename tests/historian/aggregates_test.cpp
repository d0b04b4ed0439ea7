// Every aggregate against values worked out by hand.
//
// The main series (seconds: value): 0: 10, 10: 20, 30: 40, 35: 4, 60: 10, all
// raw and good. Over [0, 40) its samples are 10, 20, 40, 4:
//   count 4, sum 74, average 18.5, minimum 4 (at 35), maximum 40 (at 30),
//   range 36, start 10, end 4, delta 4 - 10 = -6;
//   deviations from 18.5: -8.5, 1.5, 21.5, -14.5; squares 72.25, 2.25,
//   462.25, 210.25, sum 747: variance 747 / 4 = 186.75.
// Time-weighted over [0, 40), straight lines:
//   0-10: (10+20)/2 x 10 = 150; 10-30: (20+40)/2 x 20 = 600;
//   30-35: (40+4)/2 x 5 = 110; 35-40: from 4 towards 10 at 60 (0.24 per s),
//   4 to 5.2, mean 4.6 x 5 = 23. Integral 883, time average 883 / 40.
// Stepped: 10x10 + 20x20 + 40x5 + 4x5 = 720, time average 18.
// Regression over (0,10), (10,20), (30,40), (35,4): mean x 18.75, mean y
//   18.5, Sxx = 818.75, Sxy = 152.5.
#include "historian_fixture.h"

#include <cmath>

#include "aggregates.h"
#include "opchda.h"

using namespace htest;
using historian::AggregateResult;
using historian::ComputeAggregate;
using historian::Samples;

namespace {

constexpr DWORD kGoodCalc = 0xC0 | OPCHDA_CALCULATED;
constexpr DWORD kUncertainCalc = 0x58 | OPCHDA_CALCULATED;
constexpr DWORD kNoData = OPCHDA_NODATA;

class Aggregates : public testing::Test
{
protected:
    Samples main = MakeSamples({{0, 10}, {10, 20}, {30, 40}, {35, 4}, {60, 10}});

    AggregateResult Run(DWORD id, long long from, long long to, bool stepped = false)
    {
        return Run(main, id, from, to, stepped);
    }
    AggregateResult Run(const Samples &samples, DWORD id, long long from, long long to,
                        bool stepped = false)
    {
        AggregateResult r;
        EXPECT_EQ(ComputeAggregate(samples, stepped, id, Sec(from), Sec(to), &r), S_OK) << id;
        return r;
    }
    double Value(DWORD id, long long from, long long to, bool stepped = false)
    {
        AggregateResult r = Run(id, from, to, stepped);
        EXPECT_EQ(r.quality, kGoodCalc) << "aggregate " << id;
        return AsDouble(r.value);
    }
};

TEST_F(Aggregates, ValueBased)
{
    EXPECT_DOUBLE_EQ(Value(OPCHDA_AVERAGE, 0, 40), 18.5);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_MINIMUM, 0, 40), 4);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_MAXIMUM, 0, 40), 40);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_RANGE, 0, 40), 36);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_DELTA, 0, 40), -6);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_VARIANCE, 0, 40), 186.75);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_STDEV, 0, 40), std::sqrt(186.75));
}

TEST_F(Aggregates, CountStartAndEnd)
{
    AggregateResult r = Run(OPCHDA_COUNT, 0, 40);
    EXPECT_EQ(r.value.Type(), VT_I4);
    EXPECT_EQ(r.value.Get().lVal, 4);
    EXPECT_EQ(r.quality, kGoodCalc);
    EXPECT_EQ(Run(OPCHDA_COUNT, 0, 10).value.Get().lVal, 1) << "the later bound is excluded";
    r = Run(OPCHDA_START, 0, 40);
    EXPECT_EQ(AsDouble(r.value), 10);
    EXPECT_EQ(r.quality, kGoodCalc);
    EXPECT_EQ(AsDouble(Run(OPCHDA_END, 0, 40).value), 4);
}

TEST_F(Aggregates, ActualTimeAggregatesMoveTheTimeStamp)
{
    AggregateResult r = Run(OPCHDA_MINIMUMACTUALTIME, 0, 40);
    EXPECT_EQ(AsDouble(r.value), 4);
    EXPECT_TRUE(r.movesStart);
    EXPECT_EQ(r.time, Sec(35));
    r = Run(OPCHDA_MAXIMUMACTUALTIME, 0, 40);
    EXPECT_EQ(AsDouble(r.value), 40);
    EXPECT_EQ(r.time, Sec(30));
    EXPECT_FALSE(Run(OPCHDA_MINIMUM, 0, 40).movesStart);
}

TEST_F(Aggregates, TimeWeightedWithStraightLinesAndSteps)
{
    EXPECT_DOUBLE_EQ(Value(OPCHDA_TIMEAVERAGE, 0, 40), 883.0 / 40);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_TOTAL, 0, 40), 883.0);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_TIMEAVERAGE, 0, 40, true), 18.0);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_TOTAL, 0, 40, true), 720.0);
    // No sample inside [40, 50), but the history is known there: the line
    // from 4 at 35 to 10 at 60 runs from 5.2 to 7.6.
    EXPECT_DOUBLE_EQ(Value(OPCHDA_TIMEAVERAGE, 40, 50), 6.4);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_TIMEAVERAGE, 40, 50, true), 4.0);
}

TEST_F(Aggregates, RegressionLine)
{
    const double slope = 152.5 / 818.75, constant = 18.5 - slope * 18.75;
    EXPECT_NEAR(Value(OPCHDA_REGSLOPE, 0, 40), slope, 1e-12);
    EXPECT_NEAR(Value(OPCHDA_REGCONST, 0, 40), constant, 1e-12);
    double residuals = 0;
    const double xs[] = {0, 10, 30, 35}, ys[] = {10, 20, 40, 4};
    for (int i = 0; i < 4; ++i)
        residuals += std::pow(ys[i] - (constant + slope * xs[i]), 2);
    EXPECT_NEAR(Value(OPCHDA_REGDEV, 0, 40), std::sqrt(residuals / 4), 1e-12);
    // One sample: a flat line through it.
    EXPECT_EQ(Value(OPCHDA_REGSLOPE, 0, 5), 0);
    EXPECT_EQ(Value(OPCHDA_REGCONST, 0, 5), 10);
}

TEST_F(Aggregates, InterpolativeIsTheValueAtTheIntervalStart)
{
    AggregateResult r = Run(OPCHDA_INTERPOLATIVE, 20, 40);
    EXPECT_DOUBLE_EQ(AsDouble(r.value), 30); // between 20 at 10 and 40 at 30
    EXPECT_EQ(r.quality, 0xC0u | OPCHDA_INTERPOLATED);
    EXPECT_DOUBLE_EQ(AsDouble(Run(OPCHDA_INTERPOLATIVE, 20, 40, true).value), 20);
    r = Run(OPCHDA_INTERPOLATIVE, 30, 40);
    EXPECT_EQ(AsDouble(r.value), 40);
    EXPECT_EQ(r.quality, historian::kRawGood) << "a stored value is reported as stored";
    // A backwards interval starts at its later bound.
    EXPECT_DOUBLE_EQ(AsDouble(Run(OPCHDA_INTERPOLATIVE, 40, 0).value), 5.2);
    r = Run(OPCHDA_INTERPOLATIVE, 61, 70);
    EXPECT_TRUE(r.value.IsEmpty());
    EXPECT_EQ(r.quality, static_cast<DWORD>(OPCHDA_NOBOUND));
}

TEST_F(Aggregates, BackwardsIntervalsCoverTheSameTime)
{
    EXPECT_DOUBLE_EQ(Value(OPCHDA_AVERAGE, 40, 0), 18.5);
    EXPECT_DOUBLE_EQ(Value(OPCHDA_TOTAL, 40, 0), 883.0);
    EXPECT_EQ(Run(OPCHDA_COUNT, 40, 0).value.Get().lVal, 4);
}

TEST_F(Aggregates, EmptyAndPartialIntervals)
{
    // Past the end of the history.
    for (DWORD id : {OPCHDA_AVERAGE, OPCHDA_MINIMUM, OPCHDA_START, OPCHDA_TIMEAVERAGE,
                     OPCHDA_WORSTQUALITY, OPCHDA_PERCENTGOOD, OPCHDA_STDEV}) {
        AggregateResult r = Run(id, 100, 110);
        EXPECT_TRUE(r.value.IsEmpty()) << id;
        EXPECT_EQ(r.quality, kNoData) << id;
    }
    AggregateResult r = Run(OPCHDA_COUNT, 100, 110);
    EXPECT_EQ(r.value.Get().lVal, 0);
    EXPECT_EQ(r.quality, kGoodCalc | OPCHDA_PARTIAL);
    r = Run(OPCHDA_DURATIONGOOD, 100, 110);
    EXPECT_EQ(AsDouble(r.value), 0);
    EXPECT_EQ(r.quality, kGoodCalc | OPCHDA_PARTIAL);

    // Starting before the first sample: only the known part counts.
    r = Run(OPCHDA_AVERAGE, -10, 5);
    EXPECT_EQ(AsDouble(r.value), 10);
    EXPECT_EQ(r.quality, kGoodCalc | OPCHDA_PARTIAL);
    r = Run(OPCHDA_TIMEAVERAGE, -10, 10, true);
    EXPECT_EQ(AsDouble(r.value), 10);
    EXPECT_EQ(r.quality, kGoodCalc | OPCHDA_PARTIAL);
    r = Run(OPCHDA_TOTAL, -10, 10, true);
    EXPECT_EQ(AsDouble(r.value), 100);

    // Only the very last sample: no known time, its value stands in.
    r = Run(OPCHDA_TIMEAVERAGE, 60, 70);
    EXPECT_EQ(AsDouble(r.value), 10);
    EXPECT_EQ(r.quality, kGoodCalc | OPCHDA_PARTIAL);
    EXPECT_EQ(AsDouble(Run(OPCHDA_TOTAL, 60, 70).value), 0);

    // A zero-length interval holds nothing.
    EXPECT_EQ(Run(OPCHDA_AVERAGE, 10, 10).quality, kNoData);
}

TEST_F(Aggregates, UnknownAggregateIsRefused)
{
    AggregateResult r;
    EXPECT_EQ(ComputeAggregate(main, false, OPCHDA_ANNOTATIONS, Sec(0), Sec(10), &r),
              OPC_E_INVALIDAGGREGATE);
    EXPECT_EQ(ComputeAggregate(main, false, 0x80000001, Sec(0), Sec(10), &r),
              OPC_E_INVALIDAGGREGATE);
    EXPECT_FALSE(historian::IsSupportedAggregate(OPCHDA_NOAGGREGATE));
}

// Qualities (seconds: value quality): 0: 1 good, 10: 2 uncertain,
// 20: empty bad, 30: 4 good, 40: 5 good.
class QualityAggregates : public Aggregates
{
protected:
    Samples mixed = MakeSamples({{0, 1},
                                 {10, 2, OPCHDA_RAW | 0x40},
                                 {20, 0, OPCHDA_RAW | 0x18, true},
                                 {30, 4},
                                 {40, 5}});
};

TEST_F(QualityAggregates, AnyInputNotGoodMakesTheResultUncertain)
{
    AggregateResult r = Run(mixed, OPCHDA_AVERAGE, 0, 40);
    EXPECT_DOUBLE_EQ(AsDouble(r.value), 7.0 / 3) << "the bad sample has no usable value";
    EXPECT_EQ(r.quality, kUncertainCalc);
    r = Run(mixed, OPCHDA_COUNT, 0, 40);
    EXPECT_EQ(r.value.Get().lVal, 4);
    EXPECT_EQ(r.quality, kUncertainCalc);
    r = Run(mixed, OPCHDA_AVERAGE, 30, 40);
    EXPECT_EQ(r.quality, kGoodCalc);
    r = Run(mixed, OPCHDA_START, 20, 40);
    EXPECT_TRUE(r.value.IsEmpty());
    EXPECT_EQ(r.quality, 0x18u | OPCHDA_CALCULATED) << "Start keeps its sample's DA quality";
    r = Run(mixed, OPCHDA_MAXIMUM, 20, 30);
    EXPECT_TRUE(r.value.IsEmpty());
    EXPECT_EQ(r.quality, static_cast<DWORD>(OPCHDA_CALCULATED)) << "bad: nothing usable";
}

TEST_F(QualityAggregates, TimeWeightedSkipsUnusableStretches)
{
    // 0-10: line 1 to 2 = 15; 10-20: 2 held (the next value is unusable) = 20;
    // 20-30: bad, skipped; 30-40: line 4 to 5 = 45. 80 over 30 usable seconds.
    AggregateResult r = Run(mixed, OPCHDA_TIMEAVERAGE, 0, 40);
    EXPECT_DOUBLE_EQ(AsDouble(r.value), 80.0 / 30);
    EXPECT_EQ(r.quality, kUncertainCalc);
    EXPECT_DOUBLE_EQ(AsDouble(Run(mixed, OPCHDA_TOTAL, 0, 40).value), 80.0);
}

TEST_F(QualityAggregates, DurationsAndPercentages)
{
    // Good 0-10 and 30-40, uncertain 10-20, bad 20-30.
    EXPECT_DOUBLE_EQ(AsDouble(Run(mixed, OPCHDA_DURATIONGOOD, 0, 40).value), 20);
    EXPECT_DOUBLE_EQ(AsDouble(Run(mixed, OPCHDA_DURATIONBAD, 0, 40).value), 10);
    EXPECT_DOUBLE_EQ(AsDouble(Run(mixed, OPCHDA_PERCENTGOOD, 0, 40).value), 50);
    EXPECT_DOUBLE_EQ(AsDouble(Run(mixed, OPCHDA_PERCENTBAD, 0, 40).value), 25);
    // Half of [35, 45) lies after the last sample: percentages of the known 5 s.
    AggregateResult r = Run(mixed, OPCHDA_PERCENTGOOD, 35, 45);
    EXPECT_DOUBLE_EQ(AsDouble(r.value), 100);
    EXPECT_EQ(r.quality, kGoodCalc | OPCHDA_PARTIAL);
}

TEST_F(QualityAggregates, WorstQuality)
{
    AggregateResult r = Run(mixed, OPCHDA_WORSTQUALITY, 0, 40);
    EXPECT_EQ(r.value.Type(), VT_I4);
    EXPECT_EQ(r.value.Get().lVal, 0x18);
    EXPECT_EQ(r.quality, kGoodCalc);
    EXPECT_EQ(Run(mixed, OPCHDA_WORSTQUALITY, 0, 20).value.Get().lVal, 0x40);
    EXPECT_EQ(Run(mixed, OPCHDA_WORSTQUALITY, 30, 50).value.Get().lVal, 0xC0);
}

TEST(AggregateCatalogue, PublishedIdsAndNames)
{
    const auto &list = historian::SupportedAggregates();
    auto name = [&](DWORD id) -> std::string {
        for (const auto &a : list)
            if (a.id == id)
                return a.name;
        return "";
    };
    EXPECT_EQ(name(1), "Interpolative");
    EXPECT_EQ(name(2), "Total");
    EXPECT_EQ(name(4), "Time Average");
    EXPECT_EQ(name(6), "Standard Deviation");
    EXPECT_EQ(name(7), "Minimum Actual Time");
    EXPECT_EQ(name(13), "Delta");
    EXPECT_EQ(name(16), "Regression Line Error");
    EXPECT_EQ(name(23), "Worst Quality");
    EXPECT_EQ(list.size(), 23u);
}

} // namespace
