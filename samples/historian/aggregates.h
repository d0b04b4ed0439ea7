// Processed values: the aggregates the historian computes for ReadProcessed.
//
// An interval runs from the earlier to the later of its two bounds, the
// earlier one included and the later one excluded: [lo, hi). "The samples"
// below are the stored samples with lo <= time < hi. A sample is usable when
// its value is a number (or boolean) and its DA quality is not bad. Nothing
// is extrapolated: the history is known from the first stored sample to the
// last one, and each sample's value holds (stepped items, values that are no
// numbers) or runs in a straight line (other items) to the next sample.
//
// Quality of a result: the DA part is good (0xC0) when every input was good,
// else uncertain sub-normal (0x58); the HDA flags are OPCHDA_CALCULATED, plus
// OPCHDA_PARTIAL when the history does not cover the whole interval (lo
// before the first sample or hi after the last one). An interval without
// samples gives an empty value with bad | OPCHDA_NODATA; one whose samples
// are all unusable gives an empty value with bad | OPCHDA_CALCULATED. The
// exceptions are stated with each aggregate.
//
// Value-based (over the usable samples; VT_R8):
//   Average             arithmetic mean
//   Minimum, Maximum    smallest / largest value
//   Minimum/Maximum Actual Time
//                       the same value; its time stamp is the time of the
//                       first sample holding it (the interval start moves)
//   Range               Maximum - Minimum
//   Delta               last usable value - first usable value
//   Variance            population variance: mean of squared deviations
//   Standard Deviation  square root of Variance
//   Regression Line Slope, Constant, Error
//                       least-squares line through (seconds since lo, value):
//                       slope per second, value of the line at lo, and the
//                       root mean square of the residuals; one sample gives
//                       slope 0, its value and error 0
// Sample-based (over all samples, whatever their value or quality):
//   Count               number of samples (VT_I4); an empty interval gives 0
//                       with good quality (plus OPCHDA_PARTIAL if uncovered)
//   Start, End          the earliest / latest sample's value, with that
//                       sample's own DA quality
//   Worst Quality       the lowest DA quality among the samples (bad <
//                       uncertain < good, then the lower word), as VT_I4;
//                       the result's own quality is good
// Time-weighted (over the known history inside [lo, hi), including the part
// between lo and the first sample, which the sample before lo determines):
//   Time Average        the integral of the value over the time it is known
//                       and usable, divided by that time. Inputs are every
//                       sample whose segment is used, and for a straight-line
//                       segment its end sample too. If no usable time lies in
//                       the interval but it holds usable samples (the very
//                       last sample of the history), their average, partial.
//   Total               the same integral, in value x seconds (Time Average x
//                       the usable seconds)
//   Duration Good, Duration Bad
//                       seconds of the interval during which the sample in
//                       effect had good / bad DA quality (VT_R8; uncertain
//                       counts in neither); 0 when nothing is known
//   Percent Good, Percent Bad
//                       those durations as a percentage of the known time;
//                       no data when nothing is known
// Point:
//   Interpolative       the value at the interval start as given (not lo):
//                       what ReadAtTime answers there (series.h, ValueAt)
#pragma once

#include <vector>

#include "series.h"

namespace historian {

struct AggregateInfo
{
    DWORD id;
    const char *name;
    const char *description;
};

// The aggregates the historian computes, with their published IDs and names.
const std::vector<AggregateInfo> &SupportedAggregates();
bool IsSupportedAggregate(DWORD id);

struct AggregateResult
{
    Value value;
    DWORD quality = 0;
    bool movesStart = false; // actual-time aggregates: report time instead
    Ticks time = 0;
};

// S_OK, or OPC_E_INVALIDAGGREGATE for an aggregate it does not compute.
HRESULT ComputeAggregate(const Samples &samples, bool stepped, DWORD aggregateId, Ticks start,
                         Ticks end, AggregateResult *out);

} // namespace historian
