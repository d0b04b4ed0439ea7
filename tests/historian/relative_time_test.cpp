// The historian's resolver for the time records of a raw delete, against a
// fixed "now": Wednesday 2024-03-13 14:25:36.789 UTC.
#include "historian_fixture.h"

#include "../history/utc_ticks.h"
#include "relative_time.h"

using namespace htest;
using historian::ResolveHdaTime;
using historian::ResolveRelativeTime;

namespace {

Ticks Utc(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0)
{
    return zqtest::UtcTicks(y, mo, d, h, mi, s, ms);
}

const Ticks kNow = Utc(2024, 3, 13, 14, 25, 36, 789);

Ticks Resolve(const wchar_t *text, Ticks now = kNow)
{
    Ticks t = 0;
    EXPECT_TRUE(ResolveRelativeTime(text, now, &t)) << "text: " << testing::PrintToString(text);
    return t;
}

TEST(RelativeTime, Keywords)
{
    EXPECT_EQ(Resolve(L"NOW"), kNow);
    EXPECT_EQ(Resolve(L"SECOND"), Utc(2024, 3, 13, 14, 25, 36));
    EXPECT_EQ(Resolve(L"MINUTE"), Utc(2024, 3, 13, 14, 25));
    EXPECT_EQ(Resolve(L"HOUR"), Utc(2024, 3, 13, 14));
    EXPECT_EQ(Resolve(L"DAY"), Utc(2024, 3, 13));
    EXPECT_EQ(Resolve(L"WEEK"), Utc(2024, 3, 10)) << "the Sunday before";
    EXPECT_EQ(Resolve(L"WEEK", Utc(2024, 3, 10, 9)), Utc(2024, 3, 10)) << "a Sunday itself";
    EXPECT_EQ(Resolve(L"WEEK", Utc(2024, 3, 2, 9)), Utc(2024, 2, 25)) << "into last month";
    EXPECT_EQ(Resolve(L"MONTH"), Utc(2024, 3, 1));
    EXPECT_EQ(Resolve(L"YEAR"), Utc(2024, 1, 1));
}

TEST(RelativeTime, Offsets)
{
    const Ticks s = historian::kTicksPerSecond;
    EXPECT_EQ(Resolve(L"NOW-1H"), kNow - 3600 * s);
    EXPECT_EQ(Resolve(L"NOW+90S"), kNow + 90 * s);
    EXPECT_EQ(Resolve(L"NOW-2M"), kNow - 120 * s);
    EXPECT_EQ(Resolve(L"DAY-1D+6H"), Utc(2024, 3, 12, 6));
    EXPECT_EQ(Resolve(L" DAY - 1D + 6H "), Utc(2024, 3, 12, 6));
    EXPECT_EQ(Resolve(L"-1W"), kNow - 7 * 86400 * s) << "no keyword: from now";
    EXPECT_EQ(Resolve(L"MONTH-1MO"), Utc(2024, 2, 1));
    EXPECT_EQ(Resolve(L"NOW-3MO"), Utc(2023, 12, 13, 14, 25, 36, 789));
    EXPECT_EQ(Resolve(L"NOW+10MO"), Utc(2025, 1, 13, 14, 25, 36, 789));
    EXPECT_EQ(Resolve(L"YEAR-1Y"), Utc(2023, 1, 1));
    EXPECT_EQ(Resolve(L"NOW+0D"), kNow);
}

TEST(RelativeTime, MonthStepsKeepToTheCalendar)
{
    EXPECT_EQ(Resolve(L"NOW-1MO", Utc(2024, 3, 31, 12)), Utc(2024, 2, 29, 12));
    EXPECT_EQ(Resolve(L"NOW-1MO", Utc(2023, 3, 31, 12)), Utc(2023, 2, 28, 12));
    EXPECT_EQ(Resolve(L"NOW+1Y", Utc(2024, 2, 29)), Utc(2025, 2, 28));
    EXPECT_EQ(Resolve(L"NOW+30MO", Utc(2024, 1, 31)), Utc(2026, 7, 31));
}

TEST(RelativeTime, MalformedTextsAreRefused)
{
    for (const wchar_t *bad : {L"", L"   ", L"now", L"NOW-1h", L"NOW-D", L"NOW--1D", L"NOW-1 2D",
                               L"NOW1D", L"5D", L"NOW-1XD", L"NOW-", L"NOW-5", L"TODAY",
                               L"NOW-1234567890S", L"NOW-1D junk", L"YEAR-2024Y"}) {
        Ticks t = 12345;
        EXPECT_FALSE(ResolveRelativeTime(bad, kNow, &t)) << testing::PrintToString(bad);
        EXPECT_EQ(t, 12345u) << "nothing written on failure";
    }
    Ticks t;
    EXPECT_FALSE(ResolveRelativeTime(nullptr, kNow, &t));
}

TEST(RelativeTime, TimeRecords)
{
    OPCHDA_TIME absolute{};
    absolute.bString = FALSE;
    absolute.ftTime = historian::ToFileTime(Sec(5));
    Ticks t = 0;
    ASSERT_TRUE(ResolveHdaTime(absolute, kNow, &t));
    EXPECT_EQ(t, Sec(5));
    absolute.ftTime.dwHighDateTime = 0x80000000u;
    EXPECT_FALSE(ResolveHdaTime(absolute, kNow, &t));

    wchar_t text[] = L"NOW-1D";
    OPCHDA_TIME relative{};
    relative.bString = TRUE;
    relative.szTime = text;
    relative.ftTime = historian::ToFileTime(Sec(5)); // ignored for a text
    ASSERT_TRUE(ResolveHdaTime(relative, kNow, &t));
    EXPECT_EQ(t, kNow - historian::kTicksPerDay);
    relative.szTime = nullptr;
    EXPECT_FALSE(ResolveHdaTime(relative, kNow, &t));
}

} // namespace
