#include "addrspace/item_registry.h"

#include <atomic>
#include <utility>

#include "ZqHDAsvr.h"
#include "runtime/server_state.h"

namespace zq {

namespace {

std::atomic<UINT> g_codePage{CP_ACP};

bool IsLeadByte(UINT codePage, unsigned char b)
{
    // No double-byte code page has a lead byte below 0x80; the test keeps the
    // common (ASCII) case free of system calls.
    if (b < 0x80)
        return false;
    return (codePage == CP_ACP ? IsDBCSLeadByte(b) : IsDBCSLeadByteEx(codePage, b)) != FALSE;
}

// Position of the first qualifier in s, stepping over double-byte characters.
size_t FindQualifier(std::string_view s, char qualifier, UINT codePage)
{
    for (size_t i = 0; i < s.size(); ++i) {
        if (i + 1 < s.size() && IsLeadByte(codePage, static_cast<unsigned char>(s[i]))) {
            ++i;
            continue;
        }
        if (s[i] == qualifier)
            return i;
    }
    return std::string_view::npos;
}

// The host's handles cannot run out in practice (one per record, 2^32 - 2 on
// a 32-bit process); if they ever did, definitions fail rather than reuse one.
struct HandlesExhausted
{
};

} // namespace

// --- Splitting ---------------------------------------------------------------

ElementCursor::ElementCursor(std::string_view id, char qualifier, UINT codePage)
    : rest_(id), qualifier_(qualifier), codePage_(codePage)
{
}

bool ElementCursor::Next(std::string_view *element)
{
    if (rest_.empty())
        return false;
    size_t at = FindQualifier(rest_, qualifier_, codePage_);
    if (at == std::string_view::npos) {
        *element = rest_;
        rest_ = std::string_view();
    } else {
        *element = rest_.substr(0, at);
        rest_.remove_prefix(at + 1);
    }
    return true;
}

std::vector<std::string> SplitItemId(std::string_view id, char qualifier, UINT codePage)
{
    std::vector<std::string> elements;
    ElementCursor cursor(id, qualifier, codePage);
    std::string_view element;
    while (cursor.Next(&element))
        elements.emplace_back(element);
    return elements;
}

std::string_view AfterLastQualifier(std::string_view text, char qualifier, UINT codePage)
{
    // Forwards only: a double-byte string cannot be scanned from its end.
    size_t start = 0;
    for (;;) {
        size_t at = FindQualifier(text.substr(start), qualifier, codePage);
        if (at == std::string_view::npos)
            return text.substr(start);
        start += at + 1;
    }
}

UINT ItemIdCodePage() { return g_codePage.load(std::memory_order_relaxed); }
void SetItemIdCodePage(UINT codePage) { g_codePage.store(codePage); }

char Qualifier() { return State().qualifier.load(); }

// --- Records -------------------------------------------------------------------

ItemRecord::ItemRecord(ItemRecord *parent, std::string name, void *handle, DWORD readAccess,
                       DWORD writeAccess, bool definedItem)
    : parent_(parent), readAccess_(readAccess), writeAccess_(writeAccess),
      name_(std::move(name)), handle_(handle), definedItem_(definedItem)
{
}

ItemRecord::~ItemRecord()
{
    // Post-order walk along the parent links: a record is only destroyed once
    // it has no children, so no destructor below this one loops or recurses,
    // and removing the last element of an array never allocates.
    ItemRecord *node = this;
    for (;;) {
        if (!node->children_.empty()) {
            node = node->children_.back().get();
            continue;
        }
        if (node == this)
            break;
        ItemRecord *parent = node->parent_;
        parent->children_.pop_back();
        node = parent;
    }
}

// The tree with its lock and the handle counter. Created on first use and
// never destroyed: at process exit, a thread that was stopped while holding
// the lock must not make the exit wait (ClearItemTree frees the records).
class ItemTree
{
public:
    SRWLOCK lock = SRWLOCK_INIT;
    ItemRecord root{nullptr, std::string(), nullptr, 1, 0, false};
    uintptr_t nextHandle = 1; // guarded by lock (exclusive)

    static ItemTree &Get()
    {
        static ItemTree *tree = new ItemTree();
        return *tree;
    }

    static ItemRecord *FindChild(const ItemRecord &parent, std::string_view name)
    {
        for (const auto &child : parent.children_)
            if (child->name_ == name)
                return child.get();
        return nullptr;
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
        AcquireSRWLockExclusive(&lock);
        void *result = AddLocked(id, readAccess, writeAccess);
        ReleaseSRWLockExclusive(&lock);
        return result;
    }

    bool Delete(std::string_view id)
    {
        AcquireSRWLockExclusive(&lock);
        bool found = DeleteLocked(id);
        ReleaseSRWLockExclusive(&lock);
        return found;
    }

private:
    void *NewHandle()
    {
        if (nextHandle == 0 || nextHandle == static_cast<uintptr_t>(-1))
            throw HandlesExhausted();
        return reinterpret_cast<void *>(nextHandle++);
    }

    ItemRecord *Append(ItemRecord *parent, std::string name, DWORD readAccess, DWORD writeAccess,
                       bool definedItem)
    {
        std::unique_ptr<ItemRecord> record(new ItemRecord(parent, std::move(name), NewHandle(),
                                                          readAccess, writeAccess, definedItem));
        parent->children_.push_back(std::move(record));
        return parent->children_.back().get();
    }

    void *AddLocked(std::string_view id, DWORD readAccess, DWORD writeAccess)
    {
        const char qualifier = Qualifier();
        const UINT codePage = ItemIdCodePage();
        if (FindItem(id, qualifier, codePage) != nullptr)
            return NoItemHandle();
        ItemRecord *current = &root;
        ItemRecord *firstNewBranch = nullptr;
        try {
            ElementCursor cursor(id, qualifier, codePage);
            std::string_view element;
            while (cursor.Next(&element) && !cursor.AtEnd()) {
                ItemRecord *child = FindChild(*current, element);
                if (child == nullptr) {
                    child = Append(current, std::string(element), 1, 0, false);
                    if (firstNewBranch == nullptr)
                        firstNewBranch = child;
                }
                current = child;
            }
            return Append(current, std::string(id), readAccess, writeAccess, true)->handle_;
        } catch (...) {
            // Branch records made by this call would stay behind as empty
            // leaves named by one element, which clients would see as items:
            // remove them. The first one is still its parent's last child and
            // holds the others.
            if (firstNewBranch != nullptr)
                firstNewBranch->parent_->children_.pop_back();
            return NoItemHandle();
        }
    }

    bool DeleteLocked(std::string_view id)
    {
        ItemRecord *record = FindItem(id, Qualifier(), ItemIdCodePage());
        if (record == nullptr)
            return false;
        for (;;) {
            ItemRecord *parent = record->parent_;
            auto &siblings = parent->children_;
            for (auto it = siblings.begin(); it != siblings.end(); ++it) {
                if (it->get() == record) {
                    siblings.erase(it); // deletes the record with its subtree
                    break;
                }
            }
            // Branch records exist only to hold what is below them; a defined
            // item stays until the host deletes it.
            if (parent == &root || !siblings.empty() || parent->definedItem_)
                return true;
            record = parent;
        }
    }

public:
    void Clear(bool processExit)
    {
        if (processExit) {
            if (!TryAcquireSRWLockExclusive(&lock))
                return;
        } else {
            AcquireSRWLockExclusive(&lock);
        }
        // Release the root's array too, not only the records.
        std::vector<std::unique_ptr<ItemRecord>>().swap(root.children_);
        ReleaseSRWLockExclusive(&lock);
    }

    void SetNextHandle(uintptr_t next)
    {
        AcquireSRWLockExclusive(&lock);
        nextHandle = next;
        ReleaseSRWLockExclusive(&lock);
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
    AcquireSRWLockShared(&tree.lock);
    const ItemRecord *record = tree.FindItem(itemId, Qualifier(), ItemIdCodePage());
    if (record != nullptr && out != nullptr) {
        out->handle = record->Handle();
        out->readAccess = record->ReadAccess();
        out->writeAccess = record->WriteAccess();
    }
    ReleaseSRWLockShared(&tree.lock);
    return record != nullptr;
}

TreeReader::TreeReader() : qualifier_(zq::Qualifier()), codePage_(ItemIdCodePage())
{
    AcquireSRWLockShared(&ItemTree::Get().lock);
}

TreeReader::~TreeReader() { ReleaseSRWLockShared(&ItemTree::Get().lock); }

const ItemRecord &TreeReader::Root() const { return ItemTree::Get().root; }

std::string_view TreeReader::BrowseName(const ItemRecord &record) const
{
    return AfterLastQualifier(record.Name(), qualifier_, codePage_);
}

const ItemRecord *TreeReader::FindChildByBrowseName(const ItemRecord &parent,
                                                    std::string_view name) const
{
    for (size_t i = 0; i < parent.ChildCount(); ++i) {
        const ItemRecord &child = parent.Child(i);
        if (BrowseName(child) == name)
            return &child;
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
    for (size_t i = 0; i < at.ChildCount(); ++i)
        if (at.Child(i).IsBranch())
            out->push_back(at.Child(i).Name());
}

void TreeReader::ListLeaves(const ItemRecord &at, std::vector<std::string> *out) const
{
    for (size_t i = 0; i < at.ChildCount(); ++i)
        if (!at.Child(i).IsBranch())
            out->emplace_back(BrowseName(at.Child(i)));
}

void TreeReader::ListFlat(const ItemRecord &at, std::vector<std::string> *out) const
{
    // An explicit stack of (record, next child index) instead of recursion:
    // the tree can be thousands of levels deep.
    std::vector<std::pair<const ItemRecord *, size_t>> stack;
    stack.emplace_back(&at, 0);
    while (!stack.empty()) {
        auto &top = stack.back();
        if (top.second == top.first->ChildCount()) {
            stack.pop_back();
            continue;
        }
        const ItemRecord &child = top.first->Child(top.second++);
        if (child.IsBranch())
            stack.emplace_back(&child, 0);
        else
            out->push_back(child.Name());
    }
}

} // namespace zq

// --- Exports ---------------------------------------------------------------------

// A null ID pointer is refused (-1 / 0) rather than read as the empty ID: the
// empty ID is a real item, and a null pointer is far more likely a host fault.
extern "C" void *__stdcall DefineHDAItem(const char *itemId)
{
    return zq::AddItem(itemId, 1, 2);
}

extern "C" int __stdcall DeleteHDAItem(const char *itemId)
{
    return zq::DeleteItem(itemId) ? 1 : 0;
}

// Only the low byte of the argument counts; 0 reads the qualifier. The result
// is the qualifier byte in force, as an unsigned value (0..255).
extern "C" int __stdcall SetZqHDAsvrQualifier(int qualifier)
{
    const char q = static_cast<char>(qualifier & 0xFF);
    if (q != 0) {
        zq::State().qualifier.store(q);
        return static_cast<unsigned char>(q);
    }
    return static_cast<unsigned char>(zq::State().qualifier.load());
}
