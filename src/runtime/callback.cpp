// CZqHDACallback: the default behaviour of every host callback method, the
// plain callbacks it forwards to, and the exports that install either kind.
#include "runtime/server_state.h"

#include "opchda_constants.h"

#include <atomic>

namespace {

// The fourteen plain callbacks; null when the module loads. Single pointer
// writes: the host installs them while setting up, the engines read them at
// every call.
std::atomic<ZQHDA_GetTimeStampsProc> g_getTimeStamps{nullptr};
std::atomic<ZQHDA_GetPreviousTimeStampProc> g_getPrevious{nullptr};
std::atomic<ZQHDA_GetNextTimeStampProc> g_getNext{nullptr};
std::atomic<ZQHDA_ReadAtProc> g_readAt{nullptr};
std::atomic<ZQHDA_ReadCurrentAttributeProc> g_readCurrentAttribute{nullptr};
std::atomic<ZQHDA_ReadAttributeAtProc> g_readAttributeAt{nullptr};
std::atomic<ZQHDA_PrepareAggregatesProc> g_prepareAggregates{nullptr};
std::atomic<ZQHDA_ReadProcessedProc> g_readProcessed{nullptr};
std::atomic<ZQHDA_QueryUpdateCapabilitiesProc> g_queryCapabilities{nullptr};
std::atomic<ZQHDA_UpdateProc> g_insert{nullptr};
std::atomic<ZQHDA_UpdateProc> g_replace{nullptr};
std::atomic<ZQHDA_UpdateProc> g_insertReplace{nullptr};
std::atomic<ZQHDA_DeleteRawProc> g_deleteRaw{nullptr};
std::atomic<ZQHDA_DeleteAtTimeProc> g_deleteAtTime{nullptr};

// Stores a plain callback; a non-null one makes the default callback object
// the one the engines use.
template <typename P> int Install(std::atomic<P> &slot, P proc)
{
    slot = proc;
    if (proc != nullptr)
        zq::State().callback = &zq::State().defaultCallback;
    return 1;
}

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
    ZQHDA_GetTimeStampsProc fn = g_getTimeStamps.load();
    if (fn == nullptr)
        return 0;
    int result = 0;
    fn(hItem, start, end, maxCount, times, &result);
    return result;
}

long CZqHDACallback::GetPreviousTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                                          ULONG_PTR)
{
    ZQHDA_GetPreviousTimeStampProc fn = g_getPrevious.load();
    long result = OPC_S_NODATA;
    if (fn != nullptr)
        fn(hItem, time, stamp, &result);
    return result;
}

long CZqHDACallback::GetNextTimeStamp(void *hItem, FILETIME time, FILETIME *stamp, ULONG_PTR)
{
    ZQHDA_GetNextTimeStampProc fn = g_getNext.load();
    long result = OPC_S_NODATA;
    if (fn != nullptr)
        fn(hItem, time, stamp, &result);
    return result;
}

long CZqHDACallback::ReadAt(void *hItem, FILETIME time, VARIANT *value, unsigned long *quality,
                            ULONG_PTR)
{
    ZQHDA_ReadAtProc fn = g_readAt.load();
    long result = OPC_S_NODATA;
    if (fn != nullptr)
        fn(hItem, time, value, quality, &result);
    return result;
}

long CZqHDACallback::ReadCurrentAttribute(void *hItem, unsigned long attributeId,
                                          FILETIME *stamp, VARIANT *value)
{
    ZQHDA_ReadCurrentAttributeProc fn = g_readCurrentAttribute.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(hItem, attributeId, stamp, value, &result);
    return result;
}

long CZqHDACallback::ReadAttributeAt(void *hItem, unsigned long attributeId, FILETIME time,
                                     VARIANT *value, ULONG_PTR)
{
    ZQHDA_ReadAttributeAtProc fn = g_readAttributeAt.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(hItem, attributeId, time, value, &result);
    return result;
}

int CZqHDACallback::PrepareAggregates(void *hItem, unsigned long aggregateId, FILETIME start,
                                      FILETIME end, FILETIME resampleInterval, ULONG_PTR *)
{
    ZQHDA_PrepareAggregatesProc fn = g_prepareAggregates.load();
    int result = 0;
    if (fn != nullptr)
        fn(hItem, aggregateId, start, end, resampleInterval, &result);
    return result;
}

long CZqHDACallback::ReadProcessed(void *hItem, unsigned long aggregateId,
                                   FILETIME *intervalStart, FILETIME *intervalEnd,
                                   VARIANT *value, unsigned long *quality, ULONG_PTR)
{
    ZQHDA_ReadProcessedProc fn = g_readProcessed.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(hItem, aggregateId, intervalStart, intervalEnd, value, quality, &result);
    return result;
}

long CZqHDACallback::QueryUpdateCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities)
{
    ZQHDA_QueryUpdateCapabilitiesProc fn = g_queryCapabilities.load();
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
    return CallUpdate(g_insert, user, hItem, time, value, quality);
}

long CZqHDACallback::Replace(char *user, void *hItem, FILETIME time, VARIANT *value,
                             unsigned long quality)
{
    return CallUpdate(g_replace, user, hItem, time, value, quality);
}

long CZqHDACallback::InsertReplace(char *user, void *hItem, FILETIME time, VARIANT *value,
                                   unsigned long quality)
{
    return CallUpdate(g_insertReplace, user, hItem, time, value, quality);
}

long CZqHDACallback::DeleteRaw(char *user, void *hItem, OPCHDA_TIME *start, OPCHDA_TIME *end)
{
    ZQHDA_DeleteRawProc fn = g_deleteRaw.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(user, hItem, start, end, &result);
    return result;
}

long CZqHDACallback::DeleteAtTime(char *user, void *hItem, FILETIME time)
{
    ZQHDA_DeleteAtTimeProc fn = g_deleteAtTime.load();
    long result = E_FAIL;
    if (fn != nullptr)
        fn(user, hItem, time, &result);
    return result;
}

extern "C" int __stdcall SetHDAServerCallback(CZqHDACallback *callback)
{
    zq::State().callback = callback;
    return 1;
}

// Each Enable...Callback export installs one plain callback in its slot.
#define ZQ_ENABLE_CALLBACK(Export, Proc, slot)                                                   \
    extern "C" int __stdcall Export(Proc p) { return Install(slot, p); }

ZQ_ENABLE_CALLBACK(EnableGetTimeStampCallback, ZQHDA_GetTimeStampsProc, g_getTimeStamps)
ZQ_ENABLE_CALLBACK(EnableGetPreviousTimeStampCallback, ZQHDA_GetPreviousTimeStampProc,
                   g_getPrevious)
ZQ_ENABLE_CALLBACK(EnableGetNextTimeStampCallback, ZQHDA_GetNextTimeStampProc, g_getNext)
ZQ_ENABLE_CALLBACK(EnableReadAtCallback, ZQHDA_ReadAtProc, g_readAt)
ZQ_ENABLE_CALLBACK(EnableReadCurrentAttributeCallback, ZQHDA_ReadCurrentAttributeProc,
                   g_readCurrentAttribute)
ZQ_ENABLE_CALLBACK(EnableReadAttributeAtCallback, ZQHDA_ReadAttributeAtProc, g_readAttributeAt)
ZQ_ENABLE_CALLBACK(EnablePrepareAggregatesCallback, ZQHDA_PrepareAggregatesProc,
                   g_prepareAggregates)
ZQ_ENABLE_CALLBACK(EnableReadProcessedCallback, ZQHDA_ReadProcessedProc, g_readProcessed)
ZQ_ENABLE_CALLBACK(EnableQueryUpdateCapabilitiesCallback, ZQHDA_QueryUpdateCapabilitiesProc,
                   g_queryCapabilities)
ZQ_ENABLE_CALLBACK(EnableInsertCallback, ZQHDA_UpdateProc, g_insert)
ZQ_ENABLE_CALLBACK(EnableReplaceCallback, ZQHDA_UpdateProc, g_replace)
ZQ_ENABLE_CALLBACK(EnableInsertReplaceCallback, ZQHDA_UpdateProc, g_insertReplace)
ZQ_ENABLE_CALLBACK(EnableDeleteRawCallback, ZQHDA_DeleteRawProc, g_deleteRaw)
ZQ_ENABLE_CALLBACK(EnableDeleteAtCallback, ZQHDA_DeleteAtTimeProc, g_deleteAtTime)

#undef ZQ_ENABLE_CALLBACK
