#include "ua/ua_session.h"

#include "addrspace/item_registry.h"
#include "security/access.h"
#include "ua/ua_convert.h"

namespace zq {

bool ItemIdOfNode(const UA_NodeId &node, std::string *itemId)
{
    if (node.namespaceIndex != kItemNamespace || node.identifierType != UA_NODEIDTYPE_STRING)
        return false;
    return AnsiFromUa(node.identifier.string, itemId) && !itemId->empty();
}

UaRequestItems::UaRequestItems(const void *sessionContext)
    : user_(static_cast<const UaUser *>(sessionContext))
{
}

void UaRequestItems::Add(const UA_NodeId &node)
{
    const DWORD index = static_cast<DWORD>(servers_.size());
    servers_.reserve(servers_.size() + 1);
    items_.reserve(items_.size() + 1);
    std::string id;
    ItemInfo info;
    OPCHANDLE server = 0;
    void *item = nullptr;
    if (ItemIdOfNode(node, &id) && LookupItem(id, &info)) {
        HandleEntry entry;
        entry.clientHandle = index;
        entry.itemHandle = info.handle;
        FillForNamedUser(user_ != nullptr ? user_->name.c_str() : nullptr, info.readAccess,
                         info.writeAccess, entry);
        if (handles_.Insert(index + 1, std::move(entry))) {
            server = index + 1;
            item = info.handle;
        }
    }
    servers_.push_back(server);
    items_.push_back(item);
}

} // namespace zq
