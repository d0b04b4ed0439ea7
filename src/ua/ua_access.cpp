#include "ua/ua_access.h"

#include <new>
#include <string>

#include "addrspace/item_registry.h"
#include "runtime/server_state.h"
#include "security/access.h"
#include "ua/ua_convert.h"
#include "ua/ua_nodes.h"
#include "ua/ua_session.h"

namespace zq {

namespace {

// The stack's own activation, which the endpoint wraps (one endpoint per
// process, so one saved function).
decltype(UA_AccessControl::activateSession) g_activate = nullptr;
decltype(UA_AccessControl::closeSession) g_close = nullptr;

UA_StatusCode CheckLogin(const UA_String *userName, const UA_ByteString *password, size_t,
                         const UA_UsernamePasswordLogin *, void **sessionContext, void *)
{
    ZQHDA_UaUserCheckProc check = State().settings.uaUserCheck.load();
    std::string user, secret;
    if (check == nullptr || !AnsiFromUa(*userName, &user) || user.empty() ||
        !AnsiFromUa(*password, &secret))
        return UA_STATUSCODE_BADUSERACCESSDENIED;
    if (check(user.c_str(), secret.c_str()) == 0)
        return UA_STATUSCODE_BADUSERACCESSDENIED;
    UaUser *u = new (std::nothrow) UaUser();
    if (u == nullptr)
        return UA_STATUSCODE_BADOUTOFMEMORY;
    try {
        u->name = user;
    } catch (...) {
        delete u;
        return UA_STATUSCODE_BADOUTOFMEMORY;
    }
    *sessionContext = u;
    return UA_STATUSCODE_GOOD;
}

// A session activated again (another user, another channel) starts without
// the user it had: the context is the new identity's, and the old one is
// deleted once the new one is accepted.
UA_StatusCode Activate(UA_Server *server, UA_AccessControl *ac,
                       const UA_EndpointDescription *endpoint,
                       const UA_ByteString *certificate, const UA_NodeId *sessionId,
                       const UA_ExtensionObject *token, void **sessionContext)
{
    void *before = *sessionContext;
    *sessionContext = nullptr;
    UA_StatusCode status =
        g_activate(server, ac, endpoint, certificate, sessionId, token, sessionContext);
    if (status != UA_STATUSCODE_GOOD) {
        delete static_cast<UaUser *>(*sessionContext);
        *sessionContext = before;
        return status;
    }
    delete static_cast<UaUser *>(before);
    return status;
}

void Close(UA_Server *server, UA_AccessControl *ac, const UA_NodeId *sessionId,
           void *sessionContext)
{
    delete static_cast<UaUser *>(sessionContext);
    if (g_close != nullptr)
        g_close(server, ac, sessionId, nullptr);
}

// An item's variable: what the session's user may do with it.
UA_Byte UserAccessLevel(UA_Server *, UA_AccessControl *, const UA_NodeId *,
                        void *sessionContext, const UA_NodeId *nodeId, void *)
{
    std::string id;
    ItemInfo info;
    try {
        if (!ItemIdOfNode(*nodeId, &id) || !LookupItem(id, &info))
            return 0xFF;
        HandleEntry entry;
        const UaUser *user = static_cast<const UaUser *>(sessionContext);
        FillForNamedUser(user != nullptr ? user->name.c_str() : nullptr, info.readAccess,
                         info.writeAccess, entry);
        UA_Byte level = 0;
        if (entry.readAllowed)
            level |= UA_ACCESSLEVELMASK_READ | UA_ACCESSLEVELMASK_HISTORYREAD;
        if (entry.writeAllowed && user != nullptr && HostWritesHistory())
            level |= UA_ACCESSLEVELMASK_HISTORYWRITE;
        return level;
    } catch (...) {
        return 0;
    }
}

// The history services check the user's rights per item themselves.
UA_Boolean AllowUpdate(UA_Server *, UA_AccessControl *, const UA_NodeId *, void *,
                       const UA_NodeId *, UA_PerformUpdateType, const UA_DataValue *)
{
    return true;
}
UA_Boolean AllowDelete(UA_Server *, UA_AccessControl *, const UA_NodeId *, void *,
                       const UA_NodeId *, UA_DateTime, UA_DateTime, bool)
{
    return true;
}

} // namespace

UA_StatusCode InstallAccessControl(UA_ServerConfig *config, bool allowAnonymous)
{
    // A password over the policy None: the README says what that means.
    config->allowNonePolicyPassword = true;
    // The stack offers user names only when it holds a list of logins; the
    // check decides, so the one entry is never compared.
    UA_UsernamePasswordLogin unused;
    unused.username = UA_STRING_NULL;
    unused.password = UA_STRING_NULL;
    UA_StatusCode status = UA_AccessControl_defaultWithLoginCallback(
        config, allowAnonymous, nullptr, 1, &unused, CheckLogin, nullptr);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    UA_AccessControl &ac = config->accessControl;
    g_activate = ac.activateSession;
    g_close = ac.closeSession;
    ac.activateSession = Activate;
    ac.closeSession = Close;
    ac.getUserAccessLevel = UserAccessLevel;
    ac.allowHistoryUpdateUpdateData = AllowUpdate;
    ac.allowHistoryUpdateDeleteRawModified = AllowDelete;
    return UA_STATUSCODE_GOOD;
}

} // namespace zq
