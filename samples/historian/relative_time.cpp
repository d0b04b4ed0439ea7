#include "relative_time.h"

namespace historian {

namespace {

bool ToCalendar(Ticks t, SYSTEMTIME *st)
{
    FILETIME ft = ToFileTime(t);
    return FileTimeToSystemTime(&ft, st) != FALSE;
}

bool FromCalendar(const SYSTEMTIME &st, Ticks *t)
{
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft))
        return false;
    *t = ToTicks(ft);
    return true;
}

// Moves t by months calendar months (negative: back).
bool AddMonths(Ticks *t, long long months)
{
    SYSTEMTIME st;
    if (!ToCalendar(*t, &st))
        return false;
    long long index = static_cast<long long>(st.wYear) * 12 + (st.wMonth - 1) + months;
    if (index < 1601 * 12 || index > 30827LL * 12 + 11)
        return false;
    st.wYear = static_cast<WORD>(index / 12);
    st.wMonth = static_cast<WORD>(index % 12 + 1);
    int last = DaysInMonth(st.wYear, st.wMonth);
    if (st.wDay > last)
        st.wDay = static_cast<WORD>(last);
    return FromCalendar(st, t);
}

bool Base(const wchar_t *&p, Ticks now, Ticks *t)
{
    struct Keyword
    {
        const wchar_t *text;
        int level; // 0 now, 1 second, 2 minute, 3 hour, 4 day, 5 week, 6 month, 7 year
    };
    static const Keyword keywords[] = {{L"NOW", 0},  {L"SECOND", 1}, {L"MINUTE", 2},
                                       {L"HOUR", 3}, {L"DAY", 4},    {L"WEEK", 5},
                                       {L"MONTH", 6}, {L"YEAR", 7}};
    int level = 0;
    for (const Keyword &k : keywords) {
        size_t n = wcslen(k.text);
        if (wcsncmp(p, k.text, n) == 0) {
            level = k.level;
            p += n;
            break;
        }
    }
    SYSTEMTIME st;
    if (!ToCalendar(now, &st))
        return false;
    if (level >= 1)
        st.wMilliseconds = 0;
    if (level >= 2)
        st.wSecond = 0;
    if (level >= 3)
        st.wMinute = 0;
    if (level >= 4)
        st.wHour = 0;
    if (level == 6 || level == 7)
        st.wDay = 1;
    if (level == 7)
        st.wMonth = 1;
    if (level == 0) {
        *t = now;
        return true;
    }
    if (!FromCalendar(st, t))
        return false;
    if (level == 5) {
        Ticks back = static_cast<Ticks>(st.wDayOfWeek) * kTicksPerDay;
        if (*t < back)
            return false;
        *t -= back;
    }
    return true;
}

void SkipBlanks(const wchar_t *&p)
{
    while (*p == L' ')
        ++p;
}

} // namespace

bool ResolveRelativeTime(const wchar_t *text, Ticks now, Ticks *out)
{
    if (text == nullptr)
        return false;
    const wchar_t *p = text;
    SkipBlanks(p);
    if (*p == 0)
        return false;
    Ticks t;
    if (!Base(p, now, &t))
        return false;
    for (;;) {
        SkipBlanks(p);
        if (*p == 0)
            break;
        if (*p != L'+' && *p != L'-')
            return false;
        bool minus = *p++ == L'-';
        SkipBlanks(p);
        long long n = 0;
        int digits = 0;
        while (*p >= L'0' && *p <= L'9') {
            if (++digits > 9)
                return false;
            n = n * 10 + (*p++ - L'0');
        }
        if (digits == 0)
            return false;
        SkipBlanks(p);
        Ticks step = 0;
        long long months = 0;
        if (p[0] == L'M' && p[1] == L'O') {
            months = n;
            p += 2;
        } else {
            switch (*p) {
            case L'S': step = kTicksPerSecond; break;
            case L'M': step = kTicksPerMinute; break;
            case L'H': step = kTicksPerHour; break;
            case L'D': step = kTicksPerDay; break;
            case L'W': step = 7 * kTicksPerDay; break;
            case L'Y': months = n * 12; break;
            default: return false;
            }
            ++p;
        }
        if (months != 0) {
            if (!AddMonths(&t, minus ? -months : months))
                return false;
            continue;
        }
        // n has at most 9 digits and a step at most a week: no overflow here.
        Ticks delta = static_cast<Ticks>(n) * step;
        if (minus) {
            if (t < delta)
                return false;
            t -= delta;
        } else {
            if (t + delta > 0x7FFFFFFFFFFFFFFFull)
                return false;
            t += delta;
        }
    }
    *out = t;
    return true;
}

bool ResolveHdaTime(const OPCHDA_TIME &time, Ticks now, Ticks *out)
{
    if (!time.bString) {
        Ticks t = ToTicks(time.ftTime);
        if (t > 0x7FFFFFFFFFFFFFFFull)
            return false;
        *out = t;
        return true;
    }
    return ResolveRelativeTime(time.szTime, now, out);
}

} // namespace historian
