// A client's handle list: one entry per item handle handed to the client by
// GetItemHandles, with the rights and user name fixed at that moment.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_map>
#include <vector>

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
    BOOL readAllowed = FALSE;
    BOOL writeAllowed = FALSE;
};

// Size of the buffer that receives an entry's user name (terminator included).
constexpr size_t kUserNameBuffer = 100;

// Entries are kept per item handle in the order they were added, so the
// oldest entry for a handle is found and removed first, in constant time on
// average. GetItemHandles/ReleaseItemHandles of a client may run on one
// thread while its reads look entries up on others: a reader-writer lock
// guards the map.
class HandleList
{
public:
    HandleList() = default;
    HandleList(const HandleList &) = delete;
    HandleList &operator=(const HandleList &) = delete;

    // Appends an entry (may throw std::bad_alloc; the list is then unchanged).
    void Add(HandleEntry entry);
    // Removes the oldest entry with that item handle; false if there is none.
    bool Remove(void *itemHandle);
    // The oldest entry with that item handle: false if there is none. When
    // userName is given (kUserNameBuffer bytes) it receives the entry's user
    // name, cut to fit and always terminated.
    bool Find(void *itemHandle, HandleLookup *out, char *userName = nullptr) const;
    size_t Size() const;
    void Clear();

private:
    // The entries of one item handle: the oldest in place (almost always the
    // only one, so most handles cost no block of their own), later ones in a
    // queue that is read from its front index, so that taking the oldest of
    // many never moves the others one by one.
    struct Entries
    {
        HandleEntry oldest;
        std::vector<HandleEntry> later;
        size_t next = 0; // index of the oldest entry still in later
    };

    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::unordered_map<void *, Entries> entries_;
    size_t count_ = 0;
};

} // namespace zq
