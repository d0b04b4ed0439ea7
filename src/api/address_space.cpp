// The exports of the public header's section "Address space", in its order.
#include "ZqHDAsvr.h"

#include "addrspace/catalogue.h"
#include "addrspace/item_registry.h"

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

extern "C" int __stdcall SetZqHDAsvrQualifier(int qualifier)
{
    return zq::SetItemQualifier(qualifier);
}

// Only the low 16 bits of dataType are kept, as the attribute's VARTYPE.
extern "C" int __stdcall DefineHDAAttribute(DWORD attributeId, const char *name,
                                            const char *description, DWORD dataType,
                                            DWORD history)
{
    return zq::AddAttribute(attributeId, name, description, dataType, history) ? 1 : 0;
}

extern "C" int __stdcall DefineHDAAggregate(DWORD aggregateId, const char *name,
                                            const char *description)
{
    return zq::AddAggregate(aggregateId, name, description) ? 1 : 0;
}
