// The exports of the public header's section "Client access control", in its
// order.
#include "ZqHDAsvr.h"

#include "addrspace/item_registry.h"
#include "runtime/server_state.h"
#include "security/users.h"

extern "C" int __stdcall EnableHDASecurity(int enable, DWORD minimumImpersonationLevel)
{
    zq::State().settings.minImpersonationLevel = minimumImpersonationLevel;
    zq::State().settings.securitySwitch = enable;
    return 1;
}

extern "C" DWORD __stdcall DefineHDAUser(const char *group, const char *user, DWORD rights)
{
    return zq::DefineUser(group, user, rights);
}

extern "C" void *__stdcall DefineSecureHDAItem(const char *itemId, DWORD readAccess,
                                               DWORD writeAccess)
{
    return zq::AddItem(itemId, readAccess, writeAccess);
}
