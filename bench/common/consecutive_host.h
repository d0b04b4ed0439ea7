// A historian for the benchmarks whose callbacks do nothing but fill what
// they are asked for: every item has `count` values, one 100-ns tick apart
// from the start time asked for; the value is the low part of its time.
#pragma once

#include "ZqHDAsvr.h"

namespace zqbench {

constexpr unsigned long kBenchQuality = 0xC0;

class ConsecutiveHost : public CZqHDACallback
{
public:
    explicit ConsecutiveHost(int values) : count(values) {}

    int count;

    int GetTimeStamps(void *, FILETIME *start, FILETIME *, int maxCount, FILETIME *times,
                      ULONG_PTR *) override
    {
        if (maxCount == 0 || times == nullptr)
            return count;
        int n = maxCount < count ? maxCount : count;
        ULONGLONG t = start != nullptr ? (ULONGLONG(start->dwHighDateTime) << 32) | start->dwLowDateTime : 0;
        for (int i = 0; i < n; ++i, ++t) {
            times[i].dwLowDateTime = static_cast<DWORD>(t);
            times[i].dwHighDateTime = static_cast<DWORD>(t >> 32);
        }
        return n;
    }
    long GetNextTimeStamp(void *, FILETIME, FILETIME *, ULONG_PTR) override { return 1; }
    long GetPreviousTimeStamp(void *, FILETIME, FILETIME *, ULONG_PTR) override { return 1; }
    long ReadAt(void *, FILETIME time, VARIANT *value, unsigned long *quality,
                ULONG_PTR) override
    {
        value->vt = VT_R8;
        value->dblVal = static_cast<double>(time.dwLowDateTime);
        *quality = kBenchQuality;
        return 0;
    }
};

} // namespace zqbench
