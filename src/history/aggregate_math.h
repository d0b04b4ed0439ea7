// The standard aggregates computed from raw history, one interval at a time.
//
// AggregateInterval gathers what one interval [start, end) needs from a
// RawSource: its raw samples, the samples just before it (back to the second
// usable one, for bounds and sloped extrapolation) and just after it (up to
// the first usable one). Compute() turns that into the aggregate's value,
// time stamp and quality. Nothing is kept between intervals, so the memory of
// a processed read is that of its largest interval.
//
// The rules are those of the OPC UA aggregate definitions (interpolated and
// simple bounding values, sloped and stepped interpolation, the
// TreatUncertainAsBad / PercentDataBad / PercentDataGood /
// UseSlopedExtrapolation configuration, the status bits); values come out in
// those definitions' units (durations in milliseconds, percentages 0-100).
// Pure code: no COM, no host, no lock; one calculation per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "history/raw_source.h"

namespace zq {

enum class Aggregate {
    Interpolative, Average, TimeAverage, TimeAverage2, Total, Total2,
    Minimum, Maximum, MinimumActualTime, MaximumActualTime, Range,
    Minimum2, Maximum2, MinimumActualTime2, MaximumActualTime2, Range2,
    Count, AnnotationCount, DurationInStateZero, DurationInStateNonZero, NumberOfTransitions,
    Start, End, Delta, StartBound, EndBound, DeltaBounds,
    DurationGood, DurationBad, PercentGood, PercentBad, WorstQuality, WorstQuality2,
    StandardDeviationSample, StandardDeviationPopulation, VarianceSample, VariancePopulation,
    RegressionSlope, RegressionConstant, RegressionError,
};

struct AggregateConfig
{
    bool treatUncertainAsBad = false;
    int percentDataBad = 100;
    int percentDataGood = 100;
    bool useSlopedExtrapolation = false;
};

// OPC DA qualities of computed results (low word).
constexpr uint32_t kDaGood = 0xC0;
constexpr uint32_t kDaUncertainSubNormal = 0x58;
constexpr uint32_t kDaBad = 0x00;

struct AggregateResult
{
    enum class Kind { None, Number, Integer, QualityWord };
    int64_t t = 0;
    Kind kind = Kind::None;
    double number = 0;
    long integer = 0;
    uint32_t qualityWord = 0; // WorstQuality: the worst quality found
    bool qualityNoBound = false; // WorstQuality: the worst was a missing bound
    uint32_t da = kDaBad;     // OPC DA quality (low word) of the result
    bool noData = false;      // no value: the no-data word replaces da
    bool calculated = false, interpolated = false, partial = false, multiple = false;
};

class AggregateInterval
{
public:
    // fullLength: the interval is as long as the processing interval (the
    // trailing one of a range may be shorter: it is Partial).
    AggregateInterval(RawSource &source, const AggregateConfig &config, bool stepped, int64_t start,
                      int64_t end, bool fullLength);

    AggregateResult Compute(Aggregate aggregate);

private:
    // A bounding value at an interval's edge.
    struct Bound
    {
        bool exists = false; // a usable value (else Bad or no data)
        double v = 0;
        uint32_t da = kDaBad;
        bool raw = false; // a raw sample stamped at the bound's time
        uint32_t rawQuality = 0;
        bool interpolated = false;
        bool extrapolated = false; // beyond the last usable sample
        bool beforeData = false;   // nothing stamped before it
        bool beyondData = false;   // nothing stamped after it
    };
    // One point of the simple-bound timeline: the start bound, each raw
    // sample inside the interval, the end bound.
    struct Node
    {
        int64_t t = 0;
        double v = 0;
        SampleClass cls = SampleClass::Bad; // Bad also for "no data"
        uint32_t da = kDaBad;
        bool bound = false;
        Bound b;
        uint32_t rawQuality = 0;
    };
    SampleClass Eff(size_t i) const;     // with TreatUncertainAsBad
    SampleClass RawCls(size_t i) const;  // as the host gave it
    Bound InterpolatedBound(int64_t t) const;
    Bound SimpleBound(int64_t t) const;
    void BuildSimpleNodes();
    struct Weights;
    Weights Weigh();
    uint32_t FromPercent(double good, double bad, double total) const;
    uint32_t FromCounts(size_t good, size_t bad, size_t n) const;
    bool Partial() const;

    AggregateResult Interpolative();
    AggregateResult TimeWeighted(bool total);
    AggregateResult SimpleWeighted(bool total);
    AggregateResult Extreme(Aggregate aggregate);
    AggregateResult Extreme2(Aggregate aggregate);
    AggregateResult CountLike(Aggregate aggregate);
    AggregateResult StartEnd(bool start);
    AggregateResult Delta();
    AggregateResult Bounds(Aggregate aggregate);
    AggregateResult Durations(Aggregate aggregate);
    AggregateResult Worst(bool withBounds);
    AggregateResult Spread(Aggregate aggregate);
    AggregateResult Regression(Aggregate aggregate);

    RawSource &source_;
    const AggregateConfig config_;
    const bool stepped_;
    const int64_t s_, e_;
    const bool fullLength_;
    std::vector<RawSample> all_; // before, window, after, in time order
    size_t w0_ = 0, w1_ = 0;     // the window: [w0_, w1_)
    std::vector<Node> nodes_;    // simple-bound timeline, built on demand
    bool nodesBuilt_ = false;
};

} // namespace zq
