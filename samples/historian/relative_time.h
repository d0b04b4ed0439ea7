// OPC HDA times (absolute or relative texts) for the historian's own use: a raw delete
// hands the client's OPCHDA_TIME records to the host as they came, relative
// texts included, so the historian resolves them itself.
//
// Grammar (upper case, blanks allowed between the parts):
//   text    = [keyword] { sign number unit }
//   keyword = NOW | SECOND | MINUTE | HOUR | DAY | WEEK | MONTH | YEAR
//             (the current UTC time truncated to that unit; WEEK: the most
//             recent Sunday 00:00; no keyword: the current time)
//   sign    = "+" | "-"; number = 1 to 9 decimal digits
//   unit    = S | M | H | D | W | MO | Y
// Months and years are calendar steps; a day of month that the target month
// lacks becomes its last day (31 March - 1MO = 28 or 29 February).
// Anything else (lower case, a missing unit or number, stray characters,
// an empty text, a result outside the calendar) is refused.
#pragma once

#include "opchda.h"
#include "value.h"

namespace historian {

// Resolves a relative text against now.
bool ResolveRelativeTime(const wchar_t *text, Ticks now, Ticks *out);
// Resolves a client's time record: ftTime when bString is FALSE (refused if
// the calendar cannot hold it), else its text.
bool ResolveHdaTime(const OPCHDA_TIME &time, Ticks now, Ticks *out);

} // namespace historian
