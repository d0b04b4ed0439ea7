// The exported conversions between OLE Automation dates and UTC FILETIMEs.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "ZqHDAsvr.h"
#include "runtime/civil_time.h"
#include "utc_ticks.h"

namespace {

FILETIME At(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms)
{
    return zq::FileTimeFromTicks(zqtest::UtcTicks(y, mo, d, h, mi, s, ms));
}

uint64_t Ticks(const FILETIME &ft)
{
    return zq::TicksFromFileTime(ft);
}

// Half a second, in days: the platform conversions work in whole seconds.
constexpr double kHalfSecond = 0.5 / 86400.0;

} // namespace

TEST(VBDate, DatesCountDaysFrom1899WithTheTimeOfDayAsFraction)
{
    FILETIME ft{};
    DATE zero = 0.0;
    ASSERT_TRUE(HDAConvertVBDateToFileTime(&zero, &ft));
    EXPECT_EQ(Ticks(ft), Ticks(At(1899, 12, 30, 0, 0, 0, 0)));
    DATE noon = 2.5;
    ASSERT_TRUE(HDAConvertVBDateToFileTime(&noon, &ft));
    EXPECT_EQ(Ticks(ft), Ticks(At(1900, 1, 1, 12, 0, 0, 0)));

    // 2026-03-15 is day 46096; 10:20:30 is 37230 s into it. No zone shift.
    DATE date = -1.0;
    FILETIME march = At(2026, 3, 15, 10, 20, 30, 0);
    ASSERT_TRUE(HDAConvertFileTimeToVBDate(&march, &date));
    EXPECT_NEAR(date, 46096.0 + 37230.0 / 86400.0, kHalfSecond);
    ASSERT_TRUE(HDAConvertVBDateToFileTime(&date, &ft));
    EXPECT_EQ(Ticks(ft), Ticks(march));
}

TEST(VBDate, MillisecondsAreDroppedOnTheWayToADate)
{
    FILETIME withMs = At(2026, 3, 15, 10, 20, 30, 250);
    DATE date = 0;
    ASSERT_TRUE(HDAConvertFileTimeToVBDate(&withMs, &date));
    FILETIME back{};
    ASSERT_TRUE(HDAConvertVBDateToFileTime(&date, &back));
    EXPECT_EQ(Ticks(back), Ticks(At(2026, 3, 15, 10, 20, 30, 0)));
}

TEST(VBDate, RefusedInputGivesFalseAndAZeroedOutput)
{
    // Before 1601 (no FILETIME), far beyond year 9999, and not finite numbers.
    const DATE refusedDates[] = {-200000.0, 1e9, std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity()};
    for (DATE d : refusedDates) {
        FILETIME ft = zq::FileTimeFromTicks(0x1234);
        EXPECT_FALSE(HDAConvertVBDateToFileTime(&d, &ft)) << d;
        EXPECT_EQ(Ticks(ft), 0u) << d;
    }
    // Top bit set (no calendar form), and year 30000 (no DATE).
    const FILETIME refusedTimes[] = {zq::FileTimeFromTicks(0x8000000000000000ull),
                                     At(30000, 1, 1, 0, 0, 0, 0)};
    for (const FILETIME &ft : refusedTimes) {
        DATE d = 123.0;
        EXPECT_FALSE(HDAConvertFileTimeToVBDate(&ft, &d)) << Ticks(ft);
        EXPECT_EQ(d, 0.0);
    }
}

TEST(VBDate, NullPointersGiveFalse)
{
    DATE d = 123.0;
    FILETIME ft = zq::FileTimeFromTicks(0x1234);
    EXPECT_FALSE(HDAConvertVBDateToFileTime(nullptr, &ft));
    EXPECT_EQ(Ticks(ft), 0u);
    EXPECT_FALSE(HDAConvertVBDateToFileTime(&d, nullptr));
    EXPECT_FALSE(HDAConvertFileTimeToVBDate(nullptr, &d));
    EXPECT_EQ(d, 0.0);
    EXPECT_FALSE(HDAConvertFileTimeToVBDate(&ft, nullptr));
    EXPECT_FALSE(HDAConvertVBDateToFileTime(nullptr, nullptr));
}
