// Relative and absolute OPCHDA_TIMEs resolved against fixed current times;
// expected instants are built independently through the platform calendar.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

#include "history/filetime.h"
#include "ZqHDAsvr.h"
#include "history/time_resolution.h"
#include "utc_ticks.h"

namespace {

using zq::kTicksPerDay;
using zqtest::UtcTicks;
using zq::kTicksPerHour;

// What the helpers return for a failed resolution; no resolved time has the
// top bit set.
constexpr uint64_t kFailed = ~0ull;
// What ftTime holds before a resolution; it must still hold it after a failure.
constexpr uint64_t kUntouched = 0x0123456789ABCDEFull;

// A current time, as the clock gives it: a FILETIME (100 ns resolution) and
// the same instant in calendar form (millisecond resolution, day of week set).
struct Clock
{
    FILETIME ft;
    SYSTEMTIME st;
};

Clock At(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0)
{
    Clock c{};
    c.ft = zq::FileTimeFromTicks(UtcTicks(y, mo, d, h, mi, s, ms) + 1234); // sub-millisecond part
    EXPECT_TRUE(FileTimeToSystemTime(&c.ft, &c.st));
    return c;
}

uint64_t ResolveText(const wchar_t *text, const Clock &now)
{
    OPCHDA_TIME t{};
    t.bString = TRUE;
    t.szTime = const_cast<wchar_t *>(text);
    t.ftTime = zq::FileTimeFromTicks(kUntouched);
    if (!zq::ResolveTimeAt(t, now.ft, now.st)) {
        EXPECT_EQ(zq::TicksFromFileTime(t.ftTime), kUntouched) << "written on failure";
        return kFailed;
    }
    return zq::TicksFromFileTime(t.ftTime);
}

// Sunday 15 March 2026, 10:20:30.456 UTC.
const Clock kMarch = At(2026, 3, 15, 10, 20, 30, 456);

} // namespace

TEST(ResolveTime, ExactNowIsTheClockFileTimeAndNowOffsetsStartFromTheCalendarTime)
{
    EXPECT_EQ(ResolveText(L"NOW", kMarch), zq::TicksFromFileTime(kMarch.ft));
    const uint64_t now = UtcTicks(2026, 3, 15, 10, 20, 30, 456);
    EXPECT_EQ(ResolveText(L"NOW-1H", kMarch), now - kTicksPerHour);
    EXPECT_EQ(ResolveText(L"NOW+1H", kMarch), now + kTicksPerHour);
    EXPECT_EQ(ResolveText(L"NOW-", kMarch), now);
    EXPECT_EQ(ResolveText(L"NOW-5", kMarch), now);
    EXPECT_EQ(ResolveText(L"NOW-1h", kMarch), now); // skipped letter, number dropped at the end
    // No keyword: the current time, parsing from the first character.
    EXPECT_EQ(ResolveText(L"+2S", kMarch), now + 2 * zq::kTicksPerSecond);
    EXPECT_EQ(ResolveText(L"-1M", kMarch), UtcTicks(2026, 3, 15, 10, 19, 30, 456));
}

TEST(ResolveTime, BaseKeywordsClearTheirCalendarFields)
{
    EXPECT_EQ(ResolveText(L"SECOND", kMarch), UtcTicks(2026, 3, 15, 10, 20, 30));
    EXPECT_EQ(ResolveText(L"MINUTE", kMarch), UtcTicks(2026, 3, 15, 10, 20));
    EXPECT_EQ(ResolveText(L"HOUR", kMarch), UtcTicks(2026, 3, 15, 10));
    EXPECT_EQ(ResolveText(L"DAY", kMarch), UtcTicks(2026, 3, 15));
    EXPECT_EQ(ResolveText(L"DAY-1D+6H", kMarch), UtcTicks(2026, 3, 14, 6));
    EXPECT_EQ(ResolveText(L"MONTH", kMarch), UtcTicks(2026, 3, 1));
    EXPECT_EQ(ResolveText(L"YEAR", kMarch), UtcTicks(2026, 1, 1));
    EXPECT_EQ(ResolveText(L"YEAR-1Y", kMarch), UtcTicks(2025, 1, 1));
    // Keywords match on their own length only, case-sensitively.
    EXPECT_EQ(ResolveText(L"NOWADAYS", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"DAYS", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"now", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"Day", kMarch), kFailed);
}

TEST(ResolveTime, WeekIsTheMostRecentSundayEvenInThePreviousMonth)
{
    // A Sunday, a Saturday, and a Tuesday that is the 2nd of its month.
    EXPECT_EQ(ResolveText(L"WEEK", kMarch), UtcTicks(2026, 3, 15));
    EXPECT_EQ(ResolveText(L"WEEK", At(2026, 3, 14, 23, 59)), UtcTicks(2026, 3, 8));
    EXPECT_EQ(ResolveText(L"WEEK", At(2026, 6, 2, 8)), UtcTicks(2026, 5, 31));
    EXPECT_EQ(ResolveText(L"WEEK+1D", At(2026, 6, 2, 8)), UtcTicks(2026, 6, 1));
    // The day of week comes from the date itself, not from the record.
    Clock wrong = At(2026, 6, 2, 8);
    wrong.st.wDayOfWeek = 5;
    EXPECT_EQ(ResolveText(L"WEEK", wrong), UtcTicks(2026, 5, 31));
    // The Sunday before the calendar's first day (a Monday) does not exist.
    EXPECT_EQ(ResolveText(L"WEEK", At(1601, 1, 1, 12)), kFailed);
}

TEST(ResolveTime, SignsNumbersAndUnits)
{
    const uint64_t now = UtcTicks(2026, 3, 15, 10, 20, 30, 456);
    EXPECT_EQ(ResolveText(L"NOW-1D2H", kMarch), now - kTicksPerDay - 2 * kTicksPerHour);
    EXPECT_EQ(ResolveText(L"NOW-1D-2D", kMarch), now - 3 * kTicksPerDay);
    EXPECT_EQ(ResolveText(L"NOW-1D+2W", kMarch), now + 13 * kTicksPerDay);
    EXPECT_EQ(ResolveText(L"NOW - 1 D", kMarch), now - kTicksPerDay);
    EXPECT_EQ(ResolveText(L"NOW-1XD", kMarch), now - kTicksPerDay);
    EXPECT_EQ(ResolveText(L"NOW-1\tD", kMarch), now - kTicksPerDay);
    EXPECT_EQ(ResolveText(L"NOW-1\u00C4D", kMarch), now - kTicksPerDay); // non-ASCII is skipped too
    EXPECT_EQ(ResolveText(L"NOW-0000000001D", kMarch), now - kTicksPerDay);
    EXPECT_EQ(ResolveText(L"NOW+90M", kMarch), now + 90 * zq::kTicksPerMinute);
    EXPECT_EQ(ResolveText(L"NOW+1D+", kMarch), now + kTicksPerDay);

    const wchar_t *const failing[] = {
        L"",        L"NOW-0D",  L"NOW-D",   L"NOW--1D", L"NOW-+1D", L"NOW-1 2D",
        L"NOW1D",   L"5D",      L"NOW-1DD", L"NOW-1MX", L"NOW\u00C4",
        L"NOW-\uFF11D", // a full-width digit is not a digit
    };
    for (const wchar_t *text : failing)
        EXPECT_EQ(ResolveText(text, kMarch), kFailed) << text;
    EXPECT_EQ(ResolveText(nullptr, kMarch), kFailed);
}

TEST(ResolveTime, MonthStepsCarryAcrossYears)
{
    EXPECT_EQ(ResolveText(L"NOW-1MO", kMarch), UtcTicks(2026, 2, 15, 10, 20, 30, 456));
    EXPECT_EQ(ResolveText(L"NOW-3MO", kMarch), UtcTicks(2025, 12, 15, 10, 20, 30, 456));
    EXPECT_EQ(ResolveText(L"NOW+6MO", At(2026, 6, 2, 8)), UtcTicks(2026, 12, 2, 8));
    EXPECT_EQ(ResolveText(L"NOW-3MO", At(2026, 2, 10, 1)), UtcTicks(2025, 11, 10, 1));
    EXPECT_EQ(ResolveText(L"NOW+1MO", At(2026, 12, 20)), UtcTicks(2027, 1, 20));
    EXPECT_EQ(ResolveText(L"NOW+30MO", kMarch), UtcTicks(2028, 9, 15, 10, 20, 30, 456));
    EXPECT_EQ(ResolveText(L"NOW-30MO", kMarch), UtcTicks(2023, 9, 15, 10, 20, 30, 456));
    EXPECT_EQ(ResolveText(L"MONTH-1MO+1D", kMarch), UtcTicks(2026, 2, 2));
}

TEST(ResolveTime, DayOfMonthTheNewMonthLacksBecomesItsLastDay)
{
    EXPECT_EQ(ResolveText(L"NOW-1MO", At(2026, 3, 31, 7)), UtcTicks(2026, 2, 28, 7));
    EXPECT_EQ(ResolveText(L"NOW-1MO", At(2024, 3, 31, 7)), UtcTicks(2024, 2, 29, 7));
    EXPECT_EQ(ResolveText(L"NOW+3MO", At(2026, 1, 31)), UtcTicks(2026, 4, 30));
    EXPECT_EQ(ResolveText(L"NOW+1Y", At(2024, 2, 29, 5)), UtcTicks(2025, 2, 28, 5));
    EXPECT_EQ(ResolveText(L"NOW-4Y", At(2024, 2, 29, 5)), UtcTicks(2020, 2, 29, 5));
    EXPECT_EQ(ResolveText(L"NOW+100Y", At(2000, 2, 29)), UtcTicks(2100, 2, 28));
}

TEST(ResolveTime, YearStepsStayInsideTheCalendar)
{
    EXPECT_EQ(ResolveText(L"YEAR-2026Y", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"YEAR-5000Y", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"YEAR-426Y", kMarch), kFailed); // 1600
    EXPECT_EQ(ResolveText(L"YEAR-425Y", kMarch), 0u);      // 1601-01-01, the first instant
    EXPECT_EQ(ResolveText(L"YEAR-425Y-1S", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"YEAR+28801Y", kMarch), UtcTicks(30827, 1, 1));
    EXPECT_EQ(ResolveText(L"YEAR+28802Y", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"NOW+2147483647Y", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"NOW-2147483647MO", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"NOW+2147483647MO", kMarch), kFailed);
}

TEST(ResolveTime, LargeNumbersAndOffsetsFailInsteadOfWrapping)
{
    const uint64_t now = UtcTicks(2026, 3, 15, 10, 20, 30, 456);
    EXPECT_EQ(ResolveText(L"NOW-2147483647S", kMarch), now - 2147483647ull * zq::kTicksPerSecond);
    EXPECT_EQ(ResolveText(L"NOW-2147483648S", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"NOW-99999999999999999999D", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"NOW+2147483647W", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"NOW-2147483647D", kMarch), kFailed);
    // Each step alone fits; together they pass the largest time.
    EXPECT_EQ(ResolveText(L"NOW+10000000D", kMarch), now + 10000000ull * kTicksPerDay);
    EXPECT_EQ(ResolveText(L"NOW+10000000D+10000000D", kMarch), kFailed);
}

TEST(ResolveTime, BaseTheCalendarRefusesFails)
{
    Clock bad = kMarch;
    bad.st.wMonth = 13;
    EXPECT_EQ(ResolveText(L"DAY", bad), kFailed);
    EXPECT_EQ(ResolveText(L"NOW-1H", bad), kFailed);
    EXPECT_EQ(ResolveText(L"NOW", bad), zq::TicksFromFileTime(bad.ft)); // the FILETIME alone
    bad = kMarch;
    bad.st.wYear = 1600;
    EXPECT_EQ(ResolveText(L"HOUR", bad), kFailed);
}

TEST(ResolveTime, AbsoluteTimesAreOnlyTested)
{
    OPCHDA_TIME t{};
    t.bString = FALSE;
    t.szTime = const_cast<wchar_t *>(L"garbage");
    t.ftTime = zq::FileTimeFromTicks(0);
    EXPECT_TRUE(zq::ResolveTimeAt(t, kMarch.ft, kMarch.st));
    EXPECT_EQ(zq::TicksFromFileTime(t.ftTime), 0u);
    t.ftTime = zq::FileTimeFromTicks(zq::kMaxCalendarTicks);
    EXPECT_TRUE(zq::ResolveTimeAt(t, kMarch.ft, kMarch.st));
    EXPECT_EQ(zq::TicksFromFileTime(t.ftTime), zq::kMaxCalendarTicks);
    t.ftTime = zq::FileTimeFromTicks(0x8000000000000000ull);
    EXPECT_FALSE(zq::ResolveTimeAt(t, kMarch.ft, kMarch.st));
    EXPECT_EQ(zq::TicksFromFileTime(t.ftTime), 0x8000000000000000ull);
}

TEST(ResolveTime, ClockTimeIsWrittenBackToTheClientRecord)
{
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    OPCHDA_TIME now{};
    now.bString = TRUE;
    now.szTime = const_cast<wchar_t *>(L"NOW");
    ASSERT_TRUE(zq::ResolveTime(now));
    OPCHDA_TIME day{};
    day.bString = TRUE;
    day.szTime = const_cast<wchar_t *>(L"DAY");
    ASSERT_TRUE(zq::ResolveTime(day));
    OPCHDA_TIME hourAgo{};
    hourAgo.bString = TRUE;
    hourAgo.szTime = const_cast<wchar_t *>(L"NOW-1H");
    ASSERT_TRUE(zq::ResolveTime(hourAgo));
    FILETIME after;
    GetSystemTimeAsFileTime(&after);

    // The clocks may differ by their resolution (milliseconds for the
    // calendar form): allow one second on either side.
    const uint64_t lo = zq::TicksFromFileTime(before) - zq::kTicksPerSecond;
    const uint64_t hi = zq::TicksFromFileTime(after) + zq::kTicksPerSecond;
    const uint64_t n = zq::TicksFromFileTime(now.ftTime);
    EXPECT_GE(n, lo);
    EXPECT_LE(n, hi);
    const uint64_t h = zq::TicksFromFileTime(hourAgo.ftTime) + kTicksPerHour;
    EXPECT_GE(h, lo);
    EXPECT_LE(h, hi);
    const uint64_t d = zq::TicksFromFileTime(day.ftTime);
    EXPECT_EQ(d % kTicksPerDay, 0u);
    EXPECT_LE(d, hi);
    EXPECT_GT(d + kTicksPerDay, lo);
}

// The export hosts use for the OPCHDA_TIMEs they receive themselves: the same
// resolver, against the host's "now" or the clock, never writing the record.
TEST(ResolveTime, TheExportResolvesForHosts)
{
    const FILETIME untouched = zq::FileTimeFromTicks(kUntouched);
    OPCHDA_TIME t{};
    t.bString = TRUE;
    t.szTime = const_cast<wchar_t *>(L"DAY-1D+6H");
    t.ftTime = untouched;
    FILETIME out{};
    ASSERT_EQ(HDAResolveTime(&t, &kMarch.ft, &out), 1);
    EXPECT_EQ(zq::TicksFromFileTime(out), UtcTicks(2026, 3, 14, 6));
    EXPECT_EQ(zq::TicksFromFileTime(t.ftTime), kUntouched) << "the record is only read";

    // More than 64 bits of 100 ns: refused, and nothing written.
    t.szTime = const_cast<wchar_t *>(L"NOW-616111492W");
    out = untouched;
    EXPECT_EQ(HDAResolveTime(&t, &kMarch.ft, &out), 0);
    EXPECT_EQ(HDAResolveTime(&t, nullptr, &out), 0);
    EXPECT_EQ(zq::TicksFromFileTime(out), kUntouched);

    // A "now" the calendar refuses, and missing pointers.
    const FILETIME badNow = zq::FileTimeFromTicks(0x8000000000000000ull);
    t.szTime = const_cast<wchar_t *>(L"NOW-1H");
    EXPECT_EQ(HDAResolveTime(&t, &badNow, &out), 0);
    EXPECT_EQ(HDAResolveTime(nullptr, &kMarch.ft, &out), 0);
    EXPECT_EQ(HDAResolveTime(&t, &kMarch.ft, nullptr), 0);

    // Absolute times are checked and passed on; the clock serves a null now.
    OPCHDA_TIME absolute{};
    absolute.ftTime = zq::FileTimeFromTicks(12345);
    ASSERT_EQ(HDAResolveTime(&absolute, nullptr, &out), 1);
    EXPECT_EQ(zq::TicksFromFileTime(out), 12345u);
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    ASSERT_EQ(HDAResolveTime(&t, nullptr, &out), 1);
    const uint64_t hourAgo = zq::TicksFromFileTime(before) - kTicksPerHour;
    EXPECT_GE(zq::TicksFromFileTime(out) + zq::kTicksPerSecond, hourAgo);
    EXPECT_LE(zq::TicksFromFileTime(out), hourAgo + 60 * zq::kTicksPerSecond);
}
