#include "security/users.h"

#include <aclapi.h>

#include <memory>
#include <vector>

#include "addrspace/item_registry.h"
#include "runtime/guard.h"
#include "runtime/server_state.h"
#include "runtime/srw_guard.h"

namespace zq {

namespace {

SRWLOCK g_usersLock = SRWLOCK_INIT;
std::vector<std::unique_ptr<UserRecord>> g_users; // guarded by g_usersLock

constexpr size_t kNameLimit = 200;

// Names take part in a descriptor with at most 200 characters.
std::wstring WideName(const std::string &name)
{
    std::string cut = name.substr(0, kNameLimit);
    if (cut.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, cut.data(), static_cast<int>(cut.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, cut.data(), static_cast<int>(cut.size()), &w[0], n);
    return w;
}

// The explicit-access array lives in a movable global block, locked while in use.
class GlobalBlock
{
public:
    explicit GlobalBlock(SIZE_T size) : handle_(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size))
    {
        if (handle_ != nullptr)
            data_ = GlobalLock(handle_);
    }
    ~GlobalBlock()
    {
        if (data_ != nullptr)
            GlobalUnlock(handle_);
        if (handle_ != nullptr)
            GlobalFree(handle_);
    }
    GlobalBlock(const GlobalBlock &) = delete;
    GlobalBlock &operator=(const GlobalBlock &) = delete;
    void *Data() const { return data_; }

private:
    HGLOBAL handle_;
    void *data_ = nullptr;
};

} // namespace

UserRecord::UserRecord(std::string group, std::string user, DWORD rights)
    : group_(std::move(group)), user_(std::move(user)), rights_(rights)
{
}

UserRecord::~UserRecord()
{
    if (descriptor_ != nullptr)
        LocalFree(descriptor_);
}

// The descriptor is built through the wide form of BuildSecurityDescriptor,
// which behaves as the 8-bit one does (the names are converted from the ANSI
// code page).
DWORD UserRecord::BuildDescriptor()
{
    if (descriptor_ != nullptr) {
        LocalFree(descriptor_);
        descriptor_ = nullptr;
    }
    // An empty name names no account (a null pointer counts as empty).
    if (user_.empty() || group_.empty())
        return ERROR_INVALID_PARAMETER;
    // No rights: nothing to grant. (Some platforms build a descriptor without
    // a DACL for an entry that grants nothing, and such a descriptor would
    // grant every access to every caller.)
    if (rights_ == 0)
        return 0;
    GlobalBlock block(sizeof(EXPLICIT_ACCESS_W));
    auto *access = static_cast<EXPLICIT_ACCESS_W *>(block.Data());
    if (access == nullptr)
        return ERROR_OUTOFMEMORY;

    std::wstring userW = WideName(user_);
    std::wstring groupW = WideName(group_);
    access->grfAccessPermissions = rights_;
    access->grfAccessMode = GRANT_ACCESS;
    access->grfInheritance = NO_INHERITANCE;
    BuildTrusteeWithNameW(&access->Trustee, &userW[0]);
    TRUSTEE_W owner, group;
    wchar_t currentUser[] = L"CURRENT_USER";
    BuildTrusteeWithNameW(&owner, currentUser);
    BuildTrusteeWithNameW(&group, &groupW[0]);

    ULONG size = 0;
    PSECURITY_DESCRIPTOR sd = nullptr;
    SetLastError(ERROR_SUCCESS);
    DWORD err = BuildSecurityDescriptorW(&owner, &group, 1, access, 0, nullptr, nullptr, &size, &sd);
    if (err == ERROR_SUCCESS && sd != nullptr) {
        // Only a descriptor with a DACL restricts anything: never keep one
        // without (it would grant everyone everything).
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        if (GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) && present && dacl != nullptr) {
            descriptor_ = sd;
            return 0;
        }
        LocalFree(sd);
        return ERROR_INVALID_SECURITY_DESCR;
    }
    if (sd != nullptr)
        LocalFree(sd);
    DWORD last = GetLastError();
    return last != ERROR_SUCCESS ? last : (err != ERROR_SUCCESS ? err : ERROR_INVALID_PARAMETER);
}

bool FirstGrantingUser(HANDLE token, DWORD desired, std::string *user)
{
    GENERIC_MAPPING mapping = {1, 2, 0, 3};
    SrwShared hold(g_usersLock);
    const UserRecord *granting = nullptr;
    for (const auto &r : g_users) {
        if (r->Descriptor() == nullptr)
            continue;
        DWORD access = desired;
        MapGenericMask(&access, &mapping);
        BYTE privileges[20] = {};
        DWORD privilegesLength = sizeof privileges;
        DWORD granted = 0;
        BOOL status = FALSE;
        if (AccessCheck(r->Descriptor(), token, access, &mapping,
                        reinterpret_cast<PPRIVILEGE_SET>(privileges), &privilegesLength, &granted,
                        &status) &&
            status) {
            granting = r.get();
            break;
        }
    }
    if (granting == nullptr)
        return false;
    if (user != nullptr) {
        try {
            *user = granting->User();
        } catch (...) {
            return false;
        }
    }
    return true;
}

namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size() || a.size() > static_cast<size_t>(INT_MAX))
        return false;
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                          b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

} // namespace

bool NamedUserGranted(std::string_view name, DWORD desired)
{
    if (name.empty())
        return false;
    SrwShared hold(g_usersLock);
    for (const auto &r : g_users) {
        std::string_view account = r->User();
        const size_t slash = account.find_last_of('\\');
        if (!SameNameIgnoringCase(account, name) &&
            !(slash != std::string_view::npos && SameNameIgnoringCase(account.substr(slash + 1), name)))
            continue;
        if ((r->Rights() & desired) == desired)
            return true;
    }
    return false;
}

size_t UserCount()
{
    SrwShared hold(g_usersLock);
    return g_users.size();
}

void DeleteAllUsers(bool processExit)
{
    std::vector<std::unique_ptr<UserRecord>> old;
    // When the process ends, a thread stopped while holding the lock would
    // leave it held for ever: the records are then left to the system.
    SrwHold hold(g_usersLock);
    if (!hold.ExclusiveUnlessStuck(processExit))
        return;
    old.swap(g_users);
}

DWORD DefineUser(const char *group, const char *user, DWORD rights)
{
    return GuardedOr<DWORD>(ERROR_OUTOFMEMORY, [&]() -> DWORD {
        if ((rights & 0xFFFF) == 0)
            rights >>= 16;
        std::string groupName = group != nullptr ? group : "";
        std::string userName = user != nullptr ? user : "";
        auto record = std::make_unique<UserRecord>(groupName, userName, rights);
        // The descriptor is built before the list is locked: it may consult
        // the account database, which must not hold up clients' checks.
        DWORD result = record->BuildDescriptor();

        std::unique_ptr<UserRecord> replaced;
        SrwExclusive hold(g_usersLock);
        g_users.reserve(g_users.size() + 1);
        for (auto it = g_users.begin(); it != g_users.end(); ++it) {
            if ((*it)->Group() == groupName && (*it)->User() == userName) {
                replaced = std::move(*it);
                g_users.erase(it);
                break;
            }
        }
        // A redefined pair moves to the end of the list.
        g_users.push_back(std::move(record));
        return result;
    });
}

} // namespace zq
