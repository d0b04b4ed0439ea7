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
    auto it = entries_.find(entry.itemHandle);
    if (it == entries_.end()) {
        void *key = entry.itemHandle;
        entries_.emplace(key, Entries{std::move(entry), {}, 0}); // may throw: nothing changed
    } else {
        it->second.later.push_back(std::move(entry)); // may throw: nothing changed
    }
    ++count_;
}

bool HandleList::Remove(void *itemHandle)
{
    Exclusive lock(lock_);
    auto it = entries_.find(itemHandle);
    if (it == entries_.end())
        return false;
    Entries &e = it->second;
    if (e.next == e.later.size()) {
        entries_.erase(it);
    } else {
        e.oldest = std::move(e.later[e.next++]);
        if (e.next == e.later.size()) {
            std::vector<HandleEntry>().swap(e.later);
            e.next = 0;
        } else if (e.next * 2 > e.later.size()) {
            // Drop the taken front half; moving never throws for entries.
            e.later.erase(e.later.begin(), e.later.begin() + static_cast<ptrdiff_t>(e.next));
            e.next = 0;
        }
    }
    --count_;
    return true;
}

bool HandleList::Find(void *itemHandle, HandleLookup *out, char *userName) const
{
    Shared lock(lock_);
    auto it = entries_.find(itemHandle);
    if (it == entries_.end())
        return false;
    const HandleEntry &e = it->second.oldest;
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
