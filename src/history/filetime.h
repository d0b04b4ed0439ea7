// FILETIMEs as plain numbers: unsigned 64-bit counts of 100-ns intervals
// since 1601-01-01 00:00 UTC.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zq {

constexpr uint64_t kTicksPerSecond = 10000000ull;
constexpr uint64_t kTicksPerMinute = 60 * kTicksPerSecond;
constexpr uint64_t kTicksPerHour = 60 * kTicksPerMinute;
constexpr uint64_t kTicksPerDay = 24 * kTicksPerHour;
constexpr uint64_t kTicksPerWeek = 7 * kTicksPerDay;

// The largest FILETIME the calendar conversion accepts (the top bit is clear).
constexpr uint64_t kMaxCalendarTicks = 0x7FFFFFFFFFFFFFFFull;

inline uint64_t TicksFromFileTime(const FILETIME &ft)
{
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

inline FILETIME FileTimeFromTicks(uint64_t ticks)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

} // namespace zq
