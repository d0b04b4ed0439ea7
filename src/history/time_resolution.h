// Resolution of a client's OPCHDA_TIME (an absolute FILETIME or a relative
// text such as "NOW-1D" or "DAY+6H") into one absolute UTC FILETIME.
//
// Texts follow the relative-time grammar of runtime/civil_time.h, read
// leniently (RelativeSyntax::Lenient) as clients' texts always have been: a
// keyword matches on its own length, a stray character while a number waits
// for its unit is skipped, and a number or sign left over at the end is
// ignored. Month and year steps keep the time of day and use the new month's
// last day when it lacks the day of month. A step that leaves the calendar's
// years 1601 to 30827, a number beyond 2147483647, or an offset that would
// take the time below 1601-01-01 or past the largest FILETIME the calendar
// accepts fails the resolution; nothing wraps around.
#pragma once

#include <windows.h>

#include "ZqHDAsvr.h"

namespace zq {

// Resolves t against the given current time, once as a FILETIME and once in
// calendar form (both UTC). An absolute time (bString FALSE) is only tested:
// true if the calendar accepts it. A text is resolved and the result written
// to t.ftTime. On false, t.ftTime is left as it was.
bool ResolveTimeAt(OPCHDA_TIME &t, const FILETIME &nowFt, const SYSTEMTIME &nowSt) noexcept;

// ResolveTimeAt with the clock's current UTC time.
bool ResolveTime(OPCHDA_TIME &t) noexcept;

// HDAResolveTime: a host's time resolved as a client's would be, against now
// (null: the clock). 1 with the time in *result; 0 (result untouched) when
// it is malformed or outside the calendar, or a pointer is null.
int ResolveHostTime(const OPCHDA_TIME *time, const FILETIME *now, FILETIME *result);

} // namespace zq
