// The exports of the public header's section "Time conversion", in its order.
#include "ZqHDAsvr.h"

#include "history/time_resolution.h"
#include "history/vb_date.h"

extern "C" BOOL __stdcall HDAConvertVBDateToFileTime(const DATE *date, FILETIME *fileTime)
{
    return zq::VBDateToFileTime(date, fileTime);
}

extern "C" BOOL __stdcall HDAConvertFileTimeToVBDate(const FILETIME *fileTime, DATE *date)
{
    return zq::FileTimeToVBDate(fileTime, date);
}

extern "C" int __stdcall HDAResolveTime(const OPCHDA_TIME *time, const FILETIME *now,
                                        FILETIME *result)
{
    return zq::ResolveHostTime(time, now, result);
}
