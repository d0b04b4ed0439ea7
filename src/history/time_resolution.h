// Resolution of a client's OPCHDA_TIME (an absolute FILETIME or a relative
// text such as "NOW-1D" or "DAY+6H") into one absolute UTC FILETIME.
//
// Text syntax: an optional base keyword at the start ("NOW", "SECOND",
// "MINUTE", "HOUR", "DAY", "WEEK", "MONTH", "YEAR", tested in that order and
// case-sensitively on their own length), then offsets: a sign, a decimal
// number and a unit ("S", "M", "H", "D", "W", "MO", "Y"). A number without a
// sign of its own takes the last sign given. Blanks are skipped, and so is any
// other character while a number waits for its unit; a number or sign left
// over at the end is ignored.
//
// Calendar steps ("MO", "Y") carry months into years as far as needed and keep
// the time of day. A day of month the new month lacks (the 31st into April,
// 29 February into a common year) becomes the new month's last day, so that
// "one month back" from 31 March is the end of February rather than a failed
// request on a few days of every year. A step that leaves the calendar's years
// 1601 to 30827, a number beyond 2147483647, or an offset that would take the
// time below 1601-01-01 or past the largest FILETIME the calendar accepts
// fails the resolution; nothing wraps around.
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

} // namespace zq
