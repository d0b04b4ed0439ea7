// OLE Automation dates (DATE) <-> UTC FILETIMEs for the host. The date's
// clock time is taken as UTC; no time zone is applied. Resolution and range
// are those of the platform conversions (whole seconds; years 1601 to 9999).
// When a conversion refuses its input the output is zeroed and FALSE returned.
// A DATE that is not a finite number is refused here: the platform may turn
// it into some arbitrary day.
#include <windows.h>
#include <oleauto.h>

#include <cmath>

#include "ZqHDAsvr.h"

extern "C" BOOL __stdcall HDAConvertVBDateToFileTime(const DATE *date, FILETIME *fileTime)
{
    if (fileTime == nullptr)
        return FALSE;
    SYSTEMTIME st;
    if (date != nullptr && std::isfinite(*date) && VariantTimeToSystemTime(*date, &st) &&
        SystemTimeToFileTime(&st, fileTime))
        return TRUE;
    *fileTime = FILETIME{};
    return FALSE;
}

extern "C" BOOL __stdcall HDAConvertFileTimeToVBDate(const FILETIME *fileTime, DATE *date)
{
    if (date == nullptr)
        return FALSE;
    SYSTEMTIME st;
    if (fileTime != nullptr && FileTimeToSystemTime(fileTime, &st) &&
        SystemTimeToVariantTime(&st, date))
        return TRUE;
    *date = 0;
    return FALSE;
}
