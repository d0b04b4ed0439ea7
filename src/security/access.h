// Rights of the calling client: evaluated once per new handle entry, with
// the client's Windows identity, against the users the host defined.
#pragma once

#include <windows.h>

#include <string>

#include "runtime/handle_list.h"

namespace zq {

// Who is calling. The default asks COM about the current incoming call
// (CoImpersonateClient, CoQueryClientBlanket, the thread token); tests can
// install another one. Every failure means "not allowed" and "Unknown".
class CallerIdentity
{
public:
    virtual ~CallerIdentity() = default;
    // Makes the calling thread act as the client; false on failure.
    virtual bool Impersonate() = 0;
    // The impersonation level of the current call; false when unknown.
    virtual bool ImpersonationLevel(DWORD *level) = 0;
    // The calling thread's token opened for query (not as self), or null.
    virtual HANDLE OpenToken() = 0;
};

// Installs the identity used by later checks (null: the COM default).
// Returns the previous one (null for the default).
CallerIdentity *SetCallerIdentity(CallerIdentity *identity);

// The access decisions for the handle entries of one GetItemHandles call.
// With access control off every entry may read and write, as "Unknown".
// With it on, the caller is impersonated and its token opened once, on the
// first entry; each entry then gets the access check of the item's read and
// write words and the user name of the first user granting the write word.
// A caller whose level is below the minimum, whose token cannot be opened,
// or that is not a COM client at all, gets no rights and "Unknown"; it still
// receives its handles.
class AccessEvaluator
{
public:
    AccessEvaluator();
    ~AccessEvaluator();
    AccessEvaluator(const AccessEvaluator &) = delete;
    AccessEvaluator &operator=(const AccessEvaluator &) = delete;

    // Sets read allowed, write allowed and the user name of a new entry.
    void Fill(DWORD readAccess, DWORD writeAccess, HandleEntry &entry);

private:
    bool Prepare();

    bool secure_;
    bool prepared_ = false;
    HANDLE token_ = nullptr; // null when the caller cannot be evaluated
};

// The access decision for a user known by name (an OPC UA session), the
// item's two access words as DefineSecureHDAItem gave them. user null: an
// anonymous session. With access control off every session reads and only
// named users write; with it on, an anonymous session reads the items that
// require no read right and writes nothing, and a named user gets what the
// records naming it grant (NamedUserGranted). The entry's user name is the
// session's ("Unknown" for an anonymous one).
void FillForNamedUser(const char *user, DWORD readAccess, DWORD writeAccess, HandleEntry &entry);

} // namespace zq
