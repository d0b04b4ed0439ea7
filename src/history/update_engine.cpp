#include "history/update_engine.h"

#include <cstring>

#include "runtime/handle_list.h"

namespace zq {

namespace {

using ValueUpdate = long (CZqHDACallback::*)(char *, void *, FILETIME, VARIANT *, unsigned long);

HRESULT RunValueUpdate(CZqHDACallback *host, ValueUpdate method, const char *user, void *item, const FILETIME &time,
                       VARIANT *value, DWORD quality)
{
    if (host == nullptr)
        return E_FAIL;
    UserCopy name(user);
    return (host->*method)(name.text, item, time, value, quality);
}

} // namespace

HRESULT RunQueryCapabilities(CZqHDACallback *host, OPCHDA_UPDATECAPABILITIES *capabilities)
{
    if (capabilities == nullptr)
        return E_INVALIDARG;
    if (host == nullptr)
        return E_FAIL;
    return host->QueryUpdateCapabilities(capabilities);
}

HRESULT RunInsert(CZqHDACallback *host, const char *user, void *item, const FILETIME &time, VARIANT *value,
                  DWORD quality)
{
    return RunValueUpdate(host, &CZqHDACallback::Insert, user, item, time, value, quality);
}

HRESULT RunReplace(CZqHDACallback *host, const char *user, void *item, const FILETIME &time, VARIANT *value,
                   DWORD quality)
{
    return RunValueUpdate(host, &CZqHDACallback::Replace, user, item, time, value, quality);
}

HRESULT RunInsertReplace(CZqHDACallback *host, const char *user, void *item, const FILETIME &time, VARIANT *value,
                         DWORD quality)
{
    return RunValueUpdate(host, &CZqHDACallback::InsertReplace, user, item, time, value, quality);
}

HRESULT RunDeleteRaw(CZqHDACallback *host, const char *user, void *item, OPCHDA_TIME *start, OPCHDA_TIME *end)
{
    if (host == nullptr)
        return E_FAIL;
    UserCopy name(user);
    return host->DeleteRaw(name.text, item, start, end);
}

HRESULT RunDeleteAtTime(CZqHDACallback *host, const char *user, void *item, const FILETIME &time)
{
    if (host == nullptr)
        return E_FAIL;
    UserCopy name(user);
    return host->DeleteAtTime(name.text, item, time);
}

} // namespace zq
