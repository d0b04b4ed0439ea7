// The aggregates weighed over time or using bounding values: TimeAverage
// and Total (interpolated bounds), the simple-bound timeline and what is
// computed from it (TimeAverage2, Total2, Minimum2 .., the durations and
// percentages, the bounds themselves, WorstQuality2).
#include "history/aggregate_math.h"

#include "history/aggregate_results.h"

namespace zq {

using namespace aggregate_detail;

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

} // namespace zq
