#include "security/access.h"

#include <objbase.h>

#include <atomic>

#include "runtime/server_state.h"
#include "security/users.h"

namespace zq {

namespace {

class ComCallerIdentity final : public CallerIdentity
{
public:
    bool Impersonate() override { return SUCCEEDED(CoImpersonateClient()); }
    bool ImpersonationLevel(DWORD *level) override
    {
        return SUCCEEDED(CoQueryClientBlanket(nullptr, nullptr, nullptr, nullptr, level, nullptr,
                                              nullptr));
    }
    HANDLE OpenToken() override
    {
        HANDLE token = nullptr;
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token))
            return nullptr;
        return token;
    }
};

ComCallerIdentity g_comIdentity;
std::atomic<CallerIdentity *> g_identity{nullptr};

const char kUnknown[] = "Unknown";

} // namespace

CallerIdentity *SetCallerIdentity(CallerIdentity *identity) { return g_identity.exchange(identity); }

AccessEvaluator::AccessEvaluator() : secure_(State().settings.securitySwitch.load() != 0) {}

AccessEvaluator::~AccessEvaluator()
{
    // The impersonation itself is not ended here: it lasts until the client's
    // call returns.
    if (token_ != nullptr)
        CloseHandle(token_);
}

bool AccessEvaluator::Prepare()
{
    if (prepared_)
        return token_ != nullptr;
    prepared_ = true;
    CallerIdentity *id = g_identity.load();
    if (id == nullptr)
        id = &g_comIdentity;
    if (!id->Impersonate())
        return false;
    DWORD level = 0;
    if (!id->ImpersonationLevel(&level) || level < State().settings.minImpersonationLevel.load())
        return false;
    token_ = id->OpenToken();
    return token_ != nullptr;
}

void AccessEvaluator::Fill(DWORD readAccess, DWORD writeAccess, HandleEntry &entry)
{
    if (!secure_) {
        entry.readAllowed = TRUE;
        entry.writeAllowed = TRUE;
        entry.userName = kUnknown;
        return;
    }
    entry.readAllowed = FALSE;
    entry.writeAllowed = FALSE;
    entry.userName = kUnknown;
    if (!Prepare())
        return;
    // The required right is the upper half of the access word.
    entry.readAllowed = FirstGrantingUser(token_, readAccess >> 16, nullptr) ? TRUE : FALSE;
    std::string user;
    if (FirstGrantingUser(token_, writeAccess >> 16, &user)) {
        entry.writeAllowed = TRUE;
        entry.userName = user;
    }
}

void FillForNamedUser(const char *user, DWORD readAccess, DWORD writeAccess, HandleEntry &entry)
{
    const bool named = user != nullptr && *user != '\0';
    entry.userName = named ? user : kUnknown;
    if (State().settings.securitySwitch.load() == 0) {
        entry.readAllowed = TRUE;
        entry.writeAllowed = named ? TRUE : FALSE;
        return;
    }
    if (!named) {
        entry.readAllowed = (readAccess >> 16) == 0 ? TRUE : FALSE;
        entry.writeAllowed = FALSE;
        return;
    }
    entry.readAllowed = NamedUserGranted(user, readAccess >> 16) ? TRUE : FALSE;
    entry.writeAllowed = NamedUserGranted(user, writeAccess >> 16) ? TRUE : FALSE;
}

} // namespace zq
