#include "history/update_engine.h"

#include <cstring>

#include "com/handle_list.h"
#include "runtime/server_state.h"

namespace zq {

namespace {

using ValueUpdate = long (CZqHDACallback::*)(char *, void *, FILETIME, VARIANT *, unsigned long);

HRESULT RunValueUpdate(ValueUpdate method, const char *user, void *item, const FILETIME &time,
                       VARIANT *value, DWORD quality)
{
    CZqHDACallback *host = State().callback.load();
    if (host == nullptr)
        return E_FAIL;
    UserCopy name(user);
    return (host->*method)(name.text, item, time, value, quality);
}

} // namespace

HRESULT RunQueryCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities)
{
    if (capabilities == nullptr)
        return E_INVALIDARG;
    CZqHDACallback *host = State().callback.load();
    if (host == nullptr)
        return E_FAIL;
    return host->QueryUpdateCapabilities(capabilities);
}

HRESULT RunInsert(const char *user, void *item, const FILETIME &time, VARIANT *value,
                  DWORD quality)
{
    return RunValueUpdate(&CZqHDACallback::Insert, user, item, time, value, quality);
}

HRESULT RunReplace(const char *user, void *item, const FILETIME &time, VARIANT *value,
                   DWORD quality)
{
    return RunValueUpdate(&CZqHDACallback::Replace, user, item, time, value, quality);
}

HRESULT RunInsertReplace(const char *user, void *item, const FILETIME &time, VARIANT *value,
                         DWORD quality)
{
    return RunValueUpdate(&CZqHDACallback::InsertReplace, user, item, time, value, quality);
}

HRESULT RunDeleteRaw(const char *user, void *item, OPCHDA_TIME *start, OPCHDA_TIME *end)
{
    CZqHDACallback *host = State().callback.load();
    if (host == nullptr)
        return E_FAIL;
    UserCopy name(user);
    return host->DeleteRaw(name.text, item, start, end);
}

HRESULT RunDeleteAtTime(const char *user, void *item, const FILETIME &time)
{
    CZqHDACallback *host = State().callback.load();
    if (host == nullptr)
        return E_FAIL;
    UserCopy name(user);
    return host->DeleteAtTime(name.text, item, time);
}

} // namespace zq
