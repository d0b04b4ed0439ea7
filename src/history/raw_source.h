// The raw history an aggregate is computed from, as the aggregate calculator
// sees it: samples in time order, each with a number (or none) and the host's
// quality word. The calculator asks only for the samples of one interval and
// for a few neighbours outside it, so a processed read never holds more than
// one interval's raw values.
//
// Times are 100-ns ticks (FILETIME counts). Pure code: no COM, no host.
#pragma once

#include <cstdint>
#include <vector>

namespace zq {

// A raw sample's quality, as the aggregates weigh it.
enum class SampleClass { Good, Uncertain, Bad };

struct RawSample
{
    int64_t t = 0;
    double v = 0;          // meaningful only when numeric
    bool numeric = false;  // the value converts to a number
    uint32_t quality = 0;  // the host's quality word
};

// Good, Uncertain or Bad from the OPC DA quality in the low byte; a sample
// without a number counts as Bad.
SampleClass ClassOf(const RawSample &s);

class RawSource
{
public:
    virtual ~RawSource() = default;
    // The last sample stamped before t.
    virtual bool Before(int64_t t, RawSample &out) = 0;
    // The first sample stamped after t.
    virtual bool After(int64_t t, RawSample &out) = 0;
    // Every sample stamped from start (included) to end (excluded), in time
    // order, appended to out.
    virtual void Window(int64_t start, int64_t end, std::vector<RawSample> &out) = 0;
    // Annotations of the samples stamped from start (included) to end
    // (excluded); -1 when the history has no annotations.
    virtual long Annotations(int64_t start, int64_t end) = 0;
};

} // namespace zq
