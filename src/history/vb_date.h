// OLE Automation dates (DATE) <-> UTC FILETIMEs for the host. The date's
// clock time is taken as UTC; no time zone is applied. Resolution and range
// are those of the platform conversions (whole seconds; years 1601 to 9999).
// When a conversion refuses its input the output is zeroed and FALSE returned.
// A DATE that is not a finite number is refused here: the platform may turn
// it into some arbitrary day.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace zq {

// HDAConvertVBDateToFileTime, HDAConvertFileTimeToVBDate.
BOOL VBDateToFileTime(const DATE *date, FILETIME *fileTime);
BOOL FileTimeToVBDate(const FILETIME *fileTime, DATE *date);

} // namespace zq
