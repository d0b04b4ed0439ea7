// Times and durations on the command line.
//
// A time is either absolute, ISO 8601 in UTC ("2026-12-08T10:00:00Z", with an
// optional fraction of up to seven digits and an optional "+01:00" style
// offset; no zone means UTC), which the client turns into a FILETIME, or an
// OPC HDA relative text ("NOW-1D", "DAY+6H"), which goes to the server as it
// stands. The empty text is the "null time" (no bound).
//
// A duration is a sequence of numbers with units: "10S", "10M", "1H30M",
// "500MS", "1D", "2W" (units in either case; "M" is minutes; a bare number is
// seconds).
#pragma once

#include <windows.h>

#include <string>

#include "runtime/civil_time.h"

namespace zqhda {

// 100-ns intervals since 1601-01-01 00:00 UTC.
using Ticks = zq::Ticks;
using zq::kTicksPerSecond;
using zq::kTicksPerDay;

inline constexpr auto &TicksOf = zq::TicksFromFileTime;
inline constexpr auto &FileTimeOf = zq::FileTimeFromTicks;

struct TimeArg
{
    bool relative = false;  // text passed to the server (bString TRUE)
    std::wstring text;      // the command-line text (empty: null time)
    FILETIME time{};        // absolute time (relative == false)
    std::wstring warning;   // a relative text that the usual syntax refuses
};

// Parses a command-line time. A text that starts with a digit must be a valid
// ISO time; any other text is relative and kept as it stands (with a warning
// when it does not follow the relative syntax, since servers differ).
bool ParseTimeArg(const std::wstring &text, TimeArg &out, std::wstring &error);

bool ParseIsoTime(const std::wstring &text, FILETIME &out, std::wstring &error);

// "2026-12-08T10:00:00.000Z"; seven fraction digits when the time has a part
// below the millisecond, so that every FILETIME prints exactly.
std::wstring FormatIsoTime(const FILETIME &time);

// Checks a relative text against the syntax "[KEYWORD] {(+|-) N UNIT}" with
// upper-case keywords (NOW SECOND MINUTE HOUR DAY WEEK MONTH YEAR) and units
// (S M H D W MO Y); blanks are allowed between the parts, and a number after
// the first offset may leave out its sign to take the one before.
bool CheckRelativeSyntax(const std::wstring &text, std::wstring &problem);

// Resolves a relative text against `now` on the client (for the calls that
// take plain FILETIMEs). Month and year steps keep the day of month where the
// target month has it and use its last day otherwise.
bool ResolveRelative(const std::wstring &text, const FILETIME &now, FILETIME &out, std::wstring &error);

// The absolute time of a parsed argument; relative texts are resolved against
// the current time. The null time is refused.
bool AbsoluteTime(const TimeArg &arg, FILETIME &out, std::wstring &error);

bool ParseDuration(const std::wstring &text, Ticks &out, std::wstring &error);

}  // namespace zqhda
