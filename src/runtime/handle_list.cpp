#include "runtime/handle_list.h"

#include <cstring>

#include "runtime/srw_guard.h"

namespace zq {

DWORD HandleList::Add(HandleEntry entry)
{
    SrwExclusive lock(lock_);
    if (next_ == 0)
        return 0;
    const DWORD handle = next_;
    entries_.emplace(handle, std::move(entry)); // may throw: nothing changed
    ++next_; // wraps to 0 after the last handle: none left
    return handle;
}

bool HandleList::Insert(DWORD serverHandle, HandleEntry entry)
{
    SrwExclusive lock(lock_);
    if (serverHandle == 0 || entries_.count(serverHandle) != 0)
        return false;
    entries_.emplace(serverHandle, std::move(entry)); // may throw: nothing changed
    if (next_ != 0 && serverHandle >= next_)
        next_ = serverHandle + 1;
    return true;
}

bool HandleList::Remove(DWORD serverHandle)
{
    SrwExclusive lock(lock_);
    return entries_.erase(serverHandle) != 0;
}

bool HandleList::Find(DWORD serverHandle, HandleLookup *out, char *userName) const
{
    SrwShared lock(lock_);
    auto it = entries_.find(serverHandle);
    if (it == entries_.end())
        return false;
    const HandleEntry &e = it->second;
    if (out != nullptr) {
        out->clientHandle = e.clientHandle;
        out->itemHandle = e.itemHandle;
        out->readAllowed = e.readAllowed;
        out->writeAllowed = e.writeAllowed;
    }
    if (userName != nullptr) {
        size_t n = e.userName.size() < kUserNameBuffer - 1 ? e.userName.size() : kUserNameBuffer - 1;
        memcpy(userName, e.userName.data(), n);
        userName[n] = '\0';
    }
    return true;
}

size_t HandleList::Size() const
{
    SrwShared lock(lock_);
    return entries_.size();
}

void HandleList::Clear()
{
    SrwExclusive lock(lock_);
    entries_.clear();
}

} // namespace zq
