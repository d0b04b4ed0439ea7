#include "com/handle_list.h"

#include <cstring>

#include "runtime/srw_guard.h"

namespace zq {

namespace {
using Exclusive = SrwExclusive;
using Shared = SrwShared;
} // namespace

void HandleList::Add(HandleEntry entry)
{
    Exclusive lock(lock_);
    void *key = entry.itemHandle;
    std::vector<HandleEntry> &list = entries_[key];
    try {
        list.push_back(std::move(entry));
    } catch (...) {
        // Never leave an empty list behind: Find and Remove take its front.
        if (list.empty())
            entries_.erase(key);
        throw;
    }
    ++count_;
}

bool HandleList::Remove(void *itemHandle)
{
    Exclusive lock(lock_);
    auto it = entries_.find(itemHandle);
    if (it == entries_.end())
        return false;
    std::vector<HandleEntry> &list = it->second;
    list.erase(list.begin());
    if (list.empty())
        entries_.erase(it);
    --count_;
    return true;
}

bool HandleList::Find(void *itemHandle, HandleLookup *out, char *userName) const
{
    Shared lock(lock_);
    auto it = entries_.find(itemHandle);
    if (it == entries_.end())
        return false;
    const HandleEntry &e = it->second.front();
    if (out != nullptr) {
        out->clientHandle = e.clientHandle;
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
    Shared lock(lock_);
    return count_;
}

void HandleList::Clear()
{
    Exclusive lock(lock_);
    entries_.clear();
    count_ = 0;
}

} // namespace zq
