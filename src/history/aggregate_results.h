// What the aggregate calculations share: time units, quality ranks and the
// shapes of a result. Internal to the aggregate calculator
// (aggregate_compute.cpp, aggregate_timeline.cpp).
#pragma once

#include <cstdint>

#include "history/aggregate_math.h"

namespace zq {
namespace aggregate_detail {

constexpr int64_t kTicksPerMs = 10000;
constexpr double kTicksPerSecond = 1e7;

// 0 good, 1 uncertain, 2 bad, by the OPC DA quality.
inline int Rank(uint32_t quality)
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

inline uint32_t Worse(uint32_t a, uint32_t b) { return Rank(a) >= Rank(b) ? a : b; }

inline AggregateResult Number(int64_t t, double v, uint32_t da)
{
    AggregateResult r;
    r.t = t;
    r.kind = AggregateResult::Kind::Number;
    r.number = v;
    r.da = da;
    return r;
}

// A result that is Bad by the configuration's percentages: no value.
inline AggregateResult BadResult(int64_t t)
{
    AggregateResult r;
    r.t = t;
    r.da = kDaBad;
    return r;
}

} // namespace aggregate_detail
} // namespace zq
