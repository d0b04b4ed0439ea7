#include "addrspace/catalogue.h"

#include <utility>

#include "ZqHDAsvr.h"

namespace zq {

namespace {

// Created on first use and never destroyed (see ClearCatalogues).
struct Catalogues
{
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<CatalogueEntry> attributes;
    std::vector<CatalogueEntry> aggregates;

    static Catalogues &Get()
    {
        static Catalogues *c = new Catalogues();
        return *c;
    }
};

bool Append(std::vector<CatalogueEntry> Catalogues::*list, CatalogueEntry entry)
{
    Catalogues &c = Catalogues::Get();
    SrwExclusive hold(c.lock);
    try {
        (c.*list).push_back(std::move(entry)); // unchanged if it throws
    } catch (...) {
        return false;
    }
    return true;
}

bool Add(std::vector<CatalogueEntry> Catalogues::*list, DWORD id, const char *name,
         const char *description, VARTYPE dataType, DWORD history) noexcept
{
    try {
        CatalogueEntry entry;
        entry.name = name != nullptr ? name : "";
        entry.description = description != nullptr ? description : "";
        entry.id = id;
        entry.dataType = dataType;
        entry.history = history;
        return Append(list, std::move(entry));
    } catch (...) {
        return false;
    }
}

} // namespace

bool AddAttribute(DWORD id, const char *name, const char *description, DWORD dataType,
                  DWORD history) noexcept
{
    return Add(&Catalogues::attributes, id, name, description,
               static_cast<VARTYPE>(dataType & 0xFFFF), history);
}

bool AddAggregate(DWORD id, const char *name, const char *description) noexcept
{
    return Add(&Catalogues::aggregates, id, name, description, 0, 0);
}

bool FindAttribute(DWORD id, AttributeInfo *out) noexcept
{
    Catalogues &c = Catalogues::Get();
    SrwShared hold(c.lock);
    for (const CatalogueEntry &e : c.attributes) {
        if (e.id == id) {
            if (out != nullptr) {
                out->id = e.id;
                out->dataType = e.dataType;
                out->history = e.history;
            }
            return true;
        }
    }
    return false;
}

bool HasAggregate(DWORD id) noexcept
{
    CatalogueReader reader;
    for (const CatalogueEntry &entry : reader.Aggregates())
        if (entry.id == id)
            return true;
    return false;
}

SRWLOCK &CatalogueReader::Lock() { return Catalogues::Get().lock; }

CatalogueReader::CatalogueReader() : hold_(Lock()) {}

const std::vector<CatalogueEntry> &CatalogueReader::Attributes() const
{
    return Catalogues::Get().attributes;
}

const std::vector<CatalogueEntry> &CatalogueReader::Aggregates() const
{
    return Catalogues::Get().aggregates;
}

void ClearCatalogues(bool processExit)
{
    Catalogues &c = Catalogues::Get();
    // A thread stopped by the exit may still hold the lock.
    SrwHold hold(c.lock);
    if (!hold.ExclusiveUnlessStuck(processExit))
        return;
    // Release the storage too, not only the entries.
    std::vector<CatalogueEntry>().swap(c.attributes);
    std::vector<CatalogueEntry>().swap(c.aggregates);
}

} // namespace zq
