#include "history/vb_date.h"

#include <oleauto.h>

#include <cmath>

namespace zq {

BOOL VBDateToFileTime(const DATE *date, FILETIME *fileTime)
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

BOOL FileTimeToVBDate(const FILETIME *fileTime, DATE *date)
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

} // namespace zq
