#include "history/aggregate_math.h"

#include <algorithm>
#include <cmath>

namespace zq {

SampleClass ClassOf(const RawSample &s)
{
    if (!s.numeric)
        return SampleClass::Bad;
    switch (s.quality & 0xC0) {
    case 0xC0:
        return SampleClass::Good;
    case 0x40:
        return SampleClass::Uncertain;
    default:
        return SampleClass::Bad;
    }
}

namespace {

// Samples looked at beyond an interval's edges while searching for a usable
// one: enough for any gap of bad values a historian normally has, and a
// fixed bound on the work of one interval.
constexpr int kEdgeSearch = 1000;

double Line(double v0, int64_t t0, double v1, int64_t t1, int64_t t)
{
    if (t1 == t0)
        return v0;
    return v0 + (v1 - v0) * static_cast<double>(t - t0) / static_cast<double>(t1 - t0);
}

} // namespace

AggregateInterval::AggregateInterval(RawSource &source, const AggregateConfig &config,
                                     bool stepped, int64_t start, int64_t end, bool fullLength)
    : source_(source), config_(config), stepped_(stepped), s_(start), e_(end),
      fullLength_(fullLength)
{
    auto usable = [&](const RawSample &r) {
        SampleClass c = ClassOf(r);
        return c == SampleClass::Good || (c == SampleClass::Uncertain && !config_.treatUncertainAsBad);
    };
    std::vector<RawSample> before;
    int64_t t = s_;
    int found = 0;
    for (int i = 0; i < kEdgeSearch && found < 2; ++i) {
        RawSample r;
        if (!source_.Before(t, r) || r.t >= t)
            break;
        before.push_back(r);
        if (usable(r))
            ++found;
        t = r.t;
    }
    all_.assign(before.rbegin(), before.rend());
    w0_ = all_.size();
    source_.Window(s_, e_, all_);
    // Only what lies in the window, in order (a host may answer loosely).
    std::vector<RawSample> window(all_.begin() + static_cast<ptrdiff_t>(w0_), all_.end());
    all_.resize(w0_);
    for (const RawSample &r : window)
        if (r.t >= s_ && r.t < e_ && (all_.empty() || r.t > all_.back().t))
            all_.push_back(r);
    w1_ = all_.size();
    t = e_ - 1;
    for (int i = 0; i < kEdgeSearch; ++i) {
        RawSample r;
        if (!source_.After(t, r) || r.t <= t)
            break;
        if (r.t >= e_)
            all_.push_back(r);
        t = r.t;
        if (r.t >= e_ && usable(r))
            break;
    }
}

SampleClass AggregateInterval::RawCls(size_t i) const { return ClassOf(all_[i]); }

SampleClass AggregateInterval::Eff(size_t i) const
{
    SampleClass c = RawCls(i);
    return c == SampleClass::Uncertain && config_.treatUncertainAsBad ? SampleClass::Bad : c;
}

// The value at t from the nearest usable samples around it, skipping bad
// ones (interpolated bounding values).
AggregateInterval::Bound AggregateInterval::InterpolatedBound(int64_t t) const
{
    Bound b;
    const size_t n = all_.size();
    for (size_t i = 0; i < n; ++i) {
        if (all_[i].t == t && Eff(i) != SampleClass::Bad) {
            b.exists = b.raw = true;
            b.v = all_[i].v;
            b.rawQuality = all_[i].quality;
            b.da = all_[i].quality & 0xFFFF;
            return b;
        }
    }
    size_t p = n, p0 = n, q = n;
    bool badBetween = false, badBeforeT = false;
    for (size_t i = 0; i < n && all_[i].t < t; ++i) {
        if (Eff(i) != SampleClass::Bad) {
            p0 = p;
            p = i;
            badBeforeT = false;
        } else if (p != n) {
            badBeforeT = true;
        }
    }
    if (p == n) {
        b.beforeData = true;
        return b;
    }
    for (size_t i = p + 1; i < n && all_[i].t <= t; ++i)
        if (all_[i].t == t)
            badBeforeT = true; // the sample at t itself is bad
    badBetween = badBeforeT;
    for (size_t i = p + 1; i < n; ++i) {
        if (all_[i].t <= t)
            continue;
        if (Eff(i) != SampleClass::Bad) {
            q = i;
            break;
        }
        badBetween = true;
    }
    b.exists = b.interpolated = true;
    const bool pUncertain = Eff(p) == SampleClass::Uncertain;
    if (q == n) {
        b.extrapolated = true;
        b.v = all_[p].v;
        if (!stepped_ && config_.useSlopedExtrapolation && p0 != n)
            b.v = Line(all_[p0].v, all_[p0].t, all_[p].v, all_[p].t, t);
        b.da = kDaUncertainSubNormal;
        return b;
    }
    if (stepped_) {
        b.v = all_[p].v;
        b.da = pUncertain || badBeforeT ? kDaUncertainSubNormal : kDaGood;
        return b;
    }
    b.v = Line(all_[p].v, all_[p].t, all_[q].v, all_[q].t, t);
    b.da = pUncertain || Eff(q) == SampleClass::Uncertain || badBetween ? kDaUncertainSubNormal
                                                                         : kDaGood;
    return b;
}

// The value at t from the samples just around it, bad ones included
// (simple bounding values).
AggregateInterval::Bound AggregateInterval::SimpleBound(int64_t t) const
{
    Bound b;
    const size_t n = all_.size();
    size_t before = n, after = n;
    for (size_t i = 0; i < n; ++i) {
        if (all_[i].t == t) {
            b.raw = true;
            b.rawQuality = all_[i].quality;
            if (Eff(i) == SampleClass::Bad)
                return b;
            b.exists = true;
            b.v = all_[i].v;
            b.da = all_[i].quality & 0xFFFF;
            return b;
        }
        if (all_[i].t < t)
            before = i;
        else if (after == n)
            after = i;
    }
    if (before == n) {
        b.beforeData = true;
        return b;
    }
    if (after == n) {
        b.beyondData = true;
        return b;
    }
    if (Eff(before) == SampleClass::Bad)
        return b;
    b.exists = b.interpolated = true;
    const bool beforeUncertain = Eff(before) == SampleClass::Uncertain;
    if (stepped_) {
        b.v = all_[before].v;
        b.da = beforeUncertain ? kDaUncertainSubNormal : kDaGood;
        return b;
    }
    if (Eff(after) == SampleClass::Bad) {
        b.v = all_[before].v;
        b.da = kDaUncertainSubNormal;
        return b;
    }
    b.v = Line(all_[before].v, all_[before].t, all_[after].v, all_[after].t, t);
    b.da = beforeUncertain || Eff(after) == SampleClass::Uncertain ? kDaUncertainSubNormal
                                                                   : kDaGood;
    return b;
}

void AggregateInterval::BuildSimpleNodes()
{
    if (nodesBuilt_)
        return;
    nodesBuilt_ = true;
    auto boundNode = [](int64_t t, const Bound &b) {
        Node node;
        node.t = t;
        node.bound = true;
        node.b = b;
        node.v = b.v;
        node.da = b.exists ? b.da : kDaBad;
        node.cls = !b.exists ? SampleClass::Bad
                   : (b.da & 0xC0) == 0xC0 ? SampleClass::Good
                                            : SampleClass::Uncertain;
        node.rawQuality = b.rawQuality;
        return node;
    };
    nodes_.push_back(boundNode(s_, SimpleBound(s_)));
    for (size_t i = w0_; i < w1_; ++i) {
        if (all_[i].t == s_)
            continue;
        Node node;
        node.t = all_[i].t;
        node.v = all_[i].v;
        node.cls = Eff(i);
        node.da = all_[i].quality & 0xFFFF;
        node.rawQuality = all_[i].quality;
        nodes_.push_back(node);
    }
    nodes_.push_back(boundNode(e_, SimpleBound(e_)));
}

uint32_t AggregateInterval::FromPercent(double good, double bad, double total) const
{
    if (total <= 0)
        return kDaGood;
    if (bad * 100.0 >= config_.percentDataBad * total)
        return kDaBad;
    if (good * 100.0 >= config_.percentDataGood * total)
        return kDaGood;
    return kDaUncertainSubNormal;
}

uint32_t AggregateInterval::FromCounts(size_t good, size_t bad, size_t n) const
{
    return FromPercent(static_cast<double>(good), static_cast<double>(bad), static_cast<double>(n));
}

bool AggregateInterval::Partial() const
{
    if (!fullLength_)
        return true;
    return w0_ == 0 && w1_ > w0_ && all_[w0_].t > s_;
}

} // namespace zq
