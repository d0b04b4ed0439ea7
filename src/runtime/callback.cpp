// CZqHDACallback: the default behaviour of every host callback method, which
// forwards to the plain callback installed for it (runtime/callback.h).
#include "runtime/callback.h"

#include "opchda_constants.h"

#include <atomic>

namespace {

// The plain callbacks, in the host's settings.
zq::HostSettings::PlainCallbacks &Plain() { return zq::State().settings.plain; }

} // namespace

// The result variable is preset to the method's default, so a plain callback
// that returns without storing a result yields the default, not garbage.

CZqHDACallback::CZqHDACallback() {}
CZqHDACallback::CZqHDACallback(const CZqHDACallback &) {}
CZqHDACallback &CZqHDACallback::operator=(const CZqHDACallback &) { return *this; }
CZqHDACallback::~CZqHDACallback() {}

int CZqHDACallback::GetTimeStamps(void *hItem, FILETIME *start, FILETIME *end, int maxCount,
                                  FILETIME *times, ULONG_PTR *)
{
    ZQHDA_GetTimeStampsProc fn = Plain().getTimeStamps.load();
    if (fn == nullptr)
        return 0;
    int result = 0;
    fn(hItem, start, end, maxCount, times, &result);
    return result;
}

long CZqHDACallback::GetPreviousTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                                          ULONG_PTR)
{
    ZQHDA_GetPreviousTimeStampProc fn = Plain().getPrevious.load();
    long result = OPC_S_NODATA;
    if (fn != nullptr)
        fn(hItem, time, stamp, &result);
    return result;
}

long CZqHDACallback::GetNextTimeStamp(void *hItem, FILETIME time, FILETIME *stamp, ULONG_PTR)
{
    ZQHDA_GetNextTimeStampProc fn = Plain().getNext.load();
    long result = OPC_S_NODATA;
    if (fn != nullptr)
        fn(hItem, time, stamp, &result);
    return result;
}

long CZqHDACallback::ReadAt(void *hItem, FILETIME time, VARIANT *value, unsigned long *quality,
                            ULONG_PTR)
{
    ZQHDA_ReadAtProc fn = Plain().readAt.load();
    long result = OPC_S_NODATA;
    if (fn != nullptr)
        fn(hItem, time, value, quality, &result);
    return result;
}

long CZqHDACallback::ReadCurrentAttribute(void *hItem, unsigned long attributeId,
                                          FILETIME *stamp, VARIANT *value)
{
    ZQHDA_ReadCurrentAttributeProc fn = Plain().readCurrentAttribute.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(hItem, attributeId, stamp, value, &result);
    return result;
}

long CZqHDACallback::ReadAttributeAt(void *hItem, unsigned long attributeId, FILETIME time,
                                     VARIANT *value, ULONG_PTR)
{
    ZQHDA_ReadAttributeAtProc fn = Plain().readAttributeAt.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(hItem, attributeId, time, value, &result);
    return result;
}

int CZqHDACallback::PrepareAggregates(void *hItem, unsigned long aggregateId, FILETIME start,
                                      FILETIME end, FILETIME resampleInterval, ULONG_PTR *)
{
    ZQHDA_PrepareAggregatesProc fn = Plain().prepareAggregates.load();
    int result = 0;
    if (fn != nullptr)
        fn(hItem, aggregateId, start, end, resampleInterval, &result);
    return result;
}

long CZqHDACallback::ReadProcessed(void *hItem, unsigned long aggregateId,
                                   FILETIME *intervalStart, FILETIME *intervalEnd,
                                   VARIANT *value, unsigned long *quality, ULONG_PTR)
{
    ZQHDA_ReadProcessedProc fn = Plain().readProcessed.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(hItem, aggregateId, intervalStart, intervalEnd, value, quality, &result);
    return result;
}

long CZqHDACallback::QueryUpdateCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities)
{
    ZQHDA_QueryUpdateCapabilitiesProc fn = Plain().queryCapabilities.load();
    if (fn == nullptr) {
        if (capabilities != nullptr)
            *capabilities = static_cast<OPCHDA_UPDATECAPABILITIES>(0);
        return S_OK;
    }
    OPCHDA_UPDATECAPABILITIES temp = static_cast<OPCHDA_UPDATECAPABILITIES>(0);
    long result = S_OK;
    fn(&temp, &result);
    if (capabilities != nullptr)
        *capabilities = temp;
    return result;
}

namespace {
long CallUpdate(const std::atomic<ZQHDA_UpdateProc> &slot, char *user, void *hItem,
                FILETIME time, VARIANT *value, unsigned long quality)
{
    ZQHDA_UpdateProc fn = slot.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(user, hItem, time, value, quality, &result);
    return result;
}
} // namespace

long CZqHDACallback::Insert(char *user, void *hItem, FILETIME time, VARIANT *value,
                            unsigned long quality)
{
    return CallUpdate(Plain().insert, user, hItem, time, value, quality);
}

long CZqHDACallback::Replace(char *user, void *hItem, FILETIME time, VARIANT *value,
                             unsigned long quality)
{
    return CallUpdate(Plain().replace, user, hItem, time, value, quality);
}

long CZqHDACallback::InsertReplace(char *user, void *hItem, FILETIME time, VARIANT *value,
                                   unsigned long quality)
{
    return CallUpdate(Plain().insertReplace, user, hItem, time, value, quality);
}

long CZqHDACallback::DeleteRaw(char *user, void *hItem, OPCHDA_TIME *start, OPCHDA_TIME *end)
{
    ZQHDA_DeleteRawProc fn = Plain().deleteRaw.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(user, hItem, start, end, &result);
    return result;
}

long CZqHDACallback::DeleteAtTime(char *user, void *hItem, FILETIME time)
{
    ZQHDA_DeleteAtTimeProc fn = Plain().deleteAtTime.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(user, hItem, time, &result);
    return result;
}
