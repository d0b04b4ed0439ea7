// The aggregates themselves, over the interval AggregateInterval gathered
// (aggregate_math.cpp: gathering, bounding values, the simple-bound
// timeline).
#include "history/aggregate_math.h"

#include <cmath>

namespace zq {

namespace {

constexpr int64_t kTicksPerMs = 10000;
constexpr double kTicksPerSecond = 1e7;

int Rank(uint32_t quality)
{
    switch (quality & 0xC0) {
    case 0xC0:
        return 0;
    case 0x40:
        return 1;
    default:
        return 2;
    }
}

uint32_t Worse(uint32_t a, uint32_t b) { return Rank(a) >= Rank(b) ? a : b; }

AggregateResult Number(int64_t t, double v, uint32_t da)
{
    AggregateResult r;
    r.t = t;
    r.kind = AggregateResult::Kind::Number;
    r.number = v;
    r.da = da;
    return r;
}

// A result that is Bad by the configuration's percentages: no value.
AggregateResult BadResult(int64_t t)
{
    AggregateResult r;
    r.t = t;
    r.da = kDaBad;
    return r;
}

} // namespace

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

// TimeAverage and Total: the area under the line through the usable samples
// and the interpolated bounds, bad samples skipped.
AggregateResult AggregateInterval::TimeWeighted(bool total)
{
    struct Point
    {
        int64_t t;
        double v;
        uint32_t da;
        bool extrapolated;
    };
    std::vector<Point> points;
    const Bound start = InterpolatedBound(s_);
    if (start.exists)
        points.push_back({s_, start.v, start.da, start.extrapolated});
    for (size_t i = w0_; i < w1_; ++i) {
        if (Eff(i) == SampleClass::Bad || all_[i].t == s_)
            continue;
        points.push_back({all_[i].t, all_[i].v,
                          Eff(i) == SampleClass::Good ? kDaGood : kDaUncertainSubNormal, false});
    }
    AggregateResult r;
    r.t = s_;
    if (points.empty()) {
        r.noData = true;
        return r;
    }
    const Bound end = InterpolatedBound(e_);
    points.push_back({e_, end.v, end.da, end.extrapolated});

    // The first bad sample after from and before to; the stretches come in
    // time order, so one pass over the samples serves them all.
    size_t scan = 0;
    auto firstBadIn = [&](int64_t from, int64_t to) {
        while (scan < all_.size() && all_[scan].t <= from)
            ++scan;
        for (size_t j = scan; j < all_.size() && all_[j].t < to; ++j)
            if (Eff(j) == SampleClass::Bad)
                return all_[j].t;
        return to;
    };
    double area = 0, good = 0;
    for (size_t i = 0; i + 1 < points.size(); ++i) {
        const Point &a = points[i], &b = points[i + 1];
        const double dt = static_cast<double>(b.t - a.t);
        const int64_t bad = firstBadIn(a.t, b.t);
        if (stepped_) {
            area += a.v * dt;
            if ((a.da & 0xC0) == 0xC0 && !b.extrapolated)
                good += static_cast<double>(bad - a.t);
        } else {
            area += (a.v + b.v) / 2 * dt;
            if ((a.da & 0xC0) == 0xC0 && (b.da & 0xC0) == 0xC0 && bad == b.t && !b.extrapolated &&
                !a.extrapolated)
                good += dt;
        }
    }
    const double covered = static_cast<double>(e_ - points.front().t);
    uint32_t da = FromPercent(good, 0, static_cast<double>(e_ - s_));
    if (!start.exists && da == kDaGood)
        da = kDaUncertainSubNormal; // no start bound: at best uncertain
    r = Number(s_, total ? area / kTicksPerSecond : area / covered, da);
    r.calculated = true;
    return r;
}

// The simple-bound timeline weighed by time: each stretch between two
// points has a status (bad after a bad point or where there is no data) and
// a value line (sloped, or held where stepped or before a bad point).
struct AggregateInterval::Weights
{
    double good = 0, bad = 0, usable = 0, area = 0;
};

AggregateInterval::Weights AggregateInterval::Weigh()
{
    BuildSimpleNodes();
    Weights w;
    for (size_t i = 0; i + 1 < nodes_.size(); ++i) {
        const Node &a = nodes_[i], &b = nodes_[i + 1];
        const double dt = static_cast<double>(b.t - a.t);
        const bool beyond = b.bound && b.b.beyondData;
        SampleClass cls;
        if (a.cls == SampleClass::Bad)
            cls = SampleClass::Bad;
        else if (stepped_)
            cls = a.cls;
        else
            cls = !beyond && a.cls == SampleClass::Good && b.cls == SampleClass::Good
                      ? SampleClass::Good
                      : SampleClass::Uncertain;
        if (cls == SampleClass::Bad) {
            w.bad += dt;
            continue;
        }
        if (cls == SampleClass::Good)
            w.good += dt;
        w.usable += dt;
        const bool line = !stepped_ && !beyond && b.cls != SampleClass::Bad;
        w.area += line ? (a.v + b.v) / 2 * dt : a.v * dt;
    }
    return w;
}

AggregateResult AggregateInterval::SimpleWeighted(bool total)
{
    const Weights w = Weigh();
    AggregateResult r;
    r.t = s_;
    if (w.usable <= 0) {
        r.noData = true;
        return r;
    }
    const uint32_t da = FromPercent(w.good, w.bad, static_cast<double>(e_ - s_));
    if (da == kDaBad) {
        r = BadResult(s_);
    } else {
        r = Number(s_, total ? w.area / kTicksPerSecond : w.area / w.usable, da);
    }
    r.calculated = true;
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

AggregateResult AggregateInterval::Extreme2(Aggregate aggregate)
{
    const Weights w = Weigh();
    struct Candidate
    {
        int64_t t;
        double v;
        bool calculated, interpolated;
    };
    std::vector<Candidate> candidates;
    const Node &first = nodes_.front(), &last = nodes_.back();
    if (first.b.exists)
        candidates.push_back({s_, first.v, false, !first.b.raw});
    for (size_t i = 1; i + 1 < nodes_.size(); ++i)
        if (nodes_[i].cls != SampleClass::Bad)
            candidates.push_back({nodes_[i].t, nodes_[i].v, true, false});
    // Stepped, the end bound repeats a value already in the interval.
    if (!stepped_ && last.b.exists)
        candidates.push_back({e_ - kTicksPerMs, last.v, false, !last.b.raw});
    AggregateResult r;
    r.t = s_;
    if (candidates.empty()) {
        r.noData = true;
        return r;
    }
    const uint32_t da = FromPercent(w.good, w.bad, static_cast<double>(e_ - s_));
    if (da == kDaBad) {
        r = BadResult(s_);
        r.calculated = true;
        return r;
    }
    size_t lo = 0, hi = 0;
    for (size_t i = 1; i < candidates.size(); ++i) {
        if (candidates[i].v < candidates[lo].v)
            lo = i;
        if (candidates[i].v > candidates[hi].v)
            hi = i;
    }
    if (aggregate == Aggregate::Range2) {
        r = Number(s_, candidates[hi].v - candidates[lo].v, da);
        r.calculated = true;
        return r;
    }
    const bool wantMin = aggregate == Aggregate::Minimum2 || aggregate == Aggregate::MinimumActualTime2;
    const Candidate &best = candidates[wantMin ? lo : hi];
    int equal = 0;
    for (const Candidate &c : candidates)
        if (c.v == best.v)
            ++equal;
    const bool actualTime = aggregate == Aggregate::MinimumActualTime2 ||
                            aggregate == Aggregate::MaximumActualTime2;
    r = Number(actualTime ? best.t : s_, best.v, da);
    r.calculated = !actualTime && best.calculated;
    r.interpolated = best.interpolated;
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

AggregateResult AggregateInterval::Bounds(Aggregate aggregate)
{
    BuildSimpleNodes();
    const Bound &sb = nodes_.front().b, &eb = nodes_.back().b;
    AggregateResult r;
    r.t = s_;
    switch (aggregate) {
    case Aggregate::StartBound:
        if (!sb.exists) {
            r.noData = true;
            return r;
        }
        r = Number(s_, sb.v, sb.da);
        r.interpolated = sb.interpolated;
        return r;
    case Aggregate::EndBound:
        if (!eb.exists)
            r.noData = true;
        else
            r = Number(s_, eb.v, eb.da);
        r.calculated = true;
        return r;
    default:
        if (!sb.exists || !eb.exists) {
            r.noData = true;
            return r;
        }
        r = Number(s_, eb.v - sb.v, Rank(Worse(sb.da, eb.da)) == 0 ? kDaGood : kDaUncertainSubNormal);
        r.calculated = true;
        return r;
    }
}

AggregateResult AggregateInterval::Durations(Aggregate aggregate)
{
    BuildSimpleNodes();
    double good = 0, bad = 0, zero = 0, nonZero = 0;
    for (size_t i = 0; i + 1 < nodes_.size(); ++i) {
        const Node &a = nodes_[i];
        const double dt = static_cast<double>(nodes_[i + 1].t - a.t);
        if (a.cls == SampleClass::Good) {
            good += dt;
            (a.v == 0 ? zero : nonZero) += dt;
        } else if (a.cls == SampleClass::Bad) {
            bad += dt;
        }
    }
    const double span = static_cast<double>(e_ - s_);
    double value = 0;
    uint32_t da = kDaGood;
    switch (aggregate) {
    case Aggregate::DurationGood:
        value = good / kTicksPerMs;
        break;
    case Aggregate::DurationBad:
        value = bad / kTicksPerMs;
        break;
    case Aggregate::PercentGood:
        value = span > 0 ? 100 * good / span : 0;
        break;
    case Aggregate::PercentBad:
        value = span > 0 ? 100 * bad / span : 0;
        break;
    default:
        value = (aggregate == Aggregate::DurationInStateZero ? zero : nonZero) / kTicksPerMs;
        da = FromPercent(good, bad, span);
        if (da == kDaBad) {
            AggregateResult r = BadResult(s_);
            r.calculated = true;
            return r;
        }
        break;
    }
    AggregateResult r = Number(s_, value, da);
    r.calculated = true;
    return r;
}

AggregateResult AggregateInterval::Worst(bool withBounds)
{
    struct Seen
    {
        int rank;
        uint32_t word;
        bool noBound;
    };
    std::vector<Seen> seen;
    auto bound = [&](const Bound &b) {
        if (b.raw)
            seen.push_back({Rank(b.rawQuality), b.rawQuality, false});
        else if (!b.exists)
            seen.push_back({2, 0, true});
        else
            seen.push_back({Rank(b.da), b.da, false});
    };
    if (withBounds) {
        BuildSimpleNodes();
        bound(nodes_.front().b);
    }
    for (size_t i = w0_; i < w1_; ++i)
        if (!(withBounds && all_[i].t == s_))
            seen.push_back({Rank(all_[i].quality), all_[i].quality, false});
    if (withBounds)
        bound(nodes_.back().b);
    AggregateResult r;
    r.t = s_;
    if (seen.empty()) {
        r.noData = true;
        return r;
    }
    size_t worst = 0;
    for (size_t i = 1; i < seen.size(); ++i)
        if (seen[i].rank > seen[worst].rank)
            worst = i;
    int equal = 0; // several values share the worst quality (a good one is no news)
    for (const Seen &x : seen)
        if (x.rank == seen[worst].rank && x.rank > 0)
            ++equal;
    r.kind = AggregateResult::Kind::QualityWord;
    r.qualityWord = seen[worst].word;
    r.qualityNoBound = seen[worst].noBound;
    r.da = kDaGood;
    r.calculated = true;
    r.multiple = equal > 1;
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
