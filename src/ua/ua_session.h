// Who a UA session is, and the items one of its requests names.
//
// A session's context (open62541's sessionContext) is null for an anonymous
// session and a UaUser for a user whose name and password the host's check
// accepted; the endpoint's access control makes it at activation and
// deletes it when the session closes.
//
// A request's nodes become a handle list of its own, so that the same
// history-level request API that serves COM clients checks them: each node
// that names a defined item (namespace 1, the item ID as a string) gets an
// entry with the session user's rights (FillForNamedUser), under server
// handle i + 1 for the request's i-th node; a node that names nothing gets
// server handle 0, which no entry has (the request API answers it
// OPC_E_INVALIDHANDLE: BadNodeIdUnknown). The list lives as long as the
// request, on the endpoint's thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "open62541.h"
#include "opchda.h"
#include "runtime/handle_list.h"

namespace zq {

// The namespace of the items' nodes.
constexpr UA_UInt16 kItemNamespace = 1;

struct UaUser
{
    std::string name; // ANSI text, as the host's update callbacks take it
};

// The item ID a node names (namespace 1, a string ID in the code page):
// false for any other node.
bool ItemIdOfNode(const UA_NodeId &node, std::string *itemId);

class UaRequestItems
{
public:
    explicit UaRequestItems(const void *sessionContext);
    UaRequestItems(const UaRequestItems &) = delete;
    UaRequestItems &operator=(const UaRequestItems &) = delete;

    // Adds the request's next node. May throw std::bad_alloc.
    void Add(const UA_NodeId &node);

    const HandleList &Handles() const { return handles_; }
    const OPCHANDLE *Servers() const { return servers_.data(); }
    DWORD Count() const { return static_cast<DWORD>(servers_.size()); }
    // The item handle of node i, or null when it names none.
    void *Item(DWORD i) const { return items_[i]; }
    const UaUser *User() const { return user_; }

private:
    const UaUser *user_;
    HandleList handles_;
    std::vector<OPCHANDLE> servers_;
    std::vector<void *> items_;
};

} // namespace zq
