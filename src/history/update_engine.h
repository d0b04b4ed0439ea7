// The update engine: one item's share of an OPC HDA update, and the
// capability query, handed to the host's callback object unchanged.
//
// The library does not interpret updates: without a callback object (a null
// host; the caller reads it once per request) every operation answers E_FAIL;
// otherwise the host's result is the item's result (OPC_S_INSERTED,
// OPC_E_DATAEXISTS, ... are the host's to return). No lock is taken; the
// functions are called from client threads and worker threads alike.
//
// user: the user name of the client's handle entry (null counts as empty).
// The host receives its own terminated copy, so the caller's buffer is
// never written.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstring>

#include "opchda.h"
#include "runtime/handle_list.h"
#include "ZqHDAsvr.h"

namespace zq {

// The user name as the host receives it: a terminated copy of at most
// kUserNameBuffer - 1 bytes (null counts as empty).
struct UserCopy
{
    explicit UserCopy(const char *user)
    {
        size_t n = user != nullptr ? strnlen(user, kUserNameBuffer - 1) : 0;
        if (n != 0)
            memcpy(text, user, n);
        text[n] = '\0';
    }
    char text[kUserNameBuffer];
};

// Capabilities the host supports; E_INVALIDARG for a null pointer.
HRESULT RunQueryCapabilities(CZqHDACallback *host, OPCHDA_UPDATECAPABILITIES *capabilities);

HRESULT RunInsert(CZqHDACallback *host, const char *user, void *item, const FILETIME &time, VARIANT *value,
                  DWORD quality);
HRESULT RunReplace(CZqHDACallback *host, const char *user, void *item, const FILETIME &time, VARIANT *value,
                   DWORD quality);
HRESULT RunInsertReplace(CZqHDACallback *host, const char *user, void *item, const FILETIME &time, VARIANT *value,
                         DWORD quality);
// The client's time records as they came, unresolved (a relative text stays
// text).
HRESULT RunDeleteRaw(CZqHDACallback *host, const char *user, void *item, OPCHDA_TIME *start, OPCHDA_TIME *end);
HRESULT RunDeleteAtTime(CZqHDACallback *host, const char *user, void *item, const FILETIME &time);

} // namespace zq
