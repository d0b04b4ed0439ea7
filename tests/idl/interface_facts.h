// The published identity of every OPC HDA and OPC Common interface, written
// down independently of the IDL: IID, vtable entries, and per method the slot
// and the direction of each parameter ('i' in, 'o' out, 'b' in/out). Each
// method also carries the slot the generated header gives it.
#pragma once

#include <windows.h>

#include <vector>

#include "opccomn.h"
#include "opchda.h"

namespace idltest {

struct MethodFacts
{
    const char *name;
    unsigned slot;
    const char *directions;
    size_t headerSlot;  // offsetof(<Interface>Vtbl, <Method>) / sizeof(void *)
};

struct InterfaceFacts
{
    const char *name;
    const wchar_t *iid;
    const IID *generated;  // the IID the generated code defines
    unsigned entries;      // vtable entries, IUnknown's three included
    size_t headerEntries;  // sizeof(<Interface>Vtbl) / sizeof(void *)
    std::vector<MethodFacts> methods;
};

const std::vector<InterfaceFacts> &Interfaces();

// Slots and vtable entries do not depend on the pointer size: the same facts
// hold for the i686 and the x86_64 build.
static_assert(sizeof(void *) == 4 || sizeof(void *) == 8, "an i686 or x86_64 build");

}  // namespace idltest
