#include "times.h"

#include <cmath>
#include <cwctype>
#include <vector>

namespace zqhda {

namespace {

// Calendar form of a time, UTC.
struct Civil
{
    long long year = 1601;
    int month = 1, day = 1, hour = 0, minute = 0, second = 0;
    Ticks fraction = 0;  // 100-ns units below the second
};

constexpr long long kDaysFrom1970To1601 = -134774;  // days_from_civil(1601, 1, 1)
constexpr long long kFirstYear = 1601;
constexpr long long kLastYear = 30827;  // the last year the system calendar accepts

// Days since 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, int m, int d)
{
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, Civil &c)
{
    z += 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    c.year = yoe + era * 400 + (c.month <= 2);
}

bool IsLeap(long long y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(long long y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

Civil ToCivil(Ticks t)
{
    Civil c;
    CivilFromDays(static_cast<long long>(t / kTicksPerDay) + kDaysFrom1970To1601, c);
    Ticks inDay = t % kTicksPerDay;
    c.fraction = inDay % kTicksPerSecond;
    Ticks seconds = inDay / kTicksPerSecond;
    c.hour = static_cast<int>(seconds / 3600);
    c.minute = static_cast<int>(seconds / 60 % 60);
    c.second = static_cast<int>(seconds % 60);
    return c;
}

bool FromCivil(const Civil &c, Ticks &out)
{
    if (c.year < kFirstYear || c.year > kLastYear || c.month < 1 || c.month > 12 || c.day < 1 ||
        c.day > DaysInMonth(c.year, c.month) || c.hour < 0 || c.hour > 23 || c.minute < 0 || c.minute > 59 ||
        c.second < 0 || c.second > 59 || c.fraction >= kTicksPerSecond)
        return false;
    long long days = DaysFromCivil(c.year, c.month, c.day) - kDaysFrom1970To1601;
    out = static_cast<Ticks>(days) * kTicksPerDay +
          static_cast<Ticks>(c.hour * 3600 + c.minute * 60 + c.second) * kTicksPerSecond + c.fraction;
    return true;
}

// Reads exactly n digits at pos.
bool Digits(const std::wstring &s, size_t &pos, size_t n, int &value)
{
    value = 0;
    for (size_t i = 0; i < n; ++i, ++pos) {
        if (pos >= s.size() || !iswdigit(s[pos]))
            return false;
        value = value * 10 + (s[pos] - L'0');
    }
    return true;
}

bool ParseZone(const std::wstring &s, size_t &pos, long long &offsetMinutes)
{
    offsetMinutes = 0;
    if (pos == s.size())
        return true;
    if (s[pos] == L'Z' || s[pos] == L'z') {
        ++pos;
        return pos == s.size();
    }
    if (s[pos] != L'+' && s[pos] != L'-')
        return false;
    int sign = s[pos++] == L'-' ? -1 : 1;
    int hours = 0, minutes = 0;
    if (!Digits(s, pos, 2, hours) || hours > 23)
        return false;
    if (pos < s.size() && s[pos] == L':')
        ++pos;
    if (pos < s.size() && (!Digits(s, pos, 2, minutes) || minutes > 59))
        return false;
    offsetMinutes = sign * (hours * 60 + minutes);
    return pos == s.size();
}

const wchar_t *const kKeywords[] = {L"NOW", L"SECOND", L"MINUTE", L"HOUR", L"DAY", L"WEEK", L"MONTH", L"YEAR"};

// Index of the keyword at the start of text (a whole word), or -1.
int KeywordAt(const std::wstring &text, size_t &length)
{
    for (int i = 0; i < 8; ++i) {
        std::wstring k = kKeywords[i];
        if (text.compare(0, k.size(), k) == 0 && (text.size() == k.size() || !iswupper(text[k.size()]))) {
            length = k.size();
            return i;
        }
    }
    return -1;
}

struct Offset
{
    bool minus;
    unsigned long long number;
    std::wstring unit;  // S M H D W MO Y
};

// Splits a relative text into its keyword (-1: none) and offsets, following the
// strict syntax; on failure `problem` says what is wrong.
bool SplitRelative(const std::wstring &text, int &keyword, std::vector<Offset> &offsets, std::wstring &problem)
{
    size_t pos = 0;
    keyword = KeywordAt(text, pos);
    auto blanks = [&] {
        while (pos < text.size() && text[pos] == L' ')
            ++pos;
    };
    auto fail = [&](const wchar_t *what) {
        for (wchar_t ch : text)
            if (iswlower(ch)) {
                problem = L"relative times are written in upper case (NOW-1D)";
                return false;
            }
        problem = std::wstring(what) + L" at position " + std::to_wstring(pos + 1);
        return false;
    };
    for (;;) {
        blanks();
        if (pos == text.size())
            return true;
        // A number without its own sign takes the sign before it ("NOW-1D2H").
        bool hasSign = text[pos] == L'+' || text[pos] == L'-';
        if (!hasSign && (offsets.empty() || !iswdigit(text[pos])))
            return fail(keyword < 0 && offsets.empty() ? L"expected a keyword or a sign" : L"expected + or -");
        Offset o{hasSign ? text[pos++] == L'-' : offsets.back().minus, 0, {}};
        blanks();
        if (pos == text.size() || !iswdigit(text[pos]))
            return fail(L"expected a number");
        while (pos < text.size() && iswdigit(text[pos])) {
            o.number = o.number * 10 + (text[pos++] - L'0');
            if (o.number > 0x7FFFFFFFull)
                return fail(L"number too large");
        }
        blanks();
        if (text.compare(pos, 2, L"MO") == 0) {
            o.unit = L"MO";
            pos += 2;
        } else if (pos < text.size() && std::wstring(L"SMHDWY").find(text[pos]) != std::wstring::npos) {
            o.unit = text.substr(pos++, 1);
        } else {
            return fail(L"expected a unit (S M H D W MO Y)");
        }
        offsets.push_back(o);
    }
}

bool StepMonths(Ticks &t, long long months)
{
    Civil c = ToCivil(t);
    long long index = c.year * 12 + (c.month - 1) + months;
    c.year = index / 12;
    c.month = static_cast<int>(index % 12) + 1;
    if (c.year < kFirstYear || c.year > kLastYear)
        return false;
    if (c.day > DaysInMonth(c.year, c.month))
        c.day = DaysInMonth(c.year, c.month);
    return FromCivil(c, t);
}

}  // namespace

Ticks TicksOf(const FILETIME &time)
{
    return (static_cast<Ticks>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME FileTimeOf(Ticks ticks)
{
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(ticks);
    f.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return f;
}

bool ParseIsoTime(const std::wstring &text, FILETIME &out, std::wstring &error)
{
    Civil c;
    size_t pos = 0;
    int year = 0;
    bool ok = Digits(text, pos, 4, year) && pos < text.size() && text[pos++] == L'-' &&
              Digits(text, pos, 2, c.month) && pos < text.size() && text[pos++] == L'-' &&
              Digits(text, pos, 2, c.day);
    c.year = year;
    if (ok && pos < text.size() && (text[pos] == L'T' || text[pos] == L't' || text[pos] == L' ')) {
        ++pos;
        ok = Digits(text, pos, 2, c.hour) && pos < text.size() && text[pos++] == L':' &&
             Digits(text, pos, 2, c.minute);
        if (ok && pos < text.size() && text[pos] == L':') {
            ++pos;
            ok = Digits(text, pos, 2, c.second);
            if (ok && pos < text.size() && (text[pos] == L'.' || text[pos] == L',')) {
                ++pos;
                size_t digits = 0;
                Ticks scale = kTicksPerSecond;
                for (; pos < text.size() && iswdigit(text[pos]); ++pos, ++digits)
                    if (digits < 7) {
                        scale /= 10;
                        c.fraction += (text[pos] - L'0') * scale;
                    }
                ok = digits > 0;
            }
        }
    }
    long long offset = 0;
    ok = ok && ParseZone(text, pos, offset);
    Ticks ticks = 0;
    if (!ok) {
        error = L"not an ISO 8601 time (2026-12-08T10:00:00Z): " + text;
        return false;
    }
    if (!FromCivil(c, ticks)) {
        error = L"no such date or time (years 1601 to 30827): " + text;
        return false;
    }
    long long shift = -offset * 60 * static_cast<long long>(kTicksPerSecond);
    if ((shift < 0 && ticks < static_cast<Ticks>(-shift)) || (shift > 0 && ticks + shift < ticks)) {
        error = L"time out of range: " + text;
        return false;
    }
    out = FileTimeOf(ticks + shift);
    return true;
}

std::wstring FormatIsoTime(const FILETIME &time)
{
    Ticks t = TicksOf(time);
    Civil c = ToCivil(t);
    wchar_t text[64];
    if (c.fraction % 10000 == 0)
        swprintf(text, 64, L"%04lld-%02d-%02dT%02d:%02d:%02d.%03uZ", c.year, c.month, c.day, c.hour, c.minute,
                 c.second, static_cast<unsigned>(c.fraction / 10000));
    else
        swprintf(text, 64, L"%04lld-%02d-%02dT%02d:%02d:%02d.%07uZ", c.year, c.month, c.day, c.hour, c.minute,
                 c.second, static_cast<unsigned>(c.fraction));
    return text;
}

bool CheckRelativeSyntax(const std::wstring &text, std::wstring &problem)
{
    int keyword = -1;
    std::vector<Offset> offsets;
    return SplitRelative(text, keyword, offsets, problem);
}

bool ResolveRelative(const std::wstring &text, const FILETIME &now, FILETIME &out, std::wstring &error)
{
    int keyword = -1;
    std::vector<Offset> offsets;
    std::wstring problem;
    if (text.empty() || !SplitRelative(text, keyword, offsets, problem)) {
        error = L"not a relative time (" + (text.empty() ? std::wstring(L"empty") : problem) + L"): " + text;
        return false;
    }
    Ticks t = TicksOf(now);
    Civil c = ToCivil(t);
    switch (keyword) {
    case 7: c.month = 1; [[fallthrough]];      // YEAR
    case 6: c.day = 1; [[fallthrough]];        // MONTH
    case 5: case 4: c.hour = 0; [[fallthrough]];  // WEEK, DAY
    case 3: c.minute = 0; [[fallthrough]];     // HOUR
    case 2: c.second = 0; [[fallthrough]];     // MINUTE
    case 1: c.fraction = 0; break;             // SECOND
    default: break;                            // NOW or none
    }
    if (!FromCivil(c, t)) {
        error = L"the current time is out of range";
        return false;
    }
    if (keyword == 5) {  // back to Sunday; 1601-01-01 was a Monday
        Ticks weekday = (t / kTicksPerDay + 1) % 7;
        if (t < weekday * kTicksPerDay) {
            error = L"time out of range: " + text;
            return false;
        }
        t -= weekday * kTicksPerDay;
    }
    for (const Offset &o : offsets) {
        long long n = static_cast<long long>(o.number) * (o.minus ? -1 : 1);
        bool ok = true;
        if (o.unit == L"MO" || o.unit == L"Y") {
            ok = StepMonths(t, o.unit == L"Y" ? n * 12 : n);
        } else {
            Ticks unit = o.unit == L"S" ? kTicksPerSecond
                         : o.unit == L"M" ? 60 * kTicksPerSecond
                         : o.unit == L"H" ? 3600 * kTicksPerSecond
                         : o.unit == L"D" ? kTicksPerDay
                                          : 7 * kTicksPerDay;
            Ticks step = o.number * unit;
            ok = o.minus ? step <= t : t + step >= t && t + step < 0x8000000000000000ull;
            t = o.minus ? t - step : t + step;
        }
        if (!ok) {
            error = L"time out of range: " + text;
            return false;
        }
    }
    out = FileTimeOf(t);
    return true;
}

bool ParseTimeArg(const std::wstring &text, TimeArg &out, std::wstring &error)
{
    out = TimeArg{};
    out.text = text;
    if (!text.empty() && iswdigit(text[0]))
        return ParseIsoTime(text, out.time, error);
    out.relative = true;
    std::wstring problem;
    if (!text.empty() && !CheckRelativeSyntax(text, problem))
        out.warning = L"time \"" + text + L"\" is passed to the server as it stands, but looks wrong: " + problem;
    return true;
}

bool AbsoluteTime(const TimeArg &arg, FILETIME &out, std::wstring &error)
{
    if (!arg.relative) {
        out = arg.time;
        return true;
    }
    if (arg.text.empty()) {
        error = L"a time is required here";
        return false;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ResolveRelative(arg.text, now, out, error);
}

bool ParseDuration(const std::wstring &text, Ticks &out, std::wstring &error)
{
    error = L"not a duration (10S, 10M, 1H30M, 500MS): " + text;
    out = 0;
    size_t pos = 0;
    bool any = false;
    while (pos < text.size()) {
        size_t start = pos;
        while (pos < text.size() && (iswdigit(text[pos]) || text[pos] == L'.'))
            ++pos;
        if (pos == start)
            return false;
        double number = 0;
        std::wstring digits = text.substr(start, pos - start);
        try {
            size_t used = 0;
            number = std::stod(digits, &used);
            if (used != digits.size())
                return false;
        } catch (...) {
            return false;
        }
        std::wstring unit;
        while (pos < text.size() && iswalpha(text[pos]))
            unit += static_cast<wchar_t>(towupper(text[pos++]));
        Ticks scale = 0;
        if (unit.empty() && start == 0 && pos == text.size())
            scale = kTicksPerSecond;  // a bare number: seconds
        else if (unit == L"MS")
            scale = kTicksPerSecond / 1000;
        else if (unit == L"S")
            scale = kTicksPerSecond;
        else if (unit == L"M")
            scale = 60 * kTicksPerSecond;
        else if (unit == L"H")
            scale = 3600 * kTicksPerSecond;
        else if (unit == L"D")
            scale = kTicksPerDay;
        else if (unit == L"W")
            scale = 7 * kTicksPerDay;
        else
            return false;
        double ticks = std::round(number * static_cast<double>(scale));
        if (!(ticks >= 0) || ticks + static_cast<double>(out) >= 9.2e18)
            return false;
        out += static_cast<Ticks>(ticks);
        any = true;
    }
    if (any)
        error.clear();
    return any;
}

}  // namespace zqhda
