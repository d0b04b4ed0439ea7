// Command-line times: ISO 8601 texts and their errors, relative texts passed
// through or resolved on the client, durations.
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

// The forms, the calendar and the printing are tested with the time module
// (tests/runtime/civil_time_test.cpp); here: what the client tells its user.
TEST(IsoTimes, ErrorsSayWhatIsWrong)
{
    EXPECT_EQ(Iso(L"2026-12-08T11:00:00+01:00"), UtcTicks(2026, 12, 8, 10));
    EXPECT_EQ(FormatIsoTime(FileTimeOf(UtcTicks(2026, 12, 8, 10, 5, 7, 42))), L"2026-12-08T10:05:07.042Z");
    const std::pair<const wchar_t *, const wchar_t *> refused[] = {
        {L"2026-12-08X10:00:00Z", L"not an ISO 8601 time (2026-12-08T10:00:00Z): 2026-12-08X10:00:00Z"},
        {L"2026-02-29T00:00:00Z", L"no such date or time (years 1601 to 30827): 2026-02-29T00:00:00Z"},
        {L"1601-01-01T00:00:00+01:00", L"time out of range: 1601-01-01T00:00:00+01:00"},
    };
    for (const auto &r : refused) {
        FILETIME ft = FileTimeOf(77);
        std::wstring error;
        EXPECT_FALSE(ParseIsoTime(r.first, ft, error)) << Narrow(r.first);
        EXPECT_EQ(error, r.second);
        EXPECT_EQ(TicksOf(ft), 77u);
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

// The strict grammar and its steps are tested with the time module; here:
// the current time as a FILETIME, and the texts of the failures.
TEST(TimeArguments, ClientSideResolution)
{
    const std::wstring now = L"2026-03-31T15:45:30.5Z";  // a Tuesday
    EXPECT_EQ(Resolved(L"NOW", now), Iso(now));
    EXPECT_EQ(Resolved(L"DAY -1D +6H", now), Iso(L"2026-03-30T06:00:00Z"));
    EXPECT_EQ(Resolved(L"WEEK", now), Iso(L"2026-03-29T00:00:00Z"));
    EXPECT_EQ(Resolved(L"NOW-1MO", now), Iso(L"2026-02-28T15:45:30.5Z"));

    FILETIME base = FileTimeOf(Iso(now));
    const std::pair<const wchar_t *, const wchar_t *> refused[] = {
        {L"", L"not a relative time (empty): "},
        {L"now", L"not a relative time (relative times are written in upper case (NOW-1D)): now"},
        {L"NOW-", L"not a relative time (expected a number at position 5): NOW-"},
        {L"NOW-1X", L"not a relative time (expected a unit (S M H D W MO Y) at position 6): NOW-1X"},
        {L"5D", L"not a relative time (expected a keyword or a sign at position 1): 5D"},
        {L"YEAR-500Y", L"time out of range: YEAR-500Y"},
        {L"NOW+30000Y", L"time out of range: NOW+30000Y"},
        {L"NOW-616111492W", L"time out of range: NOW-616111492W"},
    };
    for (const auto &r : refused) {
        FILETIME out = FileTimeOf(77);
        std::wstring error;
        EXPECT_FALSE(ResolveRelative(r.first, base, out, error)) << Narrow(r.first);
        EXPECT_EQ(error, r.second);
        EXPECT_EQ(TicksOf(out), 77u);
    }
    FILETIME out{};
    std::wstring error;
    EXPECT_FALSE(ResolveRelative(L"NOW-1D", FileTimeOf(0), out, error));  // before 1601
    EXPECT_EQ(error, L"time out of range: NOW-1D");
    EXPECT_FALSE(ResolveRelative(L"NOW", FileTimeOf(0x8000000000000000ull), out, error));
    EXPECT_EQ(error, L"the current time is out of range");

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
