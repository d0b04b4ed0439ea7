// The server-wide attribute and aggregate catalogues: what the host declared
// with DefineHDAAttribute and DefineHDAAggregate, in definition order. Entries
// are never removed while the module is loaded; a repeated ID gives a second
// entry.
//
// Locking: both lists are guarded by one reader-writer lock; the host's
// definitions take it exclusively, client threads read under it shared
// through a CatalogueReader or FindAttribute. The lock is not recursive.
#pragma once

#include <windows.h>
#include <wtypes.h>

#include <string>
#include <vector>

#include "runtime/srw_guard.h"

namespace zq {

// One attribute or aggregate definition. dataType and history are only set
// for attributes (0 for aggregates).
struct CatalogueEntry
{
    std::string name;
    std::string description;
    DWORD id = 0;
    VARTYPE dataType = 0;
    DWORD history = 0; // non-zero: values exist at past times (ReadAttributeAt)
};

// What the read engine needs of an attribute; copied out under the lock.
struct AttributeInfo
{
    DWORD id = 0;
    VARTYPE dataType = 0;
    DWORD history = 0;
};

// Appends a definition; null texts count as empty. False if memory ran out
// (the list is then unchanged). Never throw.
bool AddAttribute(DWORD id, const char *name, const char *description, DWORD dataType,
                  DWORD history) noexcept;
bool AddAggregate(DWORD id, const char *name, const char *description) noexcept;

// True when the host defined an aggregate with that ID.
bool HasAggregate(DWORD id) noexcept;

// The first attribute definition with that ID, in definition order.
bool FindAttribute(DWORD id, AttributeInfo *out) noexcept;

// Holds the catalogue lock shared from construction to destruction, so that a
// client sees both lists complete and unchanged while it copies them out.
class CatalogueReader
{
public:
    CatalogueReader();
    CatalogueReader(const CatalogueReader &) = delete;
    CatalogueReader &operator=(const CatalogueReader &) = delete;

    const std::vector<CatalogueEntry> &Attributes() const;
    const std::vector<CatalogueEntry> &Aggregates() const;

private:
    static SRWLOCK &Lock();
    SrwShared hold_;
};

// Deletes every attribute and aggregate definition (module unload). When the
// process is ending and another thread holds the lock, the lists are left to
// the operating system.
void ClearCatalogues(bool processExit = false);

} // namespace zq
