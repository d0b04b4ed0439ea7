#include "addrspace/child_index.h"

#include <new>

#include "addrspace/item_registry.h"

namespace zq {

namespace {

// FNV-1a over the key, mixed with the parent's address and finished with
// the MurmurHash3 finaliser, so that the low bits used as the slot number
// depend on every input bit.
uint32_t HashOf(const ItemRecord *parent, std::string_view key)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : key) {
        h ^= c;
        h *= 16777619u;
    }
    uint64_t p = reinterpret_cast<uintptr_t>(parent);
    h ^= static_cast<uint32_t>(p ^ (p >> 32)) * 0x9E3779B1u;
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// At most 7 of every 10 slots are used.
bool Fits(size_t used, size_t capacity) { return used * 10 <= capacity * 7; }

} // namespace

ChildIndex::Slot *ChildIndex::Locate(const ItemRecord *parent, std::string_view key,
                                     uint32_t hash) const
{
    if (!slots_)
        return nullptr;
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
        Slot &s = slots_[i];
        if (s.first == nullptr)
            return nullptr;
        if (s.hash == hash && s.first->parent_ == parent && key_(*s.first) == key)
            return &s;
    }
}

ChildIndex::Slot *ChildIndex::FreeSlotFor(uint32_t hash) const
{
    size_t i = hash & mask_;
    while (slots_[i].first != nullptr)
        i = (i + 1) & mask_;
    return &slots_[i];
}

ItemRecord *ChildIndex::Find(const ItemRecord *parent, std::string_view key) const
{
    Slot *s = Locate(parent, key, HashOf(parent, key));
    return s != nullptr ? s->first : nullptr;
}

void ChildIndex::Rehash(size_t capacity)
{
    std::unique_ptr<Slot[]> fresh(new Slot[capacity]()); // may throw: nothing has changed
    std::unique_ptr<Slot[]> old = std::move(slots_);
    const size_t oldCapacity = old ? mask_ + 1 : 0;
    slots_ = std::move(fresh);
    mask_ = capacity - 1;
    for (size_t i = 0; i < oldCapacity; ++i)
        if (old[i].first != nullptr)
            *FreeSlotFor(old[i].hash) = old[i];
}

void ChildIndex::Reserve(size_t extra)
{
    const size_t want = used_ + extra;
    if (want == 0)
        return; // an empty index keeps no table
    size_t capacity = slots_ ? mask_ + 1 : 0;
    if (capacity != 0 && Fits(want, capacity))
        return;
    if (capacity == 0)
        capacity = 16;
    while (!Fits(want, capacity)) {
        if (capacity > static_cast<size_t>(-1) / (2 * sizeof(Slot)))
            throw std::bad_alloc();
        capacity *= 2;
    }
    Rehash(capacity);
}

void ChildIndex::Append(ItemRecord *record)
{
    record->*next_ = nullptr;
    const std::string_view key = key_(*record);
    const uint32_t hash = HashOf(record->parent_, key);
    if (Slot *s = Locate(record->parent_, key, hash)) {
        ItemRecord *last = s->first;
        while (last->*next_ != nullptr)
            last = last->*next_;
        last->*next_ = record;
        return;
    }
    *FreeSlotFor(hash) = Slot{hash, record};
    ++used_;
}

void ChildIndex::Prepend(ItemRecord *record)
{
    record->*next_ = nullptr;
    const std::string_view key = key_(*record);
    const uint32_t hash = HashOf(record->parent_, key);
    if (Slot *s = Locate(record->parent_, key, hash)) {
        record->*next_ = s->first;
        s->first = record;
        return;
    }
    *FreeSlotFor(hash) = Slot{hash, record};
    ++used_;
}

void ChildIndex::Remove(ItemRecord *record)
{
    const std::string_view key = key_(*record);
    Slot *s = Locate(record->parent_, key, HashOf(record->parent_, key));
    if (s == nullptr)
        return;
    if (s->first == record) {
        if (record->*next_ != nullptr)
            s->first = record->*next_; // the next one with that key takes its place
        else
            Erase(s);
    } else {
        ItemRecord *before = s->first;
        while (before->*next_ != nullptr && before->*next_ != record)
            before = before->*next_;
        if (before->*next_ == record)
            before->*next_ = record->*next_;
    }
    record->*next_ = nullptr;
}

// Backward-shift deletion: the slots after the freed one that would no
// longer be reached from their home slot move up, so no tombstones are left.
void ChildIndex::Erase(Slot *slot)
{
    size_t hole = static_cast<size_t>(slot - slots_.get());
    for (size_t i = (hole + 1) & mask_;; i = (i + 1) & mask_) {
        Slot &s = slots_[i];
        if (s.first == nullptr)
            break;
        size_t home = s.hash & mask_;
        // Move s into the hole unless its home lies cyclically in (hole, i].
        bool reachable = hole <= i ? (home > hole && home <= i) : (home > hole || home <= i);
        if (!reachable) {
            slots_[hole] = s;
            hole = i;
        }
    }
    slots_[hole] = Slot{0, nullptr};
    if (--used_ == 0)
        Clear(); // an empty tree keeps no table
}

void ChildIndex::Clear()
{
    slots_.reset();
    mask_ = 0;
    used_ = 0;
}

} // namespace zq
