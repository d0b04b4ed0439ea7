// A client's handle list: one entry per registration of an item made by
// GetItemHandles, each under a server handle of its own, with the client
// handle, the rights and the user name fixed at that moment.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_map>

namespace zq {

struct HandleEntry
{
    DWORD clientHandle = 0;
    void *itemHandle = nullptr;
    BOOL readAllowed = FALSE;
    BOOL writeAllowed = FALSE;
    std::string userName;
};

// What a read or update request needs of an entry.
struct HandleLookup
{
    DWORD clientHandle = 0;
    void *itemHandle = nullptr;
    BOOL readAllowed = FALSE;
    BOOL writeAllowed = FALSE;
};

// Size of the buffer that receives an entry's user name (terminator included).
constexpr size_t kUserNameBuffer = 100;

// Server handles (32-bit OPCHANDLE values) name one entry each: they count
// up from 1 per client and are never 0 and never given twice, so a released
// handle stays unknown and two registrations of one item never stand for
// each other. Lookups by server handle take constant time on average.
//
// GetItemHandles/ReleaseItemHandles of a client may run on one thread while
// its reads and updates look entries up on others: a reader-writer lock
// guards the map and the counter.
class HandleList
{
public:
    HandleList() = default;
    HandleList(const HandleList &) = delete;
    HandleList &operator=(const HandleList &) = delete;

    // Adds the entry under a new server handle and returns that handle; 0
    // when the client has used up every server handle. May throw
    // std::bad_alloc: the list is then unchanged and no handle is used up.
    DWORD Add(HandleEntry entry);
    // Adds the entry under the given server handle: false (nothing added)
    // when the handle is 0 or in use. Handles given by Add afterwards lie
    // beyond it. May throw std::bad_alloc (the list is then unchanged).
    bool Insert(DWORD serverHandle, HandleEntry entry);
    // Removes the entry of that server handle; false if there is none.
    bool Remove(DWORD serverHandle);
    // The entry of that server handle: false if there is none. When
    // userName is given (kUserNameBuffer bytes) it receives the entry's user
    // name, cut to fit and always terminated.
    bool Find(DWORD serverHandle, HandleLookup *out, char *userName = nullptr) const;
    size_t Size() const;
    void Clear();

private:
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::unordered_map<DWORD, HandleEntry> entries_;
    DWORD next_ = 1; // the next server handle; 0 once all are used up
};

} // namespace zq
