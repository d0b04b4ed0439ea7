// A caller identity for tests: the calling thread impersonates a token of the
// test's choosing (its own account through ImpersonateSelf) and reports a
// chosen impersonation level.
#pragma once

#include <windows.h>

#include "security/access.h"

namespace zqtest {

class TestIdentity : public zq::CallerIdentity
{
public:
    DWORD level = 3; // RPC_C_IMP_LEVEL_IMPERSONATE
    bool failImpersonation = false;
    bool failLevel = false;
    bool failToken = false;

    TestIdentity() { previous_ = zq::SetCallerIdentity(this); }
    ~TestIdentity() override
    {
        zq::SetCallerIdentity(previous_);
        RevertToSelf();
    }

    bool Impersonate() override
    {
        return !failImpersonation && ImpersonateSelf(SecurityImpersonation) != FALSE;
    }
    bool ImpersonationLevel(DWORD *out) override
    {
        if (failLevel)
            return false;
        *out = level;
        return true;
    }
    HANDLE OpenToken() override
    {
        HANDLE token = nullptr;
        if (failToken || !OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token))
            return nullptr;
        return token;
    }

private:
    zq::CallerIdentity *previous_;
};

} // namespace zqtest
