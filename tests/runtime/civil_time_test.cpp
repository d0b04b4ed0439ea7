// The time module: calendar arithmetic checked against the platform's own
// calendar conversion, ISO 8601 in both forms, and the relative-time grammar
// in both syntaxes with its calendar steps. Expected instants are built
// independently through the platform calendar (zqtest::UtcTicks).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "runtime/civil_time.h"
#include "utc_ticks.h"

namespace {

using zq::CivilTime;
using zq::IsoForm;
using zq::IsoResult;
using zq::kTicksPerDay;
using zq::kTicksPerHour;
using zq::RelativeResult;
using zq::RelativeSyntax;
using zq::Ticks;
using zqtest::UtcTicks;

// What the helpers return for a failed parse or resolution; no valid time has
// the top bit set.
constexpr Ticks kFailed = ~0ull;

CivilTime Civil(int64_t y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    CivilTime c;
    c.year = y;
    c.month = mo;
    c.day = d;
    c.hour = h;
    c.minute = mi;
    c.second = s;
    c.fraction = static_cast<uint32_t>(ms * zq::kTicksPerMillisecond);
    return c;
}

Ticks Resolve(const std::wstring &text, const CivilTime &now,
              RelativeSyntax syntax = RelativeSyntax::Lenient)
{
    Ticks out = kFailed - 1;
    const RelativeResult r = zq::ResolveRelativeText(text.c_str(), text.size(), syntax, now, out);
    if (r != RelativeResult::Resolved) {
        EXPECT_EQ(out, kFailed - 1) << "written on failure";
        return kFailed;
    }
    return out;
}

Ticks Strict(const std::wstring &text, const CivilTime &now)
{
    return Resolve(text, now, RelativeSyntax::Strict);
}

template <typename Text>
Ticks Iso(const Text &text, IsoForm form = IsoForm::Flexible)
{
    Ticks out = kFailed;
    return zq::ParseIso8601(text, form, out) == IsoResult::Parsed ? out : kFailed;
}

// Sunday 15 March 2026, 10:20:30.456 UTC.
const CivilTime kMarch = Civil(2026, 3, 15, 10, 20, 30, 456);
const Ticks kMarchTicks = UtcTicks(2026, 3, 15, 10, 20, 30, 456);

} // namespace

// ---- Civil dates ---------------------------------------------------------------

TEST(CivilTime, AgreesWithThePlatformCalendarOverTheWholeRange)
{
    const Ticks last = UtcTicks(30827, 12, 31, 23, 59, 59, 999) + 9999;
    Ticks t = 0x01D9A5B489ABCDEFull;
    for (int i = 0; i < 3000; ++i, t = t * 6364136223846793005ull + 1442695040888963407ull) {
        const Ticks sample = i == 0 ? 0 : i == 1 ? last : t % (last + 1);
        const FILETIME ft = zq::FileTimeFromTicks(sample);
        SYSTEMTIME st{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &st)) << sample;
        const CivilTime c = zq::CivilFromTicks(sample);
        ASSERT_EQ(c.year, st.wYear) << sample;
        ASSERT_EQ(c.month, st.wMonth) << sample;
        ASSERT_EQ(c.day, st.wDay) << sample;
        ASSERT_EQ(c.hour, st.wHour) << sample;
        ASSERT_EQ(c.minute, st.wMinute) << sample;
        ASSERT_EQ(c.second, st.wSecond) << sample;
        ASSERT_EQ(c.fraction / zq::kTicksPerMillisecond, st.wMilliseconds) << sample;
        ASSERT_EQ(zq::DayOfWeek(sample), st.wDayOfWeek) << sample;
        Ticks back = 0;
        ASSERT_TRUE(zq::TicksFromCivil(c, back)) << sample;
        ASSERT_EQ(back, sample);
    }
}

TEST(CivilTime, MonthLengthsAndLeapYearsFollowThePlatformCalendar)
{
    // The last day of each month is the day before the first of the next.
    for (int year : {1601, 1700, 1899, 1900, 2000, 2023, 2024, 2100, 2400, 30827}) {
        for (int month = 1; month <= 12; ++month) {
            const Ticks next = month == 12 ? (year == 30827 ? kFailed : UtcTicks(year + 1, 1, 1))
                                           : UtcTicks(year, month + 1, 1);
            if (next == kFailed)
                continue;
            const FILETIME ft = zq::FileTimeFromTicks(next - kTicksPerDay);
            SYSTEMTIME st{};
            ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
            EXPECT_EQ(zq::DaysInMonth(year, month), st.wDay) << year << "-" << month;
        }
    }
    EXPECT_EQ(zq::DaysFromCivil(1601, 1, 1), 0);
    EXPECT_EQ(zq::DaysFromCivil(1600, 12, 31), -1);
    EXPECT_EQ(static_cast<Ticks>(zq::DaysFromCivil(1899, 12, 30)) * kTicksPerDay,
              UtcTicks(1899, 12, 30));
}

TEST(CivilTime, FieldsOutsideTheCalendarAreRefused)
{
    Ticks t = 77;
    ASSERT_TRUE(zq::TicksFromCivil(Civil(1601, 1, 1), t));
    EXPECT_EQ(t, 0u);
    CivilTime lastInstant = Civil(30827, 12, 31, 23, 59, 59);
    lastInstant.fraction = 9999999;
    ASSERT_TRUE(zq::TicksFromCivil(lastInstant, t));
    EXPECT_LT(t, zq::kMaxCalendarTicks);
    ASSERT_TRUE(zq::TicksFromCivil(Civil(2024, 2, 29), t));

    CivilTime tooFine = Civil(2026, 1, 1);
    tooFine.fraction = 10000000;
    const CivilTime refused[] = {
        Civil(1600, 12, 31), Civil(30828, 1, 1), Civil(2026, 0, 1),        Civil(2026, 13, 1),
        Civil(2026, 1, 0),   Civil(2026, 2, 29), Civil(1900, 2, 29),       Civil(2026, 4, 31),
        Civil(2026, 1, 32),  Civil(2026, 1, 1, 24), Civil(2026, 1, 1, 0, 60), Civil(2026, 1, 1, 0, 0, 60),
        Civil(2026, 1, 1, -1), tooFine,
    };
    for (const CivilTime &c : refused) {
        t = 77;
        EXPECT_FALSE(zq::TicksFromCivil(c, t)) << c.year << "-" << c.month << "-" << c.day << " " << c.hour
                                              << ":" << c.minute << ":" << c.second;
        EXPECT_EQ(t, 77u);
    }
}

// ---- ISO 8601 ------------------------------------------------------------------

TEST(Iso8601, FlexibleFormsZonesAndFractions)
{
    EXPECT_EQ(Iso(std::wstring(L"1601-01-01T00:00:00Z")), 0u);
    EXPECT_EQ(Iso(std::wstring(L"2024-02-29T23:59:59.999Z")), UtcTicks(2024, 2, 29, 23, 59, 59, 999));
    EXPECT_EQ(Iso(std::wstring(L"2000-02-29T12:00:00Z")), UtcTicks(2000, 2, 29, 12));
    EXPECT_EQ(Iso(std::wstring(L"1900-03-01T00:00:00Z")), UtcTicks(1900, 3, 1));
    EXPECT_EQ(Iso(std::wstring(L"9999-12-31T23:59:59.9999999Z")), UtcTicks(9999, 12, 31, 23, 59, 59, 999) + 9999);
    // Every first of month over four years, leap year included.
    for (WORD year = 2023; year <= 2026; ++year)
        for (WORD month = 1; month <= 12; ++month) {
            wchar_t text[32];
            swprintf(text, 32, L"%04u-%02u-01T06:07:08Z", year, month);
            EXPECT_EQ(Iso(std::wstring(text)), UtcTicks(year, month, 1, 6, 7, 8)) << year << "-" << month;
        }

    const Ticks ten = UtcTicks(2026, 12, 8, 10);
    const std::pair<const wchar_t *, Ticks> forms[] = {
        {L"2026-12-08T10:00:00", ten}, // no zone: UTC
        {L"2026-12-08 10:00:00Z", ten},
        {L"2026-12-08t10:00:00z", ten},
        {L"2026-12-08T10:00Z", ten},
        {L"2026-12-08", UtcTicks(2026, 12, 8)},
        {L"2026-12-08T11:00:00+01:00", ten},
        {L"2026-12-08T04:30:00-0530", ten},
        {L"2026-12-08T12:00:00+02", ten},
        {L"2026-12-08T11:00:00+01:", ten},
        {L"2026-12-08T10:00:00.5Z", ten + 5000000},
        {L"2026-12-08T10:00:00,25Z", ten + 2500000},
        {L"2026-12-08T10:00:00.1234567Z", ten + 1234567},
        {L"2026-12-08T10:00:00.123456789Z", ten + 1234567}, // beyond 100 ns: cut
    };
    for (const auto &f : forms)
        EXPECT_EQ(Iso(std::wstring(f.first)), f.second) << f.first;
}

TEST(Iso8601, FlexibleNonsenseIsRefusedWithItsKind)
{
    const std::pair<const wchar_t *, IsoResult> refused[] = {
        {L"", IsoResult::BadForm},
        {L"2026", IsoResult::BadForm},
        {L"2026-12", IsoResult::BadForm},
        {L"2026-1-08T10:00:00Z", IsoResult::BadForm},
        {L"2026-12-08T10:00:00.Z", IsoResult::BadForm},
        {L"2026-12-08T10Z", IsoResult::BadForm},
        {L"2026-12-08T10:00:00ZZ", IsoResult::BadForm},
        {L"2026-12-08T10:00:00+25:00", IsoResult::BadForm},
        {L"2026-12-08T10:00:00+01:60", IsoResult::BadForm},
        {L"2026-12-08T10:00:00 Z", IsoResult::BadForm},
        {L"30827-12-31T23:59:59Z", IsoResult::BadForm},
        {L"2026-12-08X10:00:00Z", IsoResult::BadForm},
        {L"\uFF12026-12-08T10:00:00Z", IsoResult::BadForm}, // a full-width digit is not a digit
        {L"2026-12-08T10:00:0\uFF10Z", IsoResult::BadForm},
        {L"2026-13-01T00:00:00Z", IsoResult::NoSuchTime},
        {L"2026-00-10T00:00:00Z", IsoResult::NoSuchTime},
        {L"2026-02-29T00:00:00Z", IsoResult::NoSuchTime},
        {L"2024-02-30T00:00:00Z", IsoResult::NoSuchTime},
        {L"2026-04-31T00:00:00Z", IsoResult::NoSuchTime},
        {L"2026-12-08T24:00:00Z", IsoResult::NoSuchTime},
        {L"2026-12-08T10:60:00Z", IsoResult::NoSuchTime},
        {L"2026-12-08T10:00:60Z", IsoResult::NoSuchTime},
        {L"1600-12-31T23:59:59Z", IsoResult::NoSuchTime},
        {L"1601-01-01T00:00:00+01:00", IsoResult::OutOfRange},
    };
    for (const auto &r : refused) {
        Ticks out = 77;
        EXPECT_EQ(zq::ParseIso8601(std::wstring(r.first), IsoForm::Flexible, out), r.second) << r.first;
        EXPECT_EQ(out, 77u) << r.first;
    }
}

TEST(Iso8601, ExactFormOfDataFiles)
{
    const Ticks base = UtcTicks(2024, 3, 1);
    EXPECT_EQ(Iso(std::string("2024-03-01T00:00:00Z"), IsoForm::Exact), base);
    EXPECT_EQ(Iso(std::string("2024-03-01T00:00:00z"), IsoForm::Exact), base);
    EXPECT_EQ(Iso(std::string("2024-03-01 00:00:10"), IsoForm::Exact), base + 10 * zq::kTicksPerSecond);
    EXPECT_EQ(Iso(std::string("2024-03-01T00:01:00.5"), IsoForm::Exact), base + 605000000);
    EXPECT_EQ(Iso(std::string("2024-03-01T00:00:00.0000001"), IsoForm::Exact), base + 1);
    EXPECT_EQ(Iso(std::string("2024-02-29T23:59:59"), IsoForm::Exact), base - zq::kTicksPerSecond);
    EXPECT_EQ(Iso(std::wstring(L"2024-03-01T00:00:00Z"), IsoForm::Exact), base);
    // What the flexible form adds is refused here, and so is a surrounding blank.
    for (const char *bad : {"", "2024-03-01", "2024-03-01T00:00", "2024-3-01T00:00:00", "2024-03-01X00:00:00",
                            "2024-03-01t00:00:00", "2023-02-29T00:00:00", "2024-03-01T24:00:00",
                            "2024-13-01T00:00:00", "2024-03-01T00:00:00.", "2024-03-01T00:00:00,5",
                            "2024-03-01T00:00:00.12345678", "2024-03-01T00:00:00+01", "2024-03-01T00:00:00ZZ",
                            " 2024-03-01T00:00:00", "2024-03-01T00:00:00 ", "133537248000000000",
                            "2024-03-01T00:00:00.\xEF\xBC\x91"})
        EXPECT_EQ(Iso(std::string(bad), IsoForm::Exact), kFailed) << bad;
}

TEST(Iso8601, PrintedExactlyAndReadBack)
{
    EXPECT_EQ(zq::FormatIso8601(UtcTicks(2026, 12, 8, 10, 5, 7, 42)), L"2026-12-08T10:05:07.042Z");
    EXPECT_EQ(zq::FormatIso8601(0), L"1601-01-01T00:00:00.000Z");
    EXPECT_EQ(zq::FormatIso8601(UtcTicks(2024, 2, 29) + 1), L"2024-02-29T00:00:00.0000001Z");
    // Any time prints as text that reads back as the same ticks.
    Ticks t = 0x01D9A5B489ABCDEFull;
    for (int i = 0; i < 200; ++i, t = t * 6364136223846793005ull + 1442695040888963407ull) {
        const Ticks sample = t % UtcTicks(9999, 12, 31);
        EXPECT_EQ(Iso(zq::FormatIso8601(sample)), sample);
    }
}

// ---- Relative times: the lenient syntax the library reads --------------------

TEST(RelativeTime, BaseKeywordsClearTheirCalendarFields)
{
    EXPECT_EQ(Resolve(L"NOW", kMarch), kMarchTicks);
    EXPECT_EQ(Resolve(L"SECOND", kMarch), UtcTicks(2026, 3, 15, 10, 20, 30));
    EXPECT_EQ(Resolve(L"MINUTE", kMarch), UtcTicks(2026, 3, 15, 10, 20));
    EXPECT_EQ(Resolve(L"HOUR", kMarch), UtcTicks(2026, 3, 15, 10));
    EXPECT_EQ(Resolve(L"DAY", kMarch), UtcTicks(2026, 3, 15));
    EXPECT_EQ(Resolve(L"DAY-1D+6H", kMarch), UtcTicks(2026, 3, 14, 6));
    EXPECT_EQ(Resolve(L"MONTH", kMarch), UtcTicks(2026, 3, 1));
    EXPECT_EQ(Resolve(L"YEAR", kMarch), UtcTicks(2026, 1, 1));
    EXPECT_EQ(Resolve(L"YEAR-1Y", kMarch), UtcTicks(2025, 1, 1));
    // Keywords match on their own length only, case-sensitively.
    EXPECT_EQ(Resolve(L"NOWADAYS", kMarch), kFailed);
    EXPECT_EQ(Resolve(L"DAYS", kMarch), kFailed);
    EXPECT_EQ(Resolve(L"now", kMarch), kFailed);
    EXPECT_EQ(Resolve(L"Day", kMarch), kFailed);
    // No keyword: the current time, parsing from the first character.
    EXPECT_EQ(Resolve(L"+2S", kMarch), kMarchTicks + 2 * zq::kTicksPerSecond);
    EXPECT_EQ(Resolve(L"-1M", kMarch), UtcTicks(2026, 3, 15, 10, 19, 30, 456));
}

TEST(RelativeTime, WeekIsTheMostRecentSundayEvenInThePreviousMonth)
{
    // A Sunday, a Saturday, and a Tuesday that is the 2nd of its month.
    EXPECT_EQ(Resolve(L"WEEK", kMarch), UtcTicks(2026, 3, 15));
    EXPECT_EQ(Resolve(L"WEEK", Civil(2026, 3, 14, 23, 59)), UtcTicks(2026, 3, 8));
    EXPECT_EQ(Resolve(L"WEEK", Civil(2026, 6, 2, 8)), UtcTicks(2026, 5, 31));
    EXPECT_EQ(Resolve(L"WEEK+1D", Civil(2026, 6, 2, 8)), UtcTicks(2026, 6, 1));
    // The Sunday before the calendar's first day (a Monday) does not exist.
    Ticks out = 0;
    EXPECT_EQ(zq::ResolveRelativeText(L"WEEK", 4, RelativeSyntax::Lenient, Civil(1601, 1, 1, 12), out),
              RelativeResult::OutOfRange);
}

TEST(RelativeTime, SignsNumbersAndUnits)
{
    const Ticks now = kMarchTicks;
    EXPECT_EQ(Resolve(L"NOW-", kMarch), now);
    EXPECT_EQ(Resolve(L"NOW-5", kMarch), now);
    EXPECT_EQ(Resolve(L"NOW-1h", kMarch), now); // skipped letter, number dropped at the end
    EXPECT_EQ(Resolve(L"NOW-1D2H", kMarch), now - kTicksPerDay - 2 * kTicksPerHour);
    EXPECT_EQ(Resolve(L"NOW-1D-2D", kMarch), now - 3 * kTicksPerDay);
    EXPECT_EQ(Resolve(L"NOW-1D+2W", kMarch), now + 13 * kTicksPerDay);
    EXPECT_EQ(Resolve(L"NOW - 1 D", kMarch), now - kTicksPerDay);
    EXPECT_EQ(Resolve(L"NOW-1XD", kMarch), now - kTicksPerDay);
    EXPECT_EQ(Resolve(L"NOW-1\tD", kMarch), now - kTicksPerDay);
    EXPECT_EQ(Resolve(L"NOW-1\u00C4D", kMarch), now - kTicksPerDay); // non-ASCII is skipped too
    EXPECT_EQ(Resolve(L"NOW-0000000001D", kMarch), now - kTicksPerDay);
    EXPECT_EQ(Resolve(L"NOW+90M", kMarch), now + 90 * zq::kTicksPerMinute);
    EXPECT_EQ(Resolve(L"NOW+1D+", kMarch), now + kTicksPerDay);
    // A zero is no number; a sign between a carried-sign number and its unit
    // becomes that number's sign.
    EXPECT_EQ(Resolve(L"NOW-0 5D", kMarch), now - 5 * kTicksPerDay);
    EXPECT_EQ(Resolve(L"NOW-1D2+H", kMarch), now - kTicksPerDay + 2 * kTicksPerHour);

    const wchar_t *const failing[] = {
        L"NOW-0D",  L"NOW-D",   L"NOW--1D", L"NOW-+1D", L"NOW-1 2D",
        L"NOW1D",   L"5D",      L"NOW-1DD", L"NOW-1MX", L"NOW\u00C4",
        L"NOW-\uFF11D", // a full-width digit is not a digit
    };
    for (const wchar_t *text : failing)
        EXPECT_EQ(Resolve(text, kMarch), kFailed) << text;
}

TEST(RelativeTime, MonthStepsCarryAcrossYears)
{
    EXPECT_EQ(Resolve(L"NOW-1MO", kMarch), UtcTicks(2026, 2, 15, 10, 20, 30, 456));
    EXPECT_EQ(Resolve(L"NOW-3MO", kMarch), UtcTicks(2025, 12, 15, 10, 20, 30, 456));
    EXPECT_EQ(Resolve(L"NOW+6MO", Civil(2026, 6, 2, 8)), UtcTicks(2026, 12, 2, 8));
    EXPECT_EQ(Resolve(L"NOW-3MO", Civil(2026, 2, 10, 1)), UtcTicks(2025, 11, 10, 1));
    EXPECT_EQ(Resolve(L"NOW+1MO", Civil(2026, 12, 20)), UtcTicks(2027, 1, 20));
    EXPECT_EQ(Resolve(L"NOW+30MO", kMarch), UtcTicks(2028, 9, 15, 10, 20, 30, 456));
    EXPECT_EQ(Resolve(L"NOW-30MO", kMarch), UtcTicks(2023, 9, 15, 10, 20, 30, 456));
    EXPECT_EQ(Resolve(L"MONTH-1MO+1D", kMarch), UtcTicks(2026, 2, 2));
}

TEST(RelativeTime, DayOfMonthTheNewMonthLacksBecomesItsLastDay)
{
    EXPECT_EQ(Resolve(L"NOW-1MO", Civil(2026, 3, 31, 7)), UtcTicks(2026, 2, 28, 7));
    EXPECT_EQ(Resolve(L"NOW-1MO", Civil(2024, 3, 31, 7)), UtcTicks(2024, 2, 29, 7));
    EXPECT_EQ(Resolve(L"NOW+3MO", Civil(2026, 1, 31)), UtcTicks(2026, 4, 30));
    EXPECT_EQ(Resolve(L"NOW+1Y", Civil(2024, 2, 29, 5)), UtcTicks(2025, 2, 28, 5));
    EXPECT_EQ(Resolve(L"NOW-4Y", Civil(2024, 2, 29, 5)), UtcTicks(2020, 2, 29, 5));
    EXPECT_EQ(Resolve(L"NOW+100Y", Civil(2000, 2, 29)), UtcTicks(2100, 2, 28));
}

TEST(RelativeTime, YearStepsStayInsideTheCalendar)
{
    EXPECT_EQ(Resolve(L"YEAR-2026Y", kMarch), kFailed);
    EXPECT_EQ(Resolve(L"YEAR-5000Y", kMarch), kFailed);
    EXPECT_EQ(Resolve(L"YEAR-426Y", kMarch), kFailed); // 1600
    EXPECT_EQ(Resolve(L"YEAR-425Y", kMarch), 0u);      // 1601-01-01, the first instant
    EXPECT_EQ(Resolve(L"YEAR-425Y-1S", kMarch), kFailed);
    EXPECT_EQ(Resolve(L"YEAR+28801Y", kMarch), UtcTicks(30827, 1, 1));
    EXPECT_EQ(Resolve(L"YEAR+28802Y", kMarch), kFailed);
    EXPECT_EQ(Resolve(L"NOW+2147483647Y", kMarch), kFailed);
    EXPECT_EQ(Resolve(L"NOW-2147483647MO", kMarch), kFailed);
    EXPECT_EQ(Resolve(L"NOW+2147483647MO", kMarch), kFailed);
}

TEST(RelativeTime, LargeNumbersAndOffsetsFailInsteadOfWrapping)
{
    const Ticks now = kMarchTicks;
    for (RelativeSyntax syntax : {RelativeSyntax::Lenient, RelativeSyntax::Strict}) {
        EXPECT_EQ(Resolve(L"NOW-2147483647S", kMarch, syntax), now - 2147483647ull * zq::kTicksPerSecond);
        EXPECT_EQ(Resolve(L"NOW-2147483648S", kMarch, syntax), kFailed);
        EXPECT_EQ(Resolve(L"NOW-99999999999999999999D", kMarch, syntax), kFailed);
        EXPECT_EQ(Resolve(L"NOW+2147483647W", kMarch, syntax), kFailed);
        EXPECT_EQ(Resolve(L"NOW-2147483647D", kMarch, syntax), kFailed);
        // More than 64 bits of 100 ns in one step.
        EXPECT_EQ(Resolve(L"NOW-616111492W", kMarch, syntax), kFailed);
        EXPECT_EQ(Resolve(L"NOW+2147483647H", kMarch, syntax), kFailed);
        // Each step alone fits; together they pass the largest time.
        EXPECT_EQ(Resolve(L"NOW+10000000D", kMarch, syntax), now + 10000000ull * kTicksPerDay);
        EXPECT_EQ(Resolve(L"NOW+10000000D+10000000D", kMarch, syntax), kFailed);
    }
}

TEST(RelativeTime, ANowOutsideTheCalendarFailsUnlessItsBadFieldsAreCleared)
{
    Ticks out = 0;
    auto result = [&](const wchar_t *text, const CivilTime &now) {
        return zq::ResolveRelativeText(text, wcslen(text), RelativeSyntax::Lenient, now, out);
    };
    EXPECT_EQ(result(L"NOW-1H", Civil(2026, 13, 15)), RelativeResult::BadNow);
    EXPECT_EQ(result(L"YEAR", Civil(2026, 13, 15)), RelativeResult::Resolved);
    EXPECT_EQ(out, UtcTicks(2026, 1, 1));
    EXPECT_EQ(result(L"HOUR", Civil(1600, 3, 15, 10)), RelativeResult::BadNow);
    EXPECT_EQ(result(L"DAY", Civil(2026, 3, 15, 25)), RelativeResult::Resolved);
    EXPECT_EQ(result(L"NOW", Civil(2026, 2, 29)), RelativeResult::BadNow);
    EXPECT_EQ(result(L"DAY1D", kMarch), RelativeResult::BadText);
}

// ---- Relative times: the strict syntax --------------------------------------

TEST(RelativeTime, StrictResolutionKeepsTheFraction)
{
    CivilTime now = Civil(2026, 3, 31, 15, 45, 30); // a Tuesday
    now.fraction = 5000000;
    const Ticks base = UtcTicks(2026, 3, 31, 15, 45, 30, 500);
    EXPECT_EQ(Strict(L"NOW", now), base);
    EXPECT_EQ(Strict(L"NOW-1H", now), base - kTicksPerHour);
    EXPECT_EQ(Strict(L"SECOND", now), UtcTicks(2026, 3, 31, 15, 45, 30));
    EXPECT_EQ(Strict(L"DAY -1D +6H", now), UtcTicks(2026, 3, 30, 6));
    EXPECT_EQ(Strict(L"NOW-1D2H", now), base - kTicksPerDay - 2 * kTicksPerHour); // the sign carries over
    EXPECT_EQ(Strict(L"NOW-0D", now), base); // a zero is a number here
    EXPECT_EQ(Strict(L"WEEK", now), UtcTicks(2026, 3, 29));
    EXPECT_EQ(Strict(L"WEEK", Civil(2026, 9, 2, 12)), UtcTicks(2026, 8, 30));
    EXPECT_EQ(Strict(L"-2W", now), base - 2 * zq::kTicksPerWeek);
    EXPECT_EQ(Strict(L"NOW+10MO", now), UtcTicks(2027, 1, 31, 15, 45, 30, 500));
    EXPECT_EQ(Strict(L"NOW-27MO", now), UtcTicks(2023, 12, 31, 15, 45, 30, 500));
    EXPECT_EQ(Strict(L"NOW+1MO", now), UtcTicks(2026, 4, 30, 15, 45, 30, 500));
    for (const wchar_t *text : {L"YEAR-500Y", L"NOW+30000Y"})
        EXPECT_EQ(Strict(text, now), kFailed) << text;
}

// What the strict syntax refuses, with the description and position a user is
// shown; the lenient syntax accepts some of these.
TEST(RelativeTime, StrictSyntaxNamesTheProblemAndItsPlace)
{
    struct Case
    {
        const wchar_t *text;
        const wchar_t *what;
        size_t position;
        bool lenientAccepts;
    };
    const Case cases[] = {
        {L"NOW-", L"expected a number", 4, true},
        {L"NOW- D", L"expected a number", 5, false},
        {L"NOW--1D", L"expected a number", 4, false},
        {L"NOW-1", L"expected a unit (S M H D W MO Y)", 5, true},
        {L"NOW-1X", L"expected a unit (S M H D W MO Y)", 5, true},
        {L"NOW-1XD", L"expected a unit (S M H D W MO Y)", 5, true},
        {L"NOW-1 2D", L"expected a unit (S M H D W MO Y)", 6, false},
        {L"NOW-1D2+H", L"expected a unit (S M H D W MO Y)", 7, true},
        {L"NOW-1DD", L"expected + or -", 6, false},
        {L"NOW1D", L"expected + or -", 3, false},
        {L"NOWADAYS", L"expected a keyword or a sign", 0, false},
        {L"5D", L"expected a keyword or a sign", 0, false},
        {L"NOW-\uFF11D", L"expected a number", 4, false},
        {L"NOW-2147483648S", L"number too large", 14, false},
    };
    for (const Case &c : cases) {
        const size_t n = wcslen(c.text);
        zq::RelativeProblem problem;
        EXPECT_FALSE(zq::CheckRelativeText(c.text, n, RelativeSyntax::Strict, &problem)) << c.text;
        EXPECT_STREQ(problem.what, c.what) << c.text;
        EXPECT_EQ(problem.position, c.position) << c.text;
        EXPECT_EQ(zq::CheckRelativeText(c.text, n, RelativeSyntax::Lenient), c.lenientAccepts) << c.text;
    }
    for (const wchar_t *text : {L"", L"NOW", L"NOW-1D", L"DAY -1D +6H", L"MONTH-1MO", L"-90M", L"SECOND+1S",
                                L"NOW-0D", L"NOW - 1 D"})
        EXPECT_TRUE(zq::CheckRelativeText(text, wcslen(text), RelativeSyntax::Strict)) << text;
}
