// The item tree: items defined by the host, found by item ID.
//
// Every record of the tree is an ItemRecord. The root node has no name; below
// it, a record made for a defined item is named by the complete item ID, and a
// branch record made on the way to it is named by the one element of the path
// that it stands for. A record is a branch exactly when it has children, so a
// defined item becomes a branch when later IDs continue its ID.
//
// Children are kept in the order they were added and found through indexes
// by name and by browse name (child_index.h), so a lookup costs the same in a
// branch of ten children and in one of a million; the answers are those of a
// scan of the children in their order.
//
// Locking: the tree is guarded by a reader-writer lock. The host's define and
// delete calls take it exclusively; client threads read under it shared, either
// through LookupItem or through a TreeReader. Records are never handed out
// beyond the lock: an ItemRecord reference is only valid while the TreeReader
// that produced it is alive. The lock is not recursive: a thread that holds a
// TreeReader must not create a second one, nor call any other function of this
// file, before the first is destroyed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/srw_guard.h"

namespace zq {

// The handle that stands for no item: all bits set.
inline void *NoItemHandle() { return reinterpret_cast<void *>(static_cast<uintptr_t>(-1)); }

// What client functions need of one item; copied out under the lock.
struct ItemInfo
{
    void *handle = nullptr;  // the opaque item handle (never -1, never 0)
    DWORD readAccess = 0;    // read access word
    DWORD writeAccess = 0;   // write access word
};

class ItemRecord
{
public:
    ItemRecord(const ItemRecord &) = delete;
    ItemRecord &operator=(const ItemRecord &) = delete;
    // The complete item ID (defined item), the element (branch record) or
    // empty (root node).
    std::string_view Name() const { return std::string_view(name_, nameLength_); }
    void *Handle() const { return handle_; }
    DWORD ReadAccess() const { return readAccess_; }
    DWORD WriteAccess() const { return writeAccess_; }
    bool IsBranch() const { return firstChild_ != nullptr; }
    // True for a record made for a defined item, false for a branch record
    // made on the way to one (and for the root node).
    bool IsDefinedItem() const { return definedItem_; }
    size_t ChildCount() const { return childCount_; }
    // Children in the order they were added: the first child, then each
    // child's next sibling; null after the last.
    const ItemRecord *FirstChild() const { return firstChild_; }
    const ItemRecord *NextSibling() const { return nextSibling_; }
    const ItemRecord *Parent() const { return parent_; }

private:
    friend class ItemTree;
    friend class ChildIndex;
    ItemRecord(ItemRecord *parent, const char *name, size_t nameLength, DWORD readAccess,
               DWORD writeAccess, bool definedItem);
    ~ItemRecord() = default;
    // A record and its name in one block (fewer blocks, and the name is next
    // to the record when an index compares it). Throws std::bad_alloc.
    static ItemRecord *Create(ItemRecord *parent, std::string_view name, DWORD readAccess,
                              DWORD writeAccess, bool definedItem);
    // Deletes a record made by Create (not its children).
    static void Destroy(ItemRecord *record) noexcept;

    // Children form a doubly linked list, so that a child leaves it in
    // constant time and the others keep their order.
    ItemRecord *parent_;
    ItemRecord *firstChild_ = nullptr;
    ItemRecord *lastChild_ = nullptr;
    ItemRecord *prevSibling_ = nullptr;
    ItemRecord *nextSibling_ = nullptr;
    // The next sibling (in child order) with the same name / the same
    // browse name, as the tree's indexes chain them.
    ItemRecord *nextSameName_ = nullptr;
    ItemRecord *nextSameBrowseName_ = nullptr;
    size_t childCount_ = 0;
    // Where the browse name starts in name_, under the qualifier that the
    // browse-name index was made for.
    size_t browseStart_ = 0;
    DWORD readAccess_;
    DWORD writeAccess_;
    const char *name_; // terminated; stored right after the record
    size_t nameLength_;
    void *handle_ = nullptr;
    bool definedItem_;
};

// --- Splitting item IDs ----------------------------------------------------
//
// The elements of an item ID are the pieces between occurrences of the
// qualifier byte. The search for the qualifier steps over the double-byte
// characters of the code page, so the trail byte of a double-byte character
// never splits an ID. A trailing qualifier adds no element; the empty ID has
// no element: with '.', "A.B.C" -> A, B, C; "A.B." -> A, B; "A..B" -> A, "",
// B; ".A" -> "", A. codePage CP_ACP means the process's ANSI code page.

// Steps through the elements of an ID without copying: views into the text.
class ElementCursor
{
public:
    ElementCursor(std::string_view id, char qualifier, UINT codePage);
    // The next element; false when none is left.
    bool Next(std::string_view *element);
    // True when the element last returned was the last one.
    bool AtEnd() const { return rest_.empty(); }

private:
    std::string_view rest_;
    char qualifier_;
    UINT codePage_;
};

std::vector<std::string> SplitItemId(std::string_view id, char qualifier,
                                     UINT codePage = CP_ACP);

// The part of text after its last qualifier (double-byte aware), or the whole
// text when it holds none. The browse name of a record is this of its name.
std::string_view AfterLastQualifier(std::string_view text, char qualifier,
                                    UINT codePage = CP_ACP);

// The code page whose double-byte characters item IDs are split by: CP_ACP
// unless a test sets another (for example 932) to exercise double-byte IDs.
UINT ItemIdCodePage();
void SetItemIdCodePage(UINT codePage);

// The qualifier in force.
char Qualifier();

// --- Host operations ---------------------------------------------------------

// Defines an item with the two access words. Returns its new item handle, or
// NoItemHandle() when the ID is already defined, the ID pointer is null, or
// memory ran out (the tree is then as it was before the call). Never throws.
void *AddItem(const char *itemId, DWORD readAccess, DWORD writeAccess) noexcept;

// Deletes the item with everything below it, and every branch record that
// becomes empty; a defined item that loses its last child stays (it was
// defined by the host, not made on the way). False when no record has that
// ID (or the pointer is null).
bool DeleteItem(const char *itemId) noexcept;

// SetZqHDAsvrQualifier: sets the qualifier unless the low byte is 0; returns
// the one in force (0..255).
int SetItemQualifier(int qualifier);

// Deletes every record below the root node (module unload). When the process
// is ending, another thread may have been stopped while holding the tree lock;
// the tree is then left to the operating system instead of waiting for it.
void ClearItemTree(bool processExit = false);

// --- Client operations -------------------------------------------------------

// Finds an item by its complete ID; fills *out and returns true if found.
// Takes the lock shared; never allocates, never throws.
bool LookupItem(std::string_view itemId, ItemInfo *out) noexcept;

// Read access to the tree for browsing: holds the lock shared from
// construction to destruction, and fixes the qualifier and code page for its
// lifetime. Functions that return strings may throw std::bad_alloc; the lock
// is released by the destructor in any case.
//
// Children are found by browse name through an index made for one qualifier
// and code page. The first reader after a change of either holds the lock
// exclusively instead and makes the index anew; if memory for it runs out,
// lookups scan the children instead, with the same results.
class TreeReader
{
public:
    TreeReader();
    TreeReader(const TreeReader &) = delete;
    TreeReader &operator=(const TreeReader &) = delete;

    char Qualifier() const { return qualifier_; }
    UINT CodePage() const { return codePage_; }
    const ItemRecord &Root() const;

    // The part of the record's name after the last qualifier in it: for a
    // defined item the last element of its ID, for a branch record its name.
    std::string_view BrowseName(const ItemRecord &record) const;

    // The first child, in insertion order, whose browse name equals name.
    const ItemRecord *FindChildByBrowseName(const ItemRecord &parent,
                                            std::string_view name) const;

    // Walks the elements from the root node, taking at each level the first
    // child whose browse name equals the element. No element: the root node.
    // Null when some element has no match. Elements may be std::string or
    // std::string_view.
    template <typename It> const ItemRecord *Resolve(It first, It last) const
    {
        const ItemRecord *current = &Root();
        for (; first != last && current != nullptr; ++first)
            current = FindChildByBrowseName(*current, std::string_view(*first));
        return current;
    }

    // Splits a full path at the qualifier and resolves it (empty: root node).
    const ItemRecord *ResolvePath(std::string_view path) const;

    // Appends to *out the names of at's children that are branches (their
    // names unchanged), in child order.
    void ListBranches(const ItemRecord &at, std::vector<std::string> *out) const;
    // Appends to *out the browse names of at's children that are leaves, in
    // child order.
    void ListLeaves(const ItemRecord &at, std::vector<std::string> *out) const;
    // Appends to *out the names of every leaf below at (for a defined item its
    // full item ID), depth first in child order: the leaves below a branch
    // come before the later siblings of that branch. at itself is not listed.
    void ListFlat(const ItemRecord &at, std::vector<std::string> *out) const;

private:
    char qualifier_;
    UINT codePage_;
    SrwHold hold_;           // shared, or exclusive when the index was made anew
    bool indexed_ = false;   // the browse-name index fits this reader
};

// For tests only: the value the next new record's handle is taken from.
void SetNextItemHandleForTest(uintptr_t next);

} // namespace zq
