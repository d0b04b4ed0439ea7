// Expected instants for the tests, built through the platform calendar.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

#include "runtime/civil_time.h"

namespace zqtest {

// The UTC calendar time as FILETIME ticks.
inline uint64_t UtcTicks(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0,
                         WORD ms = 0)
{
    SYSTEMTIME st{};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    st.wMilliseconds = ms;
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft)) << y << "-" << mo << "-" << d;
    return zq::TicksFromFileTime(ft);
}

} // namespace zqtest
