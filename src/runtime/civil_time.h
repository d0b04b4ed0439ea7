// Time arithmetic shared by the library, the sample historian and the
// command-line client: FILETIME ticks, the proleptic Gregorian calendar in UTC,
// ISO 8601 texts and the relative-time grammar ("NOW-1D", "DAY+6H").
//
// Pure functions on values: no clock, no COM, no library state, no trace; safe
// on any thread.
//
// Ticks are FILETIMEs as plain numbers: unsigned 64-bit counts of 100-ns
// intervals since 1601-01-01 00:00 UTC. The calendar covers the years 1601 to
// 30827, the range the system's own calendar conversion accepts.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace zq {

using Ticks = uint64_t;

constexpr Ticks kTicksPerMillisecond = 10000ull;
constexpr Ticks kTicksPerSecond = 1000 * kTicksPerMillisecond;
constexpr Ticks kTicksPerMinute = 60 * kTicksPerSecond;
constexpr Ticks kTicksPerHour = 60 * kTicksPerMinute;
constexpr Ticks kTicksPerDay = 24 * kTicksPerHour;
constexpr Ticks kTicksPerWeek = 7 * kTicksPerDay;

// The largest FILETIME the calendar conversion accepts (the top bit is clear).
constexpr Ticks kMaxCalendarTicks = 0x7FFFFFFFFFFFFFFFull;

constexpr int64_t kFirstCalendarYear = 1601;
constexpr int64_t kLastCalendarYear = 30827;

inline Ticks TicksFromFileTime(const FILETIME &ft)
{
    return (static_cast<Ticks>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

inline FILETIME FileTimeFromTicks(Ticks ticks)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

// ---- Civil dates -----------------------------------------------------------

bool IsLeapYear(int64_t year);
// Days in a month (1..12).
int DaysInMonth(int64_t year, int month);

// Days from 1601-01-01 to the given date (negative before it); any year.
constexpr int64_t DaysFromCivil(int64_t year, int month, int day)
{
    // Counted in 400-year eras of years starting 1 March, so that the leap
    // day is the last day of its year.
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 584694; // 584694: 0000-03-01 to 1601-01-01
}

// A calendar time in UTC. fraction: 100-ns units below the second.
struct CivilTime
{
    int64_t year = kFirstCalendarYear;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    uint32_t fraction = 0;
};

// The inverse of DaysFromCivil.
void CivilFromDays(int64_t days, CivilTime &date);
// Any tick count, the top bit included (years past 30827 then).
CivilTime CivilFromTicks(Ticks ticks);
// False for a field out of its range (the 31st of April, hour 24, a fraction
// of a second or more) or a year outside 1601 to 30827; out is then unchanged.
bool TicksFromCivil(const CivilTime &time, Ticks &out);
// 0 for Sunday to 6 for Saturday.
int DayOfWeek(Ticks ticks);

// Moves ticks by count steps of the given size. False, with ticks unchanged,
// when the result would fall before 1601-01-01 or past kMaxCalendarTicks.
bool AddTicks(Ticks &ticks, uint64_t count, Ticks step, bool minus);
// Moves ticks by whole calendar months, carried into the year as far as
// needed. The time of day stays; a day of month the new month lacks becomes
// its last day (31 March minus one month is the end of February). False,
// with ticks unchanged, when the year leaves the calendar.
bool AddMonths(Ticks &ticks, int64_t months);

// ---- ISO 8601 --------------------------------------------------------------

enum class IsoForm {
    // "YYYY-MM-DDThh:mm:ss" ('T' or a blank between date and time), then
    // optionally '.' and one to seven fraction digits, then optionally 'Z'
    // or 'z'. The form of the historian's data files.
    Exact,
    // What a person types: the date alone, or with "hh:mm" or "hh:mm:ss";
    // 'T', 't' or a blank; a fraction after '.' or ',' of any length (digits
    // past the seventh are cut); then nothing (UTC), 'Z', 'z', or an offset
    // "+hh", "+hhmm" or "+hh:mm" (or '-'), which is taken off to give UTC.
    Flexible,
};

enum class IsoResult {
    Parsed,
    BadForm,    // not the form asked for
    NoSuchTime, // well formed, but no such date or time in the calendar
    OutOfRange, // the offset takes the time before 1601-01-01
};

// Digits are ASCII digits only.
IsoResult ParseIso8601(const std::wstring &text, IsoForm form, Ticks &out);
IsoResult ParseIso8601(const std::string &text, IsoForm form, Ticks &out);

// "2026-12-08T10:00:00.000Z"; seven fraction digits when the time has a part
// below the millisecond, so that every FILETIME prints exactly and reads back
// (IsoForm::Flexible) as the same ticks.
std::wstring FormatIso8601(Ticks ticks);

// ---- Relative times ----------------------------------------------------------
//
// "[KEYWORD] {(+|-) N UNIT}". Keywords NOW SECOND MINUTE HOUR DAY WEEK MONTH
// YEAR (upper case only): the current time with the fields below the named one
// cleared; WEEK is the start of the most recent Sunday. Units S M H D W MO Y;
// N is decimal, at most 2147483647. A number without a sign of its own takes
// the last sign given; blanks may stand between the parts. Month and year
// steps work as AddMonths, the others as AddTicks.

enum class RelativeSyntax {
    // As the library reads a client's text: a keyword matches on its own
    // length (no word boundary); while a number waits for its unit any
    // character but a blank, sign, digit or unit is skipped; a number or sign
    // left at the end is ignored; a number of zero counts as no number; a
    // sign between a number that took the last sign and its unit becomes
    // that number's sign.
    Lenient,
    // The written form only: the keyword is a whole word, and every sign is
    // followed by a number and a unit. Failures come with a description.
    Strict,
};

enum class RelativeResult {
    Resolved,
    BadText,    // the text does not follow the syntax asked for
    BadNow,     // the current time, its fields cleared, is no calendar time
    OutOfRange, // a step leaves the calendar
};

// What is wrong with a text (RelativeSyntax::Strict): a description such as
// "expected a number", and the zero-based position it refers to.
struct RelativeProblem
{
    const wchar_t *what = L"";
    size_t position = 0;
};

// Checks text against the syntax without resolving it.
bool CheckRelativeText(const wchar_t *text, size_t length, RelativeSyntax syntax,
                       RelativeProblem *problem = nullptr);

// Resolves text against now (its fields are used as they stand, the fraction
// included). The syntax is checked first, over the whole text. An empty text
// is now itself; callers that refuse it do so before.
RelativeResult ResolveRelativeText(const wchar_t *text, size_t length, RelativeSyntax syntax,
                                   const CivilTime &now, Ticks &out,
                                   RelativeProblem *problem = nullptr);

} // namespace zq
