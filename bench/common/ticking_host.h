// A historian for the delivery benchmarks: every item has one value per
// `spacing` (100-ns units) on the grid of that spacing, at any time; the
// value is the low part of its time. Unlike the filling host it honours the
// end of a window, so a 10 ms window holds 10 values at 1 ms spacing.
#pragma once

#include "ZqHDAsvr.h"

namespace zqbench {

class TickingHost : public CZqHDACallback
{
public:
    explicit TickingHost(ULONGLONG valueSpacing) : spacing(valueSpacing) {}

    ULONGLONG spacing;

    int GetTimeStamps(void *, FILETIME *start, FILETIME *end, int maxCount, FILETIME *times,
                      ULONG_PTR *) override
    {
        if (start == nullptr || end == nullptr)
            return 0;
        ULONGLONG first = (Ticks(*start) + spacing - 1) / spacing * spacing;
        ULONGLONG last = Ticks(*end);
        int n = first > last ? 0 : static_cast<int>((last - first) / spacing) + 1;
        if (maxCount == 0 || times == nullptr)
            return n;
        if (n > maxCount)
            n = maxCount;
        for (int i = 0; i < n; ++i) {
            ULONGLONG t = first + i * spacing;
            times[i].dwLowDateTime = static_cast<DWORD>(t);
            times[i].dwHighDateTime = static_cast<DWORD>(t >> 32);
        }
        return n;
    }
    long GetNextTimeStamp(void *, FILETIME, FILETIME *, ULONG_PTR) override { return 1; }
    long ReadAt(void *, FILETIME time, VARIANT *value, unsigned long *quality, ULONG_PTR) override
    {
        value->vt = VT_R8;
        value->dblVal = static_cast<double>(time.dwLowDateTime);
        *quality = 0xC0;
        return 0;
    }

private:
    static ULONGLONG Ticks(const FILETIME &t)
    {
        return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    }
};

} // namespace zqbench
