// Command-line times: ISO 8601 against the system's own calendar conversion,
// relative texts passed through or resolved on the client, durations.
#include <gtest/gtest.h>

#include "test_util.h"
#include "times.h"
#include "utc_ticks.h"

namespace clienttest {
namespace {

using namespace zqhda;

// The system's calendar conversion (zqtest::UtcTicks) is the independent reference.
using zqtest::UtcTicks;

Ticks Iso(const std::wstring &text)
{
    FILETIME ft{};
    std::wstring error;
    EXPECT_TRUE(ParseIsoTime(text, ft, error)) << Narrow(text) << ": " << Narrow(error);
    return TicksOf(ft);
}

Ticks Resolved(const std::wstring &text, const std::wstring &now)
{
    FILETIME out{};
    std::wstring error;
    EXPECT_TRUE(ResolveRelative(text, FileTimeOf(Iso(now)), out, error)) << Narrow(text) << ": " << Narrow(error);
    return TicksOf(out);
}

TEST(IsoTimes, AgreeWithTheSystemCalendar)
{
    EXPECT_EQ(Iso(L"1601-01-01T00:00:00Z"), 0u);
    EXPECT_EQ(Iso(L"2026-12-08T10:00:00Z"), UtcTicks(2026, 12, 8, 10));
    EXPECT_EQ(Iso(L"2024-02-29T23:59:59.999Z"), UtcTicks(2024, 2, 29, 23, 59, 59, 999));
    EXPECT_EQ(Iso(L"2000-02-29T12:00:00Z"), UtcTicks(2000, 2, 29, 12));
    EXPECT_EQ(Iso(L"1900-03-01T00:00:00Z"), UtcTicks(1900, 3, 1));
    EXPECT_EQ(Iso(L"9999-12-31T23:59:59.9999999Z"), UtcTicks(9999, 12, 31, 23, 59, 59, 999) + 9999);
    // Every first of month over four years, leap year included.
    for (WORD year = 2023; year <= 2026; ++year)
        for (WORD month = 1; month <= 12; ++month) {
            wchar_t text[32];
            swprintf(text, 32, L"%04u-%02u-01T06:07:08Z", year, month);
            EXPECT_EQ(Iso(text), UtcTicks(year, month, 1, 6, 7, 8)) << Narrow(text);
        }
}

TEST(IsoTimes, FormsZonesAndFractions)
{
    Ticks ten = UtcTicks(2026, 12, 8, 10);
    EXPECT_EQ(Iso(L"2026-12-08T10:00:00"), ten);  // no zone: UTC
    EXPECT_EQ(Iso(L"2026-12-08 10:00:00Z"), ten);
    EXPECT_EQ(Iso(L"2026-12-08t10:00:00z"), ten);
    EXPECT_EQ(Iso(L"2026-12-08T10:00Z"), ten);
    EXPECT_EQ(Iso(L"2026-12-08"), UtcTicks(2026, 12, 8));
    EXPECT_EQ(Iso(L"2026-12-08T11:00:00+01:00"), ten);
    EXPECT_EQ(Iso(L"2026-12-08T04:30:00-0530"), ten);
    EXPECT_EQ(Iso(L"2026-12-08T12:00:00+02"), ten);
    EXPECT_EQ(Iso(L"2026-12-08T10:00:00.5Z"), ten + 5000000);
    EXPECT_EQ(Iso(L"2026-12-08T10:00:00,25Z"), ten + 2500000);
    EXPECT_EQ(Iso(L"2026-12-08T10:00:00.1234567Z"), ten + 1234567);
    EXPECT_EQ(Iso(L"2026-12-08T10:00:00.123456789Z"), ten + 1234567);  // beyond 100 ns: cut
}

TEST(IsoTimes, NonsenseIsRefused)
{
    for (const wchar_t *text : {L"", L"2026", L"2026-12", L"2026-1-08T10:00:00Z", L"2026-13-01T00:00:00Z",
                                L"2026-00-10T00:00:00Z", L"2026-02-29T00:00:00Z", L"2024-02-30T00:00:00Z",
                                L"2026-04-31T00:00:00Z", L"2026-12-08T24:00:00Z", L"2026-12-08T10:60:00Z",
                                L"2026-12-08T10:00:60Z", L"2026-12-08T10:00:00.Z", L"2026-12-08T10Z",
                                L"2026-12-08T10:00:00ZZ", L"2026-12-08T10:00:00+25:00", L"2026-12-08T10:00:00 Z",
                                L"1600-12-31T23:59:59Z", L"30827-12-31T23:59:59Z", L"1601-01-01T00:00:00+01:00", L"2026-12-08X10:00:00Z"}) {
        FILETIME ft{};
        std::wstring error;
        EXPECT_FALSE(ParseIsoTime(text, ft, error)) << Narrow(text);
        EXPECT_FALSE(error.empty()) << Narrow(text);
    }
}

TEST(IsoTimes, PrintedExactlyAndReadBack)
{
    EXPECT_EQ(FormatIsoTime(FileTimeOf(UtcTicks(2026, 12, 8, 10, 5, 7, 42))), L"2026-12-08T10:05:07.042Z");
    EXPECT_EQ(FormatIsoTime(FileTimeOf(0)), L"1601-01-01T00:00:00.000Z");
    EXPECT_EQ(FormatIsoTime(FileTimeOf(UtcTicks(2024, 2, 29) + 1)), L"2024-02-29T00:00:00.0000001Z");
    // Any time prints as text that reads back as the same FILETIME.
    Ticks t = 0x01D9A5B489ABCDEFull;
    for (int i = 0; i < 200; ++i, t = t * 6364136223846793005ull + 1442695040888963407ull) {
        Ticks sample = t % UtcTicks(9999, 12, 31);
        EXPECT_EQ(Iso(FormatIsoTime(FileTimeOf(sample))), sample);
    }
}

TEST(TimeArguments, IsoIsAbsoluteEverythingElsePassesThroughUnchanged)
{
    TimeArg t;
    std::wstring error;
    ASSERT_TRUE(ParseTimeArg(L"2026-12-08T10:00:00Z", t, error));
    EXPECT_FALSE(t.relative);
    EXPECT_EQ(TicksOf(t.time), UtcTicks(2026, 12, 8, 10));

    for (const wchar_t *text : {L"NOW", L"NOW-1D", L"DAY -1D +6H", L"MONTH-1MO", L"YEAR-1Y", L"WEEK", L"-90M",
                                L"NOW-1D2H", L"SECOND+1S"}) {
        ASSERT_TRUE(ParseTimeArg(text, t, error)) << Narrow(text);
        EXPECT_TRUE(t.relative);
        EXPECT_EQ(t.text, text);
        EXPECT_TRUE(t.warning.empty()) << Narrow(text) << ": " << Narrow(t.warning);
    }
    ASSERT_TRUE(ParseTimeArg(L"", t, error));
    EXPECT_TRUE(t.relative);
    EXPECT_TRUE(t.text.empty());
    EXPECT_TRUE(t.warning.empty());
    // Odd texts still go to the server (it decides), with a warning here.
    for (const wchar_t *text : {L"now", L"NOW-", L"NOW-D", L"NOW-1", L"NOW-1X", L"NOW--1D", L"NOWADAYS", L"TODAY",
                                L"NOW+1h"}) {
        ASSERT_TRUE(ParseTimeArg(text, t, error)) << Narrow(text);
        EXPECT_TRUE(t.relative);
        EXPECT_EQ(t.text, text);
        EXPECT_FALSE(t.warning.empty()) << Narrow(text);
    }
}

TEST(TimeArguments, ClientSideResolution)
{
    const std::wstring now = L"2026-03-31T15:45:30.5Z";  // a Tuesday
    EXPECT_EQ(Resolved(L"NOW", now), Iso(now));
    EXPECT_EQ(Resolved(L"NOW-1H", now), Iso(L"2026-03-31T14:45:30.5Z"));
    EXPECT_EQ(Resolved(L"NOW+90M", now), Iso(L"2026-03-31T17:15:30.5Z"));
    EXPECT_EQ(Resolved(L"SECOND", now), Iso(L"2026-03-31T15:45:30Z"));
    EXPECT_EQ(Resolved(L"MINUTE", now), Iso(L"2026-03-31T15:45:00Z"));
    EXPECT_EQ(Resolved(L"HOUR", now), Iso(L"2026-03-31T15:00:00Z"));
    EXPECT_EQ(Resolved(L"DAY", now), Iso(L"2026-03-31T00:00:00Z"));
    EXPECT_EQ(Resolved(L"DAY-1D+6H", now), Iso(L"2026-03-30T06:00:00Z"));
    EXPECT_EQ(Resolved(L"DAY -1D +6H", now), Iso(L"2026-03-30T06:00:00Z"));
    EXPECT_EQ(Resolved(L"NOW-1D2H", now), Iso(L"2026-03-30T13:45:30.5Z"));  // the sign carries over
    EXPECT_EQ(Resolved(L"WEEK", now), Iso(L"2026-03-29T00:00:00Z"));
    EXPECT_EQ(Resolved(L"WEEK", L"2026-03-29T12:00:00Z"), Iso(L"2026-03-29T00:00:00Z"));  // a Sunday
    EXPECT_EQ(Resolved(L"WEEK", L"2026-09-02T12:00:00Z"), Iso(L"2026-08-30T00:00:00Z"));
    EXPECT_EQ(Resolved(L"MONTH", now), Iso(L"2026-03-01T00:00:00Z"));
    EXPECT_EQ(Resolved(L"YEAR-1Y", now), Iso(L"2025-01-01T00:00:00Z"));
    EXPECT_EQ(Resolved(L"-2W", now), Iso(L"2026-03-17T15:45:30.5Z"));
    // Months keep the day where the month has it, else take its last day.
    EXPECT_EQ(Resolved(L"NOW-1MO", now), Iso(L"2026-02-28T15:45:30.5Z"));
    EXPECT_EQ(Resolved(L"NOW+1MO", now), Iso(L"2026-04-30T15:45:30.5Z"));
    EXPECT_EQ(Resolved(L"NOW+10MO", now), Iso(L"2027-01-31T15:45:30.5Z"));
    EXPECT_EQ(Resolved(L"NOW-27MO", now), Iso(L"2023-12-31T15:45:30.5Z"));
    EXPECT_EQ(Resolved(L"NOW+1Y", L"2028-02-29T00:00:00Z"), Iso(L"2029-02-28T00:00:00Z"));

    FILETIME out{};
    std::wstring error;
    FILETIME base = FileTimeOf(Iso(now));
    for (const wchar_t *text : {L"", L"now", L"NOW-", L"NOW-1X", L"YEAR-500Y", L"NOW+30000Y", L"5D"})
        EXPECT_FALSE(ResolveRelative(text, base, out, error)) << Narrow(text);
    EXPECT_FALSE(ResolveRelative(L"NOW-1D", FileTimeOf(0), out, error));  // before 1601

    TimeArg null;
    null.relative = true;
    EXPECT_FALSE(AbsoluteTime(null, out, error));
}

TEST(Durations, UnitsAndSums)
{
    const std::pair<const wchar_t *, Ticks> good[] = {
        {L"10S", 10 * kTicksPerSecond},  {L"10M", 600 * kTicksPerSecond},  {L"10m", 600 * kTicksPerSecond},
        {L"1H30M", 5400 * kTicksPerSecond}, {L"500MS", kTicksPerSecond / 2}, {L"1D", kTicksPerDay},
        {L"2W", 14 * kTicksPerDay},      {L"45", 45 * kTicksPerSecond},    {L"1.5S", 15000000},
        {L"0", 0},                        {L"0.1S", 1000000},
    };
    for (const auto &g : good) {
        Ticks t = 0;
        std::wstring error;
        EXPECT_TRUE(ParseDuration(g.first, t, error)) << Narrow(g.first) << ": " << Narrow(error);
        EXPECT_EQ(t, g.second) << Narrow(g.first);
    }
    for (const wchar_t *text : {L"", L"S", L"10X", L"1H30", L"-1S", L"1..5S", L"10 S", L"1MO", L"99999999999W"}) {
        Ticks t = 0;
        std::wstring error;
        EXPECT_FALSE(ParseDuration(text, t, error)) << Narrow(text);
    }
}

}  // namespace
}  // namespace clienttest
