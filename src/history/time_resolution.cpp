#include "history/time_resolution.h"

#include "runtime/civil_time.h"

#include <objbase.h>

#include <cwchar>

namespace zq {

bool ResolveTimeAt(OPCHDA_TIME &t, const FILETIME &nowFt, const SYSTEMTIME &nowSt) noexcept
{
    if (!t.bString)
        return TicksFromFileTime(t.ftTime) <= kMaxCalendarTicks;
    const wchar_t *p = t.szTime;
    if (p == nullptr || *p == L'\0')
        return false;
    if (wcscmp(p, L"NOW") == 0) {
        t.ftTime = nowFt;
        return true;
    }
    // Every other text starts from the calendar form of now.
    CivilTime now;
    now.year = nowSt.wYear;
    now.month = nowSt.wMonth;
    now.day = nowSt.wDay;
    now.hour = nowSt.wHour;
    now.minute = nowSt.wMinute;
    now.second = nowSt.wSecond;
    now.fraction = static_cast<uint32_t>(nowSt.wMilliseconds * kTicksPerMillisecond);
    Ticks ticks = 0;
    if (ResolveRelativeText(p, wcslen(p), RelativeSyntax::Lenient, now, ticks) !=
        RelativeResult::Resolved)
        return false;
    t.ftTime = FileTimeFromTicks(ticks);
    return true;
}

bool ResolveTime(OPCHDA_TIME &t) noexcept
{
    FILETIME nowFt;
    if (FAILED(CoFileTimeNow(&nowFt)))
        GetSystemTimeAsFileTime(&nowFt);
    SYSTEMTIME nowSt;
    GetSystemTime(&nowSt);
    return ResolveTimeAt(t, nowFt, nowSt);
}

int ResolveHostTime(const OPCHDA_TIME *time, const FILETIME *now, FILETIME *result)
{
    if (time == nullptr || result == nullptr)
        return 0;
    OPCHDA_TIME copy = *time;
    bool resolved;
    if (now == nullptr) {
        resolved = ResolveTime(copy);
    } else {
        SYSTEMTIME calendar;
        resolved = FileTimeToSystemTime(now, &calendar) && ResolveTimeAt(copy, *now, calendar);
    }
    if (!resolved)
        return 0;
    *result = copy.ftTime;
    return 1;
}

} // namespace zq
