// Relative and absolute OPCHDA_TIMEs resolved against fixed current times;
// expected instants are built independently through the platform calendar.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

#include "ZqHDAsvr.h"
#include "history/time_resolution.h"
#include "runtime/civil_time.h"
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

// The grammar and its calendar steps are tested with the time module
// (tests/runtime/civil_time_test.cpp); these tests cover what the resolver
// adds: the clock's two forms, the caller's calendar record, the lenient
// syntax, and the OPCHDA_TIME record.
TEST(ResolveTime, ExactNowIsTheClockFileTimeAndOtherTextsStartFromTheCalendarTime)
{
    EXPECT_EQ(ResolveText(L"NOW", kMarch), zq::TicksFromFileTime(kMarch.ft));
    const uint64_t now = UtcTicks(2026, 3, 15, 10, 20, 30, 456);
    EXPECT_EQ(ResolveText(L"NOW-1H", kMarch), now - kTicksPerHour);
    EXPECT_EQ(ResolveText(L"NOW ", kMarch), now);
    EXPECT_EQ(ResolveText(L"DAY-1D+6H", kMarch), UtcTicks(2026, 3, 14, 6));
    EXPECT_EQ(ResolveText(L"MONTH-1MO+1D", kMarch), UtcTicks(2026, 2, 2));
    // Read leniently: skipped characters, a number left at the end, and a
    // zero that is no number.
    EXPECT_EQ(ResolveText(L"NOW-1XD", kMarch), now - kTicksPerDay);
    EXPECT_EQ(ResolveText(L"NOW-1h", kMarch), now);
    EXPECT_EQ(ResolveText(L"NOW-0D", kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"", kMarch), kFailed);
    EXPECT_EQ(ResolveText(nullptr, kMarch), kFailed);
    EXPECT_EQ(ResolveText(L"YEAR-426Y", kMarch), kFailed);
}

TEST(ResolveTime, WeekTakesTheDayOfWeekFromTheDateNotFromTheRecord)
{
    Clock wrong = At(2026, 6, 2, 8);
    wrong.st.wDayOfWeek = 5;
    EXPECT_EQ(ResolveText(L"WEEK", wrong), UtcTicks(2026, 5, 31));
    EXPECT_EQ(ResolveText(L"WEEK", At(1601, 1, 1, 12)), kFailed);
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
    bad = kMarch;
    bad.st.wDay = 31;
    bad.st.wMonth = 4;
    EXPECT_EQ(ResolveText(L"DAY", bad), kFailed);
    EXPECT_EQ(ResolveText(L"MONTH", bad), UtcTicks(2026, 4, 1)); // the bad field cleared
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
