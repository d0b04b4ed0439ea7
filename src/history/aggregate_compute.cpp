// The aggregates of the raw values themselves and the dispatch, over the
// interval AggregateInterval gathered (aggregate_math.cpp: gathering and
// bounding values; aggregate_timeline.cpp: the time-weighted ones and those
// with bounds).
#include "history/aggregate_math.h"

#include <cmath>

#include "history/aggregate_results.h"

namespace zq {

using namespace aggregate_detail;

AggregateResult AggregateInterval::Compute(Aggregate aggregate)
{
    AggregateResult none;
    none.t = s_;
    none.noData = true;
    const bool anythingBeforeEnd = w1_ > 0;          // a sample stamped before the end
    const bool anythingFromStart = all_.size() > w0_; // a sample at or after the start
    if (!anythingBeforeEnd)
        return none; // before the start of the data
    const bool extrapolates = aggregate == Aggregate::Interpolative ||
                              aggregate == Aggregate::TimeAverage || aggregate == Aggregate::Total;
    if (!anythingFromStart && !extrapolates)
        return none; // after the end of the data

    AggregateResult r;
    switch (aggregate) {
    case Aggregate::Interpolative:
        return Interpolative();
    case Aggregate::TimeAverage:
    case Aggregate::Total:
        r = TimeWeighted(aggregate == Aggregate::Total);
        break;
    case Aggregate::TimeAverage2:
    case Aggregate::Total2:
        r = SimpleWeighted(aggregate == Aggregate::Total2);
        break;
    case Aggregate::Average:
        r = Spread(aggregate);
        break;
    case Aggregate::Minimum:
    case Aggregate::Maximum:
    case Aggregate::MinimumActualTime:
    case Aggregate::MaximumActualTime:
    case Aggregate::Range:
        r = Extreme(aggregate);
        break;
    case Aggregate::Minimum2:
    case Aggregate::Maximum2:
    case Aggregate::MinimumActualTime2:
    case Aggregate::MaximumActualTime2:
    case Aggregate::Range2:
        r = Extreme2(aggregate);
        break;
    case Aggregate::Count:
    case Aggregate::AnnotationCount:
    case Aggregate::NumberOfTransitions:
        r = CountLike(aggregate);
        break;
    case Aggregate::Start:
    case Aggregate::End:
        r = StartEnd(aggregate == Aggregate::Start);
        break;
    case Aggregate::Delta:
        r = Delta();
        break;
    case Aggregate::StartBound:
    case Aggregate::EndBound:
    case Aggregate::DeltaBounds:
        r = Bounds(aggregate);
        break;
    case Aggregate::DurationGood:
    case Aggregate::DurationBad:
    case Aggregate::PercentGood:
    case Aggregate::PercentBad:
    case Aggregate::DurationInStateZero:
    case Aggregate::DurationInStateNonZero:
        r = Durations(aggregate);
        break;
    case Aggregate::WorstQuality:
    case Aggregate::WorstQuality2:
        r = Worst(aggregate == Aggregate::WorstQuality2);
        break;
    case Aggregate::StandardDeviationSample:
    case Aggregate::StandardDeviationPopulation:
    case Aggregate::VarianceSample:
    case Aggregate::VariancePopulation:
        r = Spread(aggregate);
        break;
    case Aggregate::RegressionSlope:
    case Aggregate::RegressionConstant:
    case Aggregate::RegressionError:
        r = Regression(aggregate);
        break;
    }
    if (Partial())
        r.partial = true;
    return r;
}

AggregateResult AggregateInterval::Interpolative()
{
    const Bound b = InterpolatedBound(s_);
    if (!b.exists) {
        AggregateResult r;
        r.t = s_;
        r.noData = true;
        return r;
    }
    AggregateResult r = Number(s_, b.v, b.da);
    r.interpolated = b.interpolated;
    return r;
}

AggregateResult AggregateInterval::Extreme(Aggregate aggregate)
{
    const bool wantMin = aggregate == Aggregate::Minimum || aggregate == Aggregate::MinimumActualTime;
    size_t best = w1_, lo = w1_, hi = w1_;
    bool nonGood = false;
    int equal = 0;
    for (size_t i = w0_; i < w1_; ++i) {
        if (RawCls(i) != SampleClass::Good) {
            nonGood = true;
            continue;
        }
        if (lo == w1_ || all_[i].v < all_[lo].v)
            lo = i;
        if (hi == w1_ || all_[i].v > all_[hi].v)
            hi = i;
    }
    AggregateResult r;
    r.t = s_;
    if (lo == w1_) {
        r.noData = true;
        return r;
    }
    const uint32_t da = nonGood ? kDaUncertainSubNormal : kDaGood;
    if (aggregate == Aggregate::Range) {
        r = Number(s_, all_[hi].v - all_[lo].v, da);
        r.calculated = true;
        return r;
    }
    best = wantMin ? lo : hi;
    for (size_t i = w0_; i < w1_; ++i)
        if (RawCls(i) == SampleClass::Good && all_[i].v == all_[best].v)
            ++equal;
    const bool actualTime = aggregate == Aggregate::MinimumActualTime ||
                            aggregate == Aggregate::MaximumActualTime;
    r = Number(actualTime ? all_[best].t : s_, all_[best].v, da);
    r.calculated = !actualTime && all_[best].t != s_;
    r.multiple = equal > 1;
    return r;
}

AggregateResult AggregateInterval::CountLike(Aggregate aggregate)
{
    size_t good = 0, bad = 0;
    for (size_t i = w0_; i < w1_; ++i) {
        if (RawCls(i) == SampleClass::Good)
            ++good;
        else if (RawCls(i) == SampleClass::Bad)
            ++bad;
    }
    AggregateResult r;
    r.t = s_;
    if (aggregate == Aggregate::AnnotationCount) {
        const long n = source_.Annotations(s_, e_);
        if (n < 0) {
            r.noData = true;
            return r;
        }
        r.kind = AggregateResult::Kind::Integer;
        r.integer = n;
        r.da = kDaGood;
        r.calculated = true;
        return r;
    }
    const uint32_t da = FromCounts(good, bad, w1_ - w0_);
    if (da == kDaBad)
        return BadResult(s_);
    long value = static_cast<long>(good);
    if (aggregate == Aggregate::NumberOfTransitions) {
        // From the last usable value before the interval, when that one is
        // good; each usable value that differs from the one before counts.
        bool have = false;
        double previous = 0;
        for (size_t i = w0_; i-- > 0;) {
            if (Eff(i) == SampleClass::Bad)
                continue;
            have = Eff(i) == SampleClass::Good;
            previous = all_[i].v;
            break;
        }
        value = 0;
        for (size_t i = w0_; i < w1_; ++i) {
            if (Eff(i) == SampleClass::Bad)
                continue;
            if (have && all_[i].v != previous)
                ++value;
            have = true;
            previous = all_[i].v;
        }
    }
    r.kind = AggregateResult::Kind::Integer;
    r.integer = value;
    r.da = da;
    r.calculated = true;
    return r;
}

AggregateResult AggregateInterval::StartEnd(bool start)
{
    AggregateResult r;
    r.t = s_;
    if (w1_ == w0_) {
        r.noData = true;
        return r;
    }
    const size_t i = start ? w0_ : w1_ - 1;
    r.t = all_[i].t;
    r.da = all_[i].quality & 0xFFFF;
    if (RawCls(i) != SampleClass::Bad) {
        r.kind = AggregateResult::Kind::Number;
        r.number = all_[i].v;
    }
    return r;
}

AggregateResult AggregateInterval::Delta()
{
    AggregateResult r;
    r.t = s_;
    if (w1_ == w0_) {
        r.noData = true;
        return r;
    }
    size_t first = w1_, last = w1_;
    bool nonGood = false;
    for (size_t i = w0_; i < w1_; ++i) {
        if (RawCls(i) != SampleClass::Good) {
            nonGood = true;
            continue;
        }
        if (first == w1_)
            first = i;
        last = i;
    }
    const double delta = first == w1_ ? 0 : all_[last].v - all_[first].v;
    r = Number(s_, delta, nonGood ? kDaUncertainSubNormal : kDaGood);
    r.calculated = true;
    return r;
}

// Average, the standard deviations and variances: over the good raw values.
AggregateResult AggregateInterval::Spread(Aggregate aggregate)
{
    size_t n = 0, bad = 0;
    double sum = 0;
    for (size_t i = w0_; i < w1_; ++i) {
        if (RawCls(i) == SampleClass::Good) {
            ++n;
            sum += all_[i].v;
        } else if (RawCls(i) == SampleClass::Bad) {
            ++bad;
        }
    }
    AggregateResult r;
    r.t = s_;
    if (n == 0) {
        r.noData = true;
        return r;
    }
    // The average follows the configuration's percentages; the deviations
    // and variances are Good unless a value that is not good was left out.
    const bool average = aggregate == Aggregate::Average;
    const uint32_t da = average ? FromCounts(n, bad, w1_ - w0_)
                        : n < w1_ - w0_ ? kDaUncertainSubNormal
                                        : kDaGood;
    if (da == kDaBad) {
        r = BadResult(s_);
        r.calculated = true;
        return r;
    }
    const double mean = sum / static_cast<double>(n);
    double squares = 0;
    for (size_t i = w0_; i < w1_; ++i)
        if (RawCls(i) == SampleClass::Good)
            squares += (all_[i].v - mean) * (all_[i].v - mean);
    const double population = squares / static_cast<double>(n);
    const double sample = n > 1 ? squares / static_cast<double>(n - 1) : 0;
    double value = mean;
    switch (aggregate) {
    case Aggregate::StandardDeviationSample:
        value = std::sqrt(sample);
        break;
    case Aggregate::StandardDeviationPopulation:
        value = std::sqrt(population);
        break;
    case Aggregate::VarianceSample:
        value = sample;
        break;
    case Aggregate::VariancePopulation:
        value = population;
        break;
    default:
        break;
    }
    r = Number(s_, value, da);
    r.calculated = true;
    return r;
}

// Least squares over the good raw values, time in seconds from the
// interval's start: the slope (per second), the line's value at the start,
// and the standard error of the estimate, sqrt(sum of squared residuals /
// (n - 2)) (0 for fewer than three values).
AggregateResult AggregateInterval::Regression(Aggregate aggregate)
{
    double n = 0, sx = 0, sy = 0;
    size_t bad = 0;
    for (size_t i = w0_; i < w1_; ++i) {
        if (RawCls(i) == SampleClass::Good) {
            n += 1;
            sx += static_cast<double>(all_[i].t - s_) / kTicksPerSecond;
            sy += all_[i].v;
        } else if (RawCls(i) == SampleClass::Bad) {
            ++bad;
        }
    }
    AggregateResult r;
    r.t = s_;
    if (n == 0) {
        r.noData = true;
        return r;
    }
    const double mx = sx / n, my = sy / n;
    double sxx = 0, sxy = 0;
    for (size_t i = w0_; i < w1_; ++i) {
        if (RawCls(i) != SampleClass::Good)
            continue;
        const double x = static_cast<double>(all_[i].t - s_) / kTicksPerSecond - mx;
        sxx += x * x;
        sxy += x * (all_[i].v - my);
    }
    const double slope = sxx > 0 ? sxy / sxx : 0;
    const double constant = my - slope * mx;
    double value = aggregate == Aggregate::RegressionSlope ? slope : constant;
    if (aggregate == Aggregate::RegressionError) {
        double sse = 0;
        for (size_t i = w0_; i < w1_; ++i) {
            if (RawCls(i) != SampleClass::Good)
                continue;
            const double x = static_cast<double>(all_[i].t - s_) / kTicksPerSecond;
            const double e = all_[i].v - (constant + slope * x);
            sse += e * e;
        }
        value = n > 2 ? std::sqrt(sse / (n - 2)) : 0;
    }
    const uint32_t da = FromCounts(static_cast<size_t>(n), bad, w1_ - w0_);
    if (da == kDaBad) {
        r = BadResult(s_);
        r.calculated = true;
        return r;
    }
    r = Number(s_, value, da);
    r.calculated = true;
    return r;
}

} // namespace zq
