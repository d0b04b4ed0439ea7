// History from CSV files: one file per item, named after the item ID
// ("Plant.Area1.Flow.csv" holds the item "Plant.Area1.Flow").
//
// Each line: time stamp, value[, quality]
//   time stamp  UTC, YYYY-MM-DD hh:mm:ss[.fffffff] with 'T' or a blank between
//               date and time and an optional trailing 'Z'
//   value       a number (VT_R8), true / false (VT_BOOL), empty (VT_EMPTY), or
//               text (VT_BSTR; in double quotes it may hold commas, "" is a quote)
//   quality     decimal or 0x-hexadecimal quality word; default 0x000400C0
//               (raw, good)
// Blank lines and lines starting with '#' are skipped, except "#@Name=value"
// lines, which set an attribute: Description, Eng Units, Stepped (true or
// false), Normal Maximum, Normal Minimum. A first line that does not start
// with a time stamp is taken as a column header. The file is UTF-8 (or, if it
// is not valid UTF-8, the ANSI code page). Samples may come in any order; of
// two with the same time stamp the later line wins.
#pragma once

#include <string>
#include <vector>

#include "store.h"

namespace historian {

// "2024-03-01T12:00:00.5Z" and the like; false if malformed.
bool ParseTimeStamp(const std::string &text, Ticks *out);

// Parses one file's contents into the series (its samples, data type,
// stepped flag and attributes, the constant ones valid from loadTime).
// false with "line N: reason" when a line is malformed.
bool ParseCsvHistory(const std::string &text, Ticks loadTime, Series *series,
                     std::string *error);

// "Plant.Area1.Flow.csv" -> "Plant.Area1.Flow"; empty if not a .csv name.
std::string ItemIdFromFileName(const std::string &fileName);

// Adds an item for every .csv file of the folder (in name order). false with
// a reason on the first file that cannot be read or parsed, or if the folder
// cannot be listed.
bool LoadCsvFolder(const std::string &folder, Ticks loadTime, Store *store, std::string *error);

} // namespace historian
