// Client access control: the users the host defined, each with a Windows
// security descriptor that grants one account a set of rights.
//
// The host may define users while clients obtain item handles: a
// reader-writer lock guards the list (definitions exclusive, checks shared).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace zq {

// One DefineHDAUser definition in force.
class UserRecord
{
public:
    UserRecord(std::string group, std::string user, DWORD rights);
    virtual ~UserRecord();
    UserRecord(const UserRecord &) = delete;
    UserRecord &operator=(const UserRecord &) = delete;

    const std::string &Group() const { return group_; }
    const std::string &User() const { return user_; }
    DWORD Rights() const { return rights_; }
    // Self-relative descriptor, or null when it could not be built.
    PSECURITY_DESCRIPTOR Descriptor() const { return descriptor_; }

    // Builds the descriptor: owner "CURRENT_USER", the group, one grant entry
    // for the user. 0 on success, else a Windows error code.
    DWORD BuildDescriptor();

private:
    std::string group_;
    std::string user_;
    DWORD rights_;
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// The first user record, in definition order, whose descriptor grants the
// desired access (already mapped) to the token. True if there is one; its
// user name is then copied to *user when user is given.
bool FirstGrantingUser(HANDLE token, DWORD desired, std::string *user);

// The same decision for a user known by name only (an OPC UA session whose
// user name and password the host accepted): true when a record names that
// account, as "name" or as "DOMAIN\\name" (letter case aside), and its
// rights include every bit of desired (0x1 read, 0x2 write).
bool NamedUserGranted(std::string_view name, DWORD desired);

// Number of user records (for tests and diagnostics).
size_t UserCount();

// Deletes every user record (module unload; processExit: the process is
// ending and no other thread runs).
void DeleteAllUsers(bool processExit = false);

// DefineHDAUser: grants the account the rights (given in the upper 16 bits:
// shifted down), replacing an earlier record of the same pair. 0 on success,
// else a Windows error code (the record then grants nothing).
DWORD DefineUser(const char *group, const char *user, DWORD rights);

} // namespace zq
