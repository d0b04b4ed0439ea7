#include "aggregates.h"

#include <algorithm>
#include <cmath>

#include "opchda.h"

namespace historian {

const std::vector<AggregateInfo> &SupportedAggregates()
{
    static const std::vector<AggregateInfo> list = {
        {OPCHDA_INTERPOLATIVE, "Interpolative", "Value at the interval start, interpolated"},
        {OPCHDA_TOTAL, "Total", "Time integral of the value, in value x seconds"},
        {OPCHDA_AVERAGE, "Average", "Arithmetic mean of the raw values"},
        {OPCHDA_TIMEAVERAGE, "Time Average", "Time-weighted average of the value"},
        {OPCHDA_COUNT, "Count", "Number of raw values"},
        {OPCHDA_STDEV, "Standard Deviation", "Population standard deviation of the raw values"},
        {OPCHDA_MINIMUMACTUALTIME, "Minimum Actual Time", "Minimum, at the time it occurred"},
        {OPCHDA_MINIMUM, "Minimum", "Smallest raw value"},
        {OPCHDA_MAXIMUMACTUALTIME, "Maximum Actual Time", "Maximum, at the time it occurred"},
        {OPCHDA_MAXIMUM, "Maximum", "Largest raw value"},
        {OPCHDA_START, "Start", "First raw value of the interval"},
        {OPCHDA_END, "End", "Last raw value of the interval"},
        {OPCHDA_DELTA, "Delta", "Last minus first raw value"},
        {OPCHDA_REGSLOPE, "Regression Line Slope", "Least-squares slope, per second"},
        {OPCHDA_REGCONST, "Regression Line Constant", "Least-squares line at the interval start"},
        {OPCHDA_REGDEV, "Regression Line Error", "Root mean square of the residuals"},
        {OPCHDA_VARIANCE, "Variance", "Population variance of the raw values"},
        {OPCHDA_RANGE, "Range", "Maximum minus minimum"},
        {OPCHDA_DURATIONGOOD, "Duration Good", "Seconds of good quality"},
        {OPCHDA_DURATIONBAD, "Duration Bad", "Seconds of bad quality"},
        {OPCHDA_PERCENTGOOD, "Percent Good", "Percentage of the known time with good quality"},
        {OPCHDA_PERCENTBAD, "Percent Bad", "Percentage of the known time with bad quality"},
        {OPCHDA_WORSTQUALITY, "Worst Quality", "Lowest quality of the raw values"},
    };
    return list;
}

bool IsSupportedAggregate(DWORD id)
{
    for (const AggregateInfo &a : SupportedAggregates())
        if (a.id == id)
            return true;
    return false;
}

namespace {

constexpr DWORD kNoData = kBad | OPCHDA_NODATA;

DWORD Calculated(bool allGood) { return (allGood ? kGood : kSubNormal) | OPCHDA_CALCULATED; }

bool Usable(const Sample &s, double *v) { return !IsBad(s.quality) && s.value.ToDouble(v); }

// The samples of [lo, hi) and what value-based aggregates need of them.
struct Window
{
    size_t first = 0, last = 0; // [first, last)
    bool allGood = true;        // every sample good
    std::vector<double> values; // usable values, in time order
    std::vector<Ticks> times;   // their time stamps
    DWORD partial = 0;          // OPCHDA_PARTIAL or 0

    size_t Count() const { return last - first; }
};

Window MakeWindow(const Samples &samples, Ticks lo, Ticks hi)
{
    Window w;
    w.first = LowerIndex(samples, lo);
    w.last = std::max(w.first, LowerIndex(samples, hi));
    for (size_t i = w.first; i < w.last; ++i) {
        double v;
        if (!IsGood(samples[i].quality))
            w.allGood = false;
        if (Usable(samples[i], &v)) {
            w.values.push_back(v);
            w.times.push_back(samples[i].time);
        }
    }
    if (samples.empty() || lo < samples.front().time || hi > samples.back().time)
        w.partial = OPCHDA_PARTIAL;
    return w;
}

// The time-weighted walk over [lo, hi).
struct Integral
{
    Ticks known = 0;  // time with a sample in effect
    Ticks usable = 0; // of which the value was usable
    Ticks good = 0, bad = 0;
    double sum = 0; // value x ticks
    bool inputsGood = true;
};

Integral Integrate(const Samples &samples, bool stepped, Ticks lo, Ticks hi)
{
    Integral r;
    if (samples.empty() || hi <= lo)
        return r;
    size_t i = UpperIndex(samples, lo);
    i = i == 0 ? 0 : i - 1; // the sample in effect at lo, or the first one
    for (; i + 1 < samples.size() && samples[i].time < hi; ++i) {
        const Sample &a = samples[i];
        const Sample &b = samples[i + 1];
        Ticks from = std::max(a.time, lo), to = std::min(b.time, hi);
        if (to <= from)
            continue;
        Ticks span = to - from;
        r.known += span;
        if (IsGood(a.quality))
            r.good += span;
        else if (IsBad(a.quality))
            r.bad += span;
        double va, vb;
        if (!Usable(a, &va)) {
            r.inputsGood = false;
            continue;
        }
        bool linear = !stepped && Usable(b, &vb);
        r.usable += span;
        if (!IsGood(a.quality) || (linear && !IsGood(b.quality)))
            r.inputsGood = false;
        if (linear) {
            double width = static_cast<double>(b.time - a.time);
            double f0 = va + (vb - va) * static_cast<double>(from - a.time) / width;
            double f1 = va + (vb - va) * static_cast<double>(to - a.time) / width;
            r.sum += (f0 + f1) / 2 * static_cast<double>(span);
        } else {
            r.sum += va * static_cast<double>(span);
        }
    }
    return r;
}

double Seconds(Ticks t) { return static_cast<double>(t) / kTicksPerSecond; }

void Set(AggregateResult *out, double v, DWORD quality)
{
    out->value = Value(v);
    out->quality = quality;
}

double Mean(const std::vector<double> &v)
{
    double s = 0;
    for (double x : v)
        s += x;
    return s / static_cast<double>(v.size());
}

double Variance(const std::vector<double> &v)
{
    double m = Mean(v), s = 0;
    for (double x : v)
        s += (x - m) * (x - m);
    return s / static_cast<double>(v.size());
}

void Regression(const Window &w, Ticks lo, DWORD id, AggregateResult *out, DWORD quality)
{
    size_t n = w.values.size();
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = Seconds(w.times[i] - lo);
    double mx = Mean(x), my = Mean(w.values), sxx = 0, sxy = 0;
    for (size_t i = 0; i < n; ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (w.values[i] - my);
    }
    double slope = sxx > 0 ? sxy / sxx : 0;
    double constant = my - slope * mx;
    double residuals = 0;
    for (size_t i = 0; i < n; ++i) {
        double r = w.values[i] - (constant + slope * x[i]);
        residuals += r * r;
    }
    double v = id == OPCHDA_REGSLOPE ? slope
               : id == OPCHDA_REGCONST ? constant
                                       : std::sqrt(residuals / static_cast<double>(n));
    Set(out, v, quality);
}

HRESULT TimeWeighted(const Samples &samples, bool stepped, DWORD id, Ticks lo, Ticks hi,
                     const Window &w, AggregateResult *out)
{
    Integral r = Integrate(samples, stepped, lo, hi);
    DWORD partial = w.partial | (r.known < hi - lo ? OPCHDA_PARTIAL : 0);
    switch (id) {
    case OPCHDA_DURATIONGOOD:
    case OPCHDA_DURATIONBAD:
        Set(out, Seconds(id == OPCHDA_DURATIONGOOD ? r.good : r.bad),
            kGood | OPCHDA_CALCULATED | partial);
        return S_OK;
    case OPCHDA_PERCENTGOOD:
    case OPCHDA_PERCENTBAD:
        if (r.known == 0) {
            out->quality = kNoData;
            return S_OK;
        }
        Set(out,
            100.0 * static_cast<double>(id == OPCHDA_PERCENTGOOD ? r.good : r.bad) /
                static_cast<double>(r.known),
            kGood | OPCHDA_CALCULATED | partial);
        return S_OK;
    default:
        break;
    }
    // Time Average and Total.
    if (r.usable == 0) {
        if (!w.values.empty()) {
            bool good = r.inputsGood && w.allGood;
            Set(out, id == OPCHDA_TOTAL ? 0.0 : Mean(w.values), Calculated(good) | OPCHDA_PARTIAL);
        } else {
            out->quality = r.known > 0 || w.Count() > 0 ? kBad | OPCHDA_CALCULATED | partial
                                                        : kNoData;
        }
        return S_OK;
    }
    double v = id == OPCHDA_TOTAL ? r.sum / kTicksPerSecond
                                  : r.sum / static_cast<double>(r.usable);
    Set(out, v, Calculated(r.inputsGood) | partial);
    return S_OK;
}

} // namespace

HRESULT ComputeAggregate(const Samples &samples, bool stepped, DWORD id, Ticks start, Ticks end,
                         AggregateResult *out)
{
    *out = AggregateResult();
    if (!IsSupportedAggregate(id))
        return OPC_E_INVALIDAGGREGATE;
    if (id == OPCHDA_INTERPOLATIVE) {
        ValueAt(samples, stepped, start, &out->value, &out->quality);
        return S_OK;
    }
    Ticks lo = std::min(start, end), hi = std::max(start, end);
    Window w = MakeWindow(samples, lo, hi);

    switch (id) {
    case OPCHDA_TIMEAVERAGE:
    case OPCHDA_TOTAL:
    case OPCHDA_DURATIONGOOD:
    case OPCHDA_DURATIONBAD:
    case OPCHDA_PERCENTGOOD:
    case OPCHDA_PERCENTBAD:
        return TimeWeighted(samples, stepped, id, lo, hi, w, out);
    case OPCHDA_COUNT:
        out->value = Value::Int(static_cast<int32_t>(w.Count()));
        out->quality = Calculated(w.allGood) | w.partial;
        return S_OK;
    default:
        break;
    }
    if (w.Count() == 0) {
        out->quality = kNoData;
        return S_OK;
    }
    switch (id) {
    case OPCHDA_START:
    case OPCHDA_END: {
        const Sample &s = samples[id == OPCHDA_START ? w.first : w.last - 1];
        out->value = s.value;
        out->quality = (s.quality & 0xFFFF) | OPCHDA_CALCULATED | w.partial;
        return S_OK;
    }
    case OPCHDA_WORSTQUALITY: {
        DWORD worst = samples[w.first].quality & 0xFFFF;
        for (size_t i = w.first + 1; i < w.last; ++i) {
            DWORD q = samples[i].quality & 0xFFFF;
            if ((q & kQualityMask) < (worst & kQualityMask) ||
                ((q & kQualityMask) == (worst & kQualityMask) && q < worst))
                worst = q;
        }
        out->value = Value::Int(static_cast<int32_t>(worst));
        out->quality = kGood | OPCHDA_CALCULATED | w.partial;
        return S_OK;
    }
    default:
        break;
    }
    if (w.values.empty()) {
        out->quality = kBad | OPCHDA_CALCULATED | w.partial;
        return S_OK;
    }
    DWORD quality = Calculated(w.allGood) | w.partial;
    auto minIt = std::min_element(w.values.begin(), w.values.end());
    auto maxIt = std::max_element(w.values.begin(), w.values.end());
    switch (id) {
    case OPCHDA_AVERAGE: Set(out, Mean(w.values), quality); break;
    case OPCHDA_MINIMUM: Set(out, *minIt, quality); break;
    case OPCHDA_MAXIMUM: Set(out, *maxIt, quality); break;
    case OPCHDA_MINIMUMACTUALTIME:
    case OPCHDA_MAXIMUMACTUALTIME: {
        auto it = id == OPCHDA_MINIMUMACTUALTIME ? minIt : maxIt;
        Set(out, *it, quality);
        out->movesStart = true;
        out->time = w.times[static_cast<size_t>(it - w.values.begin())];
        break;
    }
    case OPCHDA_RANGE: Set(out, *maxIt - *minIt, quality); break;
    case OPCHDA_DELTA: Set(out, w.values.back() - w.values.front(), quality); break;
    case OPCHDA_VARIANCE: Set(out, Variance(w.values), quality); break;
    case OPCHDA_STDEV: Set(out, std::sqrt(Variance(w.values)), quality); break;
    default: Regression(w, lo, id, out, quality); break;
    }
    return S_OK;
}

} // namespace historian
