// An index of the item tree's records by (parent, key), so that finding a
// child by its name or by its browse name costs the same for a branch of
// ten children and for one of a million.
//
// The table holds, for each (parent, key), the first child in child order
// with that key. Later children with the same key hang from it in a chain
// (one pointer in each record, chosen by the index), also in child order:
// children are only ever appended to a parent, so appending to the chain
// keeps both orders the same. Removing the first one of a chain makes the
// next one the answer, so the first-added-wins rule holds across deletions.
//
// Open addressing with linear probing; every slot keeps the full hash, so
// growing never looks at a key again. Nothing here locks: the tree's lock
// covers the index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace zq {

class ItemRecord;

class ChildIndex
{
public:
    using KeyOf = std::string_view (*)(const ItemRecord &);
    using Chain = ItemRecord *ItemRecord::*;

    ChildIndex(KeyOf key, Chain next) : key_(key), next_(next) {}
    ChildIndex(const ChildIndex &) = delete;
    ChildIndex &operator=(const ChildIndex &) = delete;

    // The first child of parent, in child order, whose key equals key.
    ItemRecord *Find(const ItemRecord *parent, std::string_view key) const;

    // Makes room for `extra` more records, so that as many Appends that
    // follow cannot fail. Throws std::bad_alloc (the index is then as it was).
    void Reserve(size_t extra);
    // Adds a record after every child of its parent already indexed.
    // Needs room (Reserve).
    void Append(ItemRecord *record);
    // Adds a record before every child of its parent already indexed: for
    // filling the index with each parent's children from last to first.
    void Prepend(ItemRecord *record);
    // Removes a record that is in the index; never allocates.
    void Remove(ItemRecord *record);
    // Empties the index and frees its table.
    void Clear();

private:
    struct Slot
    {
        uint32_t hash;
        ItemRecord *first; // null: free slot
    };

    Slot *Locate(const ItemRecord *parent, std::string_view key, uint32_t hash) const;
    Slot *FreeSlotFor(uint32_t hash) const;
    void Rehash(size_t capacity);
    void Erase(Slot *slot);

    KeyOf key_;
    Chain next_;
    std::unique_ptr<Slot[]> slots_;
    size_t mask_ = 0;  // capacity - 1 (capacity is a power of two), 0 without a table
    size_t used_ = 0;  // occupied slots: distinct (parent, key) pairs
};

} // namespace zq
