#include "addrspace/item_registry.h"

#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "addrspace/child_index.h"
#include "runtime/server_state.h"
#include "ZqHDAsvr.h"

namespace zq {

namespace {

// The host's handles cannot run out in practice (one per record, 2^32 - 2 on
// a 32-bit process); if they ever did, definitions fail rather than reuse one.
struct HandlesExhausted
{
};

} // namespace

// --- Records -------------------------------------------------------------------

ItemRecord::ItemRecord(ItemRecord *parent, const char *name, size_t nameLength,
                       DWORD readAccess, DWORD writeAccess, bool definedItem)
    : parent_(parent), readAccess_(readAccess), writeAccess_(writeAccess), name_(name),
      nameLength_(nameLength), definedItem_(definedItem)
{
}

ItemRecord *ItemRecord::Create(ItemRecord *parent, std::string_view name, DWORD readAccess,
                               DWORD writeAccess, bool definedItem)
{
    if (name.size() > static_cast<size_t>(-1) - sizeof(ItemRecord) - 1)
        throw std::bad_alloc();
    void *block = ::operator new(sizeof(ItemRecord) + name.size() + 1);
    char *text = static_cast<char *>(block) + sizeof(ItemRecord);
    memcpy(text, name.data(), name.size());
    text[name.size()] = '\0';
    return new (block) ItemRecord(parent, text, name.size(), readAccess, writeAccess, definedItem);
}

void ItemRecord::Destroy(ItemRecord *record) noexcept
{
    record->~ItemRecord();
    ::operator delete(record);
}

// The tree with its lock, its indexes and the handle counter. Created on
// first use and never destroyed: at process exit, a thread that was stopped
// while holding the lock must not make the exit wait (ClearItemTree frees
// the records).
//
// Two indexes find children in constant time on average: by name (find item
// and add item, independent of the qualifier) and by browse name (the
// browser). Browse names depend on the qualifier and the code page, so the
// browse-name index is made for one pair: add and delete keep it up to date
// while the pair in force is the one it was made for, and drop it when the
// pair has changed; the next reader makes it anew for the pair in force.
class ItemTree
{
public:
    SRWLOCK lock = SRWLOCK_INIT;
    ItemRecord root{nullptr, "", 0, 1, 0, false};
    uintptr_t nextHandle = 1; // guarded by lock (exclusive)

    static ItemTree &Get()
    {
        static ItemTree *tree = new ItemTree();
        return *tree;
    }

    ItemRecord *FindChild(const ItemRecord &parent, std::string_view name) const
    {
        return names_.Find(&parent, name);
    }

    // The record of the complete ID: the first n-1 elements are followed by
    // name from the root node, and the complete ID is then looked for among
    // the children of the record reached. Lock held (either mode).
    ItemRecord *FindItem(std::string_view id, char qualifier, UINT codePage) const
    {
        const ItemRecord *current = &root;
        ElementCursor cursor(id, qualifier, codePage);
        std::string_view element;
        while (cursor.Next(&element) && !cursor.AtEnd()) {
            current = FindChild(*current, element);
            if (current == nullptr)
                return nullptr;
        }
        return FindChild(*current, id);
    }

    void *Add(std::string_view id, DWORD readAccess, DWORD writeAccess)
    {
        SrwExclusive hold(lock);
        return AddLocked(id, readAccess, writeAccess);
    }

    bool Delete(std::string_view id)
    {
        SrwExclusive hold(lock);
        return DeleteLocked(id);
    }

    // True when the browse-name index serves this qualifier and code page.
    // Lock held (either mode).
    bool BrowseIndexFits(char qualifier, UINT codePage) const
    {
        return browseValid_ && browseQualifier_ == qualifier && browseCodePage_ == codePage;
    }

    // Makes the browse-name index for the qualifier and code page; on lack
    // of memory it stays dropped. Lock held exclusively.
    void MakeBrowseIndex(char qualifier, UINT codePage) noexcept
    {
        DropBrowseIndex();
        try {
            browseNames_.Reserve(records_);
        } catch (...) {
            return;
        }
        // Each parent's children from last to first, each put in front of
        // those already indexed: the chains come out in child order.
        std::vector<ItemRecord *> pending;
        ItemRecord *parent = &root;
        for (;;) {
            for (ItemRecord *c = parent->lastChild_; c != nullptr; c = c->prevSibling_) {
                c->browseStart_ = BrowseStart(c->Name(), qualifier, codePage);
                browseNames_.Prepend(c);
                if (c->firstChild_ != nullptr) {
                    try {
                        pending.push_back(c);
                    } catch (...) {
                        DropBrowseIndex();
                        return;
                    }
                }
            }
            if (pending.empty())
                break;
            parent = pending.back();
            pending.pop_back();
        }
        browseValid_ = true;
        browseQualifier_ = qualifier;
        browseCodePage_ = codePage;
    }

    ItemRecord *FindChildByBrowseName(const ItemRecord &parent, std::string_view name) const
    {
        return browseNames_.Find(&parent, name);
    }

private:
    static std::string_view NameKey(const ItemRecord &r) { return r.Name(); }
    static std::string_view BrowseKey(const ItemRecord &r)
    {
        return r.Name().substr(r.browseStart_);
    }
    static size_t BrowseStart(std::string_view name, char qualifier, UINT codePage)
    {
        return static_cast<size_t>(AfterLastQualifier(name, qualifier, codePage).data() -
                                   name.data());
    }

    void DropBrowseIndex()
    {
        browseNames_.Clear();
        browseValid_ = false;
    }

    // Before a change: the browse-name index follows the qualifier and code
    // page in force, or is dropped. An empty tree takes the pair in force.
    void PrepareBrowseIndex(char qualifier, UINT codePage)
    {
        if (browseValid_ && !BrowseIndexFits(qualifier, codePage))
            DropBrowseIndex();
        if (!browseValid_ && records_ == 0) {
            browseValid_ = true;
            browseQualifier_ = qualifier;
            browseCodePage_ = codePage;
        }
    }

    // Handles run from 1 up to, not including, 0xFFFFFFFF: clients see each
    // one as a 32-bit server handle (OPCHANDLE), so on x86_64 the handles
    // run out there rather than be cut short; on i686 the limit is also the
    // "no item" value (void*)-1.
    void *NewHandle()
    {
        constexpr uintptr_t kHandleLimit = static_cast<OPCHANDLE>(-1);
        if (nextHandle == 0 || nextHandle >= kHandleLimit)
            throw HandlesExhausted();
        return reinterpret_cast<void *>(nextHandle++);
    }

    // Makes a record and appends it to parent's children. Room in the
    // indexes was reserved before; may throw (nothing then changes).
    ItemRecord *Append(ItemRecord *parent, std::string_view name, DWORD readAccess,
                       DWORD writeAccess, bool definedItem)
    {
        ItemRecord *record = ItemRecord::Create(parent, name, readAccess, writeAccess, definedItem);
        try {
            record->handle_ = NewHandle();
        } catch (...) {
            ItemRecord::Destroy(record);
            throw;
        }
        record->prevSibling_ = parent->lastChild_;
        if (parent->lastChild_ != nullptr)
            parent->lastChild_->nextSibling_ = record;
        else
            parent->firstChild_ = record;
        parent->lastChild_ = record;
        ++parent->childCount_;
        ++records_;
        names_.Append(record);
        if (browseValid_) {
            record->browseStart_ = BrowseStart(record->Name(), browseQualifier_, browseCodePage_);
            browseNames_.Append(record);
        }
        return record;
    }

    // Takes a record out of its parent's children and out of the indexes.
    void Unlink(ItemRecord *record)
    {
        names_.Remove(record);
        if (browseValid_)
            browseNames_.Remove(record);
        ItemRecord *parent = record->parent_;
        (record->prevSibling_ != nullptr ? record->prevSibling_->nextSibling_
                                         : parent->firstChild_) = record->nextSibling_;
        (record->nextSibling_ != nullptr ? record->nextSibling_->prevSibling_
                                         : parent->lastChild_) = record->prevSibling_;
        record->prevSibling_ = record->nextSibling_ = nullptr;
        --parent->childCount_;
        --records_;
    }

    // Deletes an unlinked record with its subtree: post-order along the
    // parent links, without recursion, so that very deep trees (an ID of
    // thousands of elements) cannot exhaust the stack.
    void DeleteSubtree(ItemRecord *top)
    {
        ItemRecord *node = top;
        for (;;) {
            if (node->firstChild_ != nullptr) {
                node = node->firstChild_;
                continue;
            }
            if (node == top)
                break;
            ItemRecord *parent = node->parent_;
            Unlink(node);
            ItemRecord::Destroy(node);
            node = parent;
        }
        ItemRecord::Destroy(top);
    }

    void *AddLocked(std::string_view id, DWORD readAccess, DWORD writeAccess)
    {
        const char qualifier = Qualifier();
        const UINT codePage = ItemIdCodePage();
        PrepareBrowseIndex(qualifier, codePage);
        if (FindItem(id, qualifier, codePage) != nullptr)
            return NoItemHandle();
        ItemRecord *current = &root;
        ItemRecord *firstNewBranch = nullptr;
        try {
            // At most one record per element (one for the empty ID).
            size_t records = 1;
            ElementCursor counter(id, qualifier, codePage);
            std::string_view element;
            while (counter.Next(&element) && !counter.AtEnd())
                ++records;
            names_.Reserve(records);
            if (browseValid_)
                browseNames_.Reserve(records);

            ElementCursor cursor(id, qualifier, codePage);
            while (cursor.Next(&element) && !cursor.AtEnd()) {
                ItemRecord *child = FindChild(*current, element);
                if (child == nullptr) {
                    child = Append(current, element, 1, 0, false);
                    if (firstNewBranch == nullptr)
                        firstNewBranch = child;
                }
                current = child;
            }
            return Append(current, id, readAccess, writeAccess, true)->handle_;
        } catch (...) {
            // Branch records made by this call would stay behind as empty
            // leaves named by one element, which clients would see as items:
            // remove them. The first one holds the others.
            if (firstNewBranch != nullptr) {
                Unlink(firstNewBranch);
                DeleteSubtree(firstNewBranch);
            }
            return NoItemHandle();
        }
    }

    bool DeleteLocked(std::string_view id)
    {
        const char qualifier = Qualifier();
        const UINT codePage = ItemIdCodePage();
        PrepareBrowseIndex(qualifier, codePage);
        ItemRecord *record = FindItem(id, qualifier, codePage);
        if (record == nullptr)
            return false;
        for (;;) {
            ItemRecord *parent = record->parent_;
            Unlink(record);
            DeleteSubtree(record);
            // Branch records exist only to hold what is below them; a defined
            // item stays until the host deletes it.
            if (parent == &root || parent->firstChild_ != nullptr || parent->definedItem_)
                return true;
            record = parent;
        }
    }

    ChildIndex names_{NameKey, &ItemRecord::nextSameName_};
    ChildIndex browseNames_{BrowseKey, &ItemRecord::nextSameBrowseName_};
    bool browseValid_ = false;
    char browseQualifier_ = 0;
    UINT browseCodePage_ = 0;
    size_t records_ = 0; // records below the root node

public:
    void Clear(bool processExit)
    {
        SrwHold hold(lock);
        if (!hold.ExclusiveUnlessStuck(processExit))
            return;
        // The indexes go first: the records then need no unlinking from them.
        names_.Clear();
        DropBrowseIndex();
        while (ItemRecord *child = root.firstChild_) {
            root.firstChild_ = child->nextSibling_;
            DeleteSubtreeUnindexed(child);
        }
        root.lastChild_ = nullptr;
        root.childCount_ = 0;
        records_ = 0;
    }

    void SetNextHandle(uintptr_t next)
    {
        SrwExclusive hold(lock);
        nextHandle = next;
    }

private:
    // Deletes a subtree that the indexes no longer know.
    static void DeleteSubtreeUnindexed(ItemRecord *top)
    {
        ItemRecord *node = top;
        for (;;) {
            if (ItemRecord *child = node->firstChild_) {
                node->firstChild_ = child->nextSibling_;
                node = child;
                continue;
            }
            ItemRecord *parent = node == top ? nullptr : node->parent_;
            ItemRecord::Destroy(node);
            if (parent == nullptr)
                return;
            node = parent;
        }
    }
};

// --- Host operations -----------------------------------------------------------

void *AddItem(const char *itemId, DWORD readAccess, DWORD writeAccess) noexcept
{
    if (itemId == nullptr)
        return NoItemHandle();
    return ItemTree::Get().Add(itemId, readAccess, writeAccess);
}

bool DeleteItem(const char *itemId) noexcept
{
    if (itemId == nullptr)
        return false;
    return ItemTree::Get().Delete(itemId);
}

void ClearItemTree(bool processExit) { ItemTree::Get().Clear(processExit); }

void SetNextItemHandleForTest(uintptr_t next) { ItemTree::Get().SetNextHandle(next); }

// --- Client operations ---------------------------------------------------------

bool LookupItem(std::string_view itemId, ItemInfo *out) noexcept
{
    ItemTree &tree = ItemTree::Get();
    SrwShared hold(tree.lock);
    const ItemRecord *record = tree.FindItem(itemId, Qualifier(), ItemIdCodePage());
    if (record != nullptr && out != nullptr) {
        out->handle = record->Handle();
        out->readAccess = record->ReadAccess();
        out->writeAccess = record->WriteAccess();
    }
    return record != nullptr;
}

TreeReader::TreeReader()
    : qualifier_(zq::Qualifier()), codePage_(ItemIdCodePage()), hold_(ItemTree::Get().lock)
{
    ItemTree &tree = ItemTree::Get();
    hold_.Shared();
    if (!tree.BrowseIndexFits(qualifier_, codePage_)) {
        // Made anew under the exclusive lock, which this reader then keeps.
        hold_.Exclusive();
        if (!tree.BrowseIndexFits(qualifier_, codePage_))
            tree.MakeBrowseIndex(qualifier_, codePage_);
    }
    indexed_ = tree.BrowseIndexFits(qualifier_, codePage_);
}

const ItemRecord &TreeReader::Root() const { return ItemTree::Get().root; }

std::string_view TreeReader::BrowseName(const ItemRecord &record) const
{
    return AfterLastQualifier(record.Name(), qualifier_, codePage_);
}

const ItemRecord *TreeReader::FindChildByBrowseName(const ItemRecord &parent,
                                                    std::string_view name) const
{
    if (indexed_)
        return ItemTree::Get().FindChildByBrowseName(parent, name);
    for (const ItemRecord *child = parent.FirstChild(); child != nullptr;
         child = child->NextSibling()) {
        if (BrowseName(*child) == name)
            return child;
    }
    return nullptr;
}

const ItemRecord *TreeReader::ResolvePath(std::string_view path) const
{
    const ItemRecord *current = &Root();
    ElementCursor cursor(path, qualifier_, codePage_);
    std::string_view element;
    while (current != nullptr && cursor.Next(&element))
        current = FindChildByBrowseName(*current, element);
    return current;
}

void TreeReader::ListBranches(const ItemRecord &at, std::vector<std::string> *out) const
{
    for (const ItemRecord *c = at.FirstChild(); c != nullptr; c = c->NextSibling())
        if (c->IsBranch())
            out->emplace_back(c->Name());
}

void TreeReader::ListLeaves(const ItemRecord &at, std::vector<std::string> *out) const
{
    for (const ItemRecord *c = at.FirstChild(); c != nullptr; c = c->NextSibling())
        if (!c->IsBranch())
            out->emplace_back(BrowseName(*c));
}

void TreeReader::ListFlat(const ItemRecord &at, std::vector<std::string> *out) const
{
    // Along the sibling and parent links instead of recursion: the tree can
    // be thousands of levels deep.
    const ItemRecord *node = at.FirstChild();
    while (node != nullptr) {
        if (node->IsBranch()) {
            node = node->FirstChild();
            continue;
        }
        out->emplace_back(node->Name());
        // The next record: this one's next sibling, or that of the nearest
        // ancestor below at that has one.
        while (node != &at && node->NextSibling() == nullptr)
            node = node->Parent();
        node = node != &at ? node->NextSibling() : nullptr;
    }
}

// Only the low byte of the argument counts; 0 reads the qualifier. The result
// is the qualifier byte in force, as an unsigned value (0..255).
int SetItemQualifier(int qualifier)
{
    const char q = static_cast<char>(qualifier & 0xFF);
    if (q != 0) {
        State().settings.qualifier.store(q);
        return static_cast<unsigned char>(q);
    }
    return static_cast<unsigned char>(State().settings.qualifier.load());
}

} // namespace zq
