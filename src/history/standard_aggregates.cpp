#include "history/standard_aggregates.h"

#include <oleauto.h>

#include <atomic>
#include <new>

#include "addrspace/catalogue.h"
#include "history/annotation_engine.h"
#include "history/host_raw_source.h"
#include "history/read_limits.h"
#include "opchda_constants.h"
#include "runtime/civil_time.h"
#include "runtime/server_state.h"
#include "runtime/task_memory.h"

namespace zq {

namespace {

constexpr double kMsToSeconds = 0.001;

// OPC HDA IDs keep OPC HDA's names and units; the others are listed under
// their OPC UA names as server-specific aggregates.
const StandardAggregate kAggregates[] = {
    {OPCHDA_INTERPOLATIVE, "Interpolative", "Interpolated value at the interval's start (OPC UA Interpolative)", Aggregate::Interpolative, 1},
    {OPCHDA_TOTAL, "Total", "Time integral of the interpolated values, value x seconds (OPC UA Total)", Aggregate::Total, 1},
    {OPCHDA_AVERAGE, "Average", "Average of the good raw values (OPC UA Average)", Aggregate::Average, 1},
    {OPCHDA_TIMEAVERAGE, "Time Average", "Time-weighted average of the interpolated values (OPC UA TimeAverage)", Aggregate::TimeAverage, 1},
    {OPCHDA_COUNT, "Count", "Number of good raw values (OPC UA Count)", Aggregate::Count, 1},
    {OPCHDA_STDEV, "Standard Deviation", "Sample standard deviation of the good raw values, n - 1 (OPC UA StandardDeviationSample)", Aggregate::StandardDeviationSample, 1},
    {OPCHDA_MINIMUMACTUALTIME, "Minimum Actual Time", "Smallest good raw value, stamped with its time (OPC UA MinimumActualTime)", Aggregate::MinimumActualTime, 1},
    {OPCHDA_MINIMUM, "Minimum", "Smallest good raw value (OPC UA Minimum)", Aggregate::Minimum, 1},
    {OPCHDA_MAXIMUMACTUALTIME, "Maximum Actual Time", "Largest good raw value, stamped with its time (OPC UA MaximumActualTime)", Aggregate::MaximumActualTime, 1},
    {OPCHDA_MAXIMUM, "Maximum", "Largest good raw value (OPC UA Maximum)", Aggregate::Maximum, 1},
    {OPCHDA_START, "Start", "First raw value of the interval (OPC UA Start)", Aggregate::Start, 1},
    {OPCHDA_END, "End", "Last raw value of the interval (OPC UA End)", Aggregate::End, 1},
    {OPCHDA_DELTA, "Delta", "Last good raw value minus the first (OPC UA Delta)", Aggregate::Delta, 1},
    {OPCHDA_REGSLOPE, "Regression Line Slope", "Least-squares slope of the good raw values, per second", Aggregate::RegressionSlope, 1},
    {OPCHDA_REGCONST, "Regression Line Constant", "Least-squares line's value at the interval's start", Aggregate::RegressionConstant, 1},
    {OPCHDA_REGDEV, "Regression Line Error", "Standard error of the least-squares line, sqrt(SSE / (n - 2))", Aggregate::RegressionError, 1},
    {OPCHDA_VARIANCE, "Variance", "Sample variance of the good raw values, n - 1 (OPC UA VarianceSample)", Aggregate::VarianceSample, 1},
    {OPCHDA_RANGE, "Range", "Largest minus smallest good raw value (OPC UA Range)", Aggregate::Range, 1},
    {OPCHDA_DURATIONGOOD, "Duration Good", "Seconds of the interval with good data (OPC UA DurationGood, in seconds)", Aggregate::DurationGood, kMsToSeconds},
    {OPCHDA_DURATIONBAD, "Duration Bad", "Seconds of the interval with bad or no data (OPC UA DurationBad, in seconds)", Aggregate::DurationBad, kMsToSeconds},
    {OPCHDA_PERCENTGOOD, "Percent Good", "Percentage (0-100) of the interval with good data (OPC UA PercentGood)", Aggregate::PercentGood, 1},
    {OPCHDA_PERCENTBAD, "Percent Bad", "Percentage (0-100) of the interval with bad or no data (OPC UA PercentBad)", Aggregate::PercentBad, 1},
    {OPCHDA_WORSTQUALITY, "Worst Quality", "Worst quality word of the interval's raw values (OPC UA WorstQuality)", Aggregate::WorstQuality, 1},
    {OPCHDA_ANNOTATIONS, "Annotations", "Number of annotations of the interval's values (OPC UA AnnotationCount)", Aggregate::AnnotationCount, 1},
    {0x80000001, "TimeAverage2", "Time-weighted average with simple bounds, bad data left out (OPC UA)", Aggregate::TimeAverage2, 1},
    {0x80000002, "Total2", "Time integral with simple bounds, bad data left out, value x seconds (OPC UA)", Aggregate::Total2, 1},
    {0x80000003, "Minimum2", "Smallest value, bounds included (OPC UA)", Aggregate::Minimum2, 1},
    {0x80000004, "Maximum2", "Largest value, bounds included (OPC UA)", Aggregate::Maximum2, 1},
    {0x80000005, "MinimumActualTime2", "Smallest value, bounds included, stamped with its time (OPC UA)", Aggregate::MinimumActualTime2, 1},
    {0x80000006, "MaximumActualTime2", "Largest value, bounds included, stamped with its time (OPC UA)", Aggregate::MaximumActualTime2, 1},
    {0x80000007, "Range2", "Maximum2 minus Minimum2 (OPC UA)", Aggregate::Range2, 1},
    {0x80000008, "WorstQuality2", "Worst quality of the raw values and the bounds (OPC UA)", Aggregate::WorstQuality2, 1},
    {0x80000009, "NumberOfTransitions", "Number of changes of value (OPC UA)", Aggregate::NumberOfTransitions, 1},
    {0x8000000A, "DurationInStateZero", "Milliseconds of good data with the value 0 (OPC UA)", Aggregate::DurationInStateZero, 1},
    {0x8000000B, "DurationInStateNonZero", "Milliseconds of good data with a value other than 0 (OPC UA)", Aggregate::DurationInStateNonZero, 1},
    {0x8000000C, "StartBound", "Simple bounding value at the interval's start (OPC UA)", Aggregate::StartBound, 1},
    {0x8000000D, "EndBound", "Simple bounding value at the interval's end (OPC UA)", Aggregate::EndBound, 1},
    {0x8000000E, "DeltaBounds", "EndBound minus StartBound (OPC UA)", Aggregate::DeltaBounds, 1},
    {0x8000000F, "StandardDeviationPopulation", "Population standard deviation of the good raw values, n (OPC UA)", Aggregate::StandardDeviationPopulation, 1},
    {0x80000010, "VariancePopulation", "Population variance of the good raw values, n (OPC UA)", Aggregate::VariancePopulation, 1},
};


bool Offered(const StandardAggregate &a)
{
    return a.kind != Aggregate::AnnotationCount || AnnotationsReadable();
}

// The Stepped attribute, read once per request: a true value of a defined
// OPCHDA_STEPPED attribute.
bool Stepped(CZqHDACallback *host, void *item)
{
    AttributeInfo info;
    if (!FindAttribute(OPCHDA_STEPPED, &info))
        return false;
    FILETIME stamp{};
    VARIANT value;
    VariantInit(&value);
    bool stepped = false;
    if (host->ReadCurrentAttribute(item, OPCHDA_STEPPED, &stamp, &value) == S_OK) {
        VARIANT b;
        VariantInit(&b);
        stepped = SUCCEEDED(VariantChangeType(&b, &value, 0, VT_BOOL)) && b.boolVal != VARIANT_FALSE;
        VariantClear(&b);
    }
    VariantClear(&value);
    return stepped;
}

DWORD QualityOf(const AggregateResult &r, const QualityWords &words)
{
    DWORD q = r.noData ? words.noValue : r.da;
    if (r.calculated)
        q |= OPCHDA_CALCULATED;
    if (r.interpolated)
        q |= OPCHDA_INTERPOLATED;
    if (r.partial)
        q |= OPCHDA_PARTIAL;
    if (r.multiple)
        q |= OPCHDA_EXTRADATA;
    return q;
}

void ValueOf(const AggregateResult &r, double scale, const QualityWords &words, VARIANT &out)
{
    VariantInit(&out);
    switch (r.kind) {
    case AggregateResult::Kind::Number:
        out.vt = VT_R8;
        out.dblVal = r.number * scale;
        break;
    case AggregateResult::Kind::Integer:
        out.vt = VT_I4;
        out.lVal = r.integer;
        break;
    case AggregateResult::Kind::QualityWord:
        out.vt = VT_I4;
        out.lVal = static_cast<LONG>(r.qualityNoBound ? words.noBound : r.qualityWord);
        break;
    case AggregateResult::Kind::None:
        break;
    }
}

} // namespace

bool StandardAggregatesOn() { return State().settings.standardAggregates.load() != 0; }

const StandardAggregate *FindStandardAggregate(DWORD id)
{
    for (const StandardAggregate &a : kAggregates)
        if (a.id == id)
            return Offered(a) ? &a : nullptr;
    return nullptr;
}

std::vector<const StandardAggregate *> OfferedStandardAggregates()
{
    std::vector<const StandardAggregate *> list;
    for (const StandardAggregate &a : kAggregates)
        if (Offered(a) && !HasAggregate(a.id))
            list.push_back(&a);
    return list;
}

AggregateConfig CurrentAggregateConfig()
{
    const uint32_t word = State().settings.aggregateConfig.load();
    AggregateConfig c;
    c.treatUncertainAsBad = (word & 1) != 0;
    c.useSlopedExtrapolation = (word & 2) != 0;
    c.percentDataBad = static_cast<int>((word >> 8) & 0xFF);
    c.percentDataGood = static_cast<int>((word >> 16) & 0xFF);
    return c;
}

HRESULT RunStandardProcessed(CZqHDACallback *host, void *item, OPCHDA_ITEM &result,
                             const StandardAggregate &aggregate, const FILETIME &start,
                             const FILETIME &end, uint64_t interval, const QualityWords &words,
                             const AggregateConfig &config)
{
    if (host == nullptr)
        return OPC_S_NODATA;
    // Intervals from the start, each as long as the resample interval, the
    // last one cut at the end; interval 0 is the whole range as one.
    const int64_t s = static_cast<int64_t>(TicksFromFileTime(start));
    const int64_t e = static_cast<int64_t>(TicksFromFileTime(end));
    const bool backwards = s > e;
    const int64_t lo = backwards ? e : s, hi = backwards ? s : e;
    const uint64_t span = static_cast<uint64_t>(hi - lo);
    uint64_t n = 1;
    if (interval != 0)
        n = span == 0 ? 1 : (span + interval - 1) / interval;
    if (Exceeds(n, CurrentReadLimits().intervals))
        return OPC_E_MAXEXCEEDED;
    if (n > 0x7FFFFFFF / sizeof(VARIANT))
        return E_OUTOFMEMORY;
    const size_t count = static_cast<size_t>(n);
    TaskPtr<FILETIME> times(ZeroedTaskArray<FILETIME>(count));
    TaskPtr<DWORD> qualities(ZeroedTaskArray<DWORD>(count));
    TaskPtr<VARIANT> values(ZeroedTaskArray<VARIANT>(count));
    if (!times || !qualities || !values)
        return E_OUTOFMEMORY;

    const bool stepped = Stepped(host, item);
    HostRawSource source(host, item);
    try {
        for (size_t i = 0; i < count; ++i) {
            // Backwards, the intervals run from the start down to the end.
            int64_t a, b;
            if (interval == 0) {
                a = lo;
                b = hi;
            } else if (!backwards) {
                a = lo + static_cast<int64_t>(i * interval);
                b = a + static_cast<int64_t>(interval) < hi ? a + static_cast<int64_t>(interval) : hi;
            } else {
                b = hi - static_cast<int64_t>(i * interval);
                a = b - static_cast<int64_t>(interval) > lo ? b - static_cast<int64_t>(interval) : lo;
            }
            const bool full = interval == 0 || static_cast<uint64_t>(b - a) == interval;
            AggregateInterval calc(source, config, stepped, a, b, full);
            const AggregateResult r = calc.Compute(aggregate.kind);
            // Backwards, an interval is stamped with its start, the later
            // end, as the host-computed walk stamps it.
            const int64_t stamp = backwards && r.t == a ? b : r.t;
            times[i] = FileTimeFromTicks(static_cast<uint64_t>(stamp));
            qualities[i] = QualityOf(r, words);
            ValueOf(r, aggregate.scale, words, values[i]);
        }
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    result.dwCount = static_cast<DWORD>(count);
    result.pftTimeStamps = times.release();
    result.pdwQualities = qualities.release();
    result.pvDataValues = values.release();
    return S_OK;
}

bool SetAggregateConfiguration(int treatUncertainAsBad, int percentDataBad, int percentDataGood,
                               int useSlopedExtrapolation)
{
    if (percentDataBad < 0 || percentDataBad > 100 || percentDataGood < 0 ||
        percentDataGood > 100)
        return false;
    State().settings.aggregateConfig = PackAggregateConfig(
        treatUncertainAsBad != 0, percentDataBad, percentDataGood, useSlopedExtrapolation != 0);
    return true;
}

} // namespace zq
