#include "history/time_resolution.h"

#include "history/filetime.h"

#include <objbase.h>

#include <cstdint>
#include <cwchar>

namespace {

using zq::kMaxCalendarTicks;

// Years the platform's calendar conversion accepts.
constexpr int64_t kFirstYear = 1601;
constexpr int64_t kLastYear = 30827;

// Base keywords in the order they are tested; clears says how many of the
// calendar fields, from milliseconds upwards, are reset (seconds, minutes,
// hours, then day and month to 1).
enum class Clear { None, Millis, Seconds, Minutes, Hours, Day, Month };

struct Keyword
{
    const wchar_t *text;
    size_t length;
    Clear clears;
    bool week;
};

const Keyword kKeywords[] = {
    {L"NOW", 3, Clear::None, false},
    {L"SECOND", 6, Clear::Millis, false},
    {L"MINUTE", 6, Clear::Seconds, false},
    {L"HOUR", 4, Clear::Minutes, false},
    {L"DAY", 3, Clear::Hours, false},
    {L"WEEK", 4, Clear::Hours, true},
    {L"MONTH", 5, Clear::Day, false},
    {L"YEAR", 4, Clear::Month, false},
};

void ClearFields(SYSTEMTIME &st, Clear clears)
{
    if (clears >= Clear::Millis)
        st.wMilliseconds = 0;
    if (clears >= Clear::Seconds)
        st.wSecond = 0;
    if (clears >= Clear::Minutes)
        st.wMinute = 0;
    if (clears >= Clear::Hours)
        st.wHour = 0;
    if (clears >= Clear::Day)
        st.wDay = 1;
    if (clears >= Clear::Month)
        st.wMonth = 1;
}

bool ToTicks(const SYSTEMTIME &st, uint64_t &ticks)
{
    if (st.wYear < kFirstYear || st.wYear > kLastYear)
        return false;
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft))
        return false;
    ticks = zq::TicksFromFileTime(ft);
    return ticks <= kMaxCalendarTicks;
}

bool ToCalendar(uint64_t ticks, SYSTEMTIME &st)
{
    if (ticks > kMaxCalendarTicks)
        return false;
    FILETIME ft = zq::FileTimeFromTicks(ticks);
    return FileTimeToSystemTime(&ft, &st) != FALSE;
}

bool IsLeapYear(int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

WORD DaysInMonth(int64_t year, WORD month)
{
    static const WORD kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Moves ticks by count steps; false if the result would fall before
// 1601-01-01 or past the largest time the calendar accepts.
bool MoveBy(uint64_t &ticks, uint64_t count, uint64_t step, bool minus)
{
    if (count != 0 && step > kMaxCalendarTicks / count)
        return false;
    const uint64_t delta = count * step;
    if (minus) {
        if (delta > ticks)
            return false;
        ticks -= delta;
    } else {
        if (delta > kMaxCalendarTicks - ticks)
            return false;
        ticks += delta;
    }
    return true;
}

// Moves ticks by a number of calendar months (years are 12 of them), carried
// into the year as far as needed. Time of day stays; a day of month the new
// month lacks becomes its last day.
bool MoveByMonths(uint64_t &ticks, int64_t months)
{
    SYSTEMTIME st;
    if (!ToCalendar(ticks, st))
        return false;
    const int64_t index = static_cast<int64_t>(st.wYear) * 12 + (st.wMonth - 1) + months;
    const int64_t year = index >= 0 ? index / 12 : -1;
    if (year < kFirstYear || year > kLastYear)
        return false;
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(index % 12 + 1);
    const WORD last = DaysInMonth(year, st.wMonth);
    if (st.wDay > last)
        st.wDay = last;
    return ToTicks(st, ticks);
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// Reads the run of decimal digits at p as a signed 32-bit number and moves p
// behind it; false if the value does not fit.
bool ReadNumber(const wchar_t *&p, uint32_t &value)
{
    uint64_t v = 0;
    for (; IsDigit(*p); ++p) {
        v = v * 10 + static_cast<uint64_t>(*p - L'0');
        if (v > 0x7FFFFFFFu)
            return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

enum class Sign { None, Minus, Plus };

// Applies the offsets behind the base keyword to ticks.
bool ApplyOffsets(const wchar_t *p, uint64_t &ticks)
{
    Sign sign = Sign::None;   // never cleared once set
    bool signSinceUnit = false;
    uint32_t pending = 0;     // 0: no number waits for its unit
    while (*p != L'\0') {
        const wchar_t c = *p;
        if (c == L' ') {
            ++p;
            continue;
        }
        if (c == L'-' || c == L'+') {
            if (signSinceUnit)
                return false;
            sign = c == L'-' ? Sign::Minus : Sign::Plus;
            signSinceUnit = true;
            ++p;
            continue;
        }
        if (IsDigit(c)) {
            if (sign == Sign::None || pending != 0)
                return false;
            if (!ReadNumber(p, pending))
                return false;
            continue;
        }
        if (pending == 0)
            return false;
        const bool minus = sign == Sign::Minus;
        const int64_t signedCount = minus ? -static_cast<int64_t>(pending) : pending;
        bool ok = true;
        bool unit = true;
        switch (c) {
        case L'S':
            ok = MoveBy(ticks, pending, zq::kTicksPerSecond, minus);
            break;
        case L'M':
            if (p[1] == L'O') {
                ok = MoveByMonths(ticks, signedCount);
                ++p;
            } else {
                ok = MoveBy(ticks, pending, zq::kTicksPerMinute, minus);
            }
            break;
        case L'H':
            ok = MoveBy(ticks, pending, zq::kTicksPerHour, minus);
            break;
        case L'D':
            ok = MoveBy(ticks, pending, zq::kTicksPerDay, minus);
            break;
        case L'W':
            ok = MoveBy(ticks, pending, zq::kTicksPerWeek, minus);
            break;
        case L'Y':
            ok = MoveByMonths(ticks, signedCount * 12);
            break;
        default:
            // Anything else while a number waits is skipped; the number keeps
            // waiting for its unit.
            unit = false;
            break;
        }
        if (!ok)
            return false;
        ++p;
        if (unit) {
            pending = 0;
            signSinceUnit = false;
        }
    }
    // A number or sign still waiting for its unit is ignored.
    return true;
}

} // namespace

namespace zq {

bool ResolveTimeAt(OPCHDA_TIME &t, const FILETIME &nowFt, const SYSTEMTIME &nowSt) noexcept
{
    if (!t.bString) {
        SYSTEMTIME st;
        return FileTimeToSystemTime(&t.ftTime, &st) != FALSE;
    }
    const wchar_t *p = t.szTime;
    if (p == nullptr || *p == L'\0')
        return false;
    if (wcscmp(p, L"NOW") == 0) {
        t.ftTime = nowFt;
        return true;
    }

    SYSTEMTIME base = nowSt;
    bool week = false;
    for (const Keyword &k : kKeywords) {
        if (wcsncmp(p, k.text, k.length) == 0) {
            ClearFields(base, k.clears);
            week = k.week;
            p += k.length;
            break;
        }
    }
    uint64_t ticks = 0;
    if (!ToTicks(base, ticks))
        return false;
    if (week) {
        // Back to the most recent Sunday. The day of week is taken from the
        // converted date, not from the caller's calendar record.
        SYSTEMTIME today;
        if (!ToCalendar(ticks, today) || !MoveBy(ticks, today.wDayOfWeek, kTicksPerDay, true))
            return false;
    }
    if (!ApplyOffsets(p, ticks))
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

} // namespace zq

using namespace zq;

extern "C" int __stdcall HDAResolveTime(const OPCHDA_TIME *time, const FILETIME *now,
                                        FILETIME *result)
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
