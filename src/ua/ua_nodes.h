// The endpoint's address space: the host's item tree as UA nodes.
//
// Below the Objects folder, each branch of the tree is a folder (FolderType,
// Organizes) and each defined item a variable (BaseDataVariableType) whose
// NodeId is its item ID as a string in namespace 1; a defined item that is
// also a branch keeps its children as components. Variables are Historizing,
// readable and history-readable, and history-writable when the host updates
// anything (QueryUpdateCapabilities); their DataType, Description and
// EngineeringUnits come from the host's OPCHDA_DATA_TYPE, OPCHDA_DESCRIPTION
// and OPCHDA_ENG_UNITS attributes, and their Value is the item's latest raw
// value, read from the host when a client reads it.
//
// The nodes are made once, when the endpoint starts: items defined later
// appear at its next start, and an item deleted meanwhile answers
// BadNodeIdUnknown to every read and update (each request finds its items
// anew by ID). The tree's lock is held only while the tree is copied, never
// while the host is asked for attributes.
#pragma once

#include "open62541.h"

namespace zq {

// Adds the nodes to a server that does not run yet. Good, or the first
// failure (the server is then discarded).
UA_StatusCode AddItemNodes(UA_Server *server);

// Whether the host accepts any update: the access level of every variable
// then carries HistoryWrite.
bool HostWritesHistory();

} // namespace zq
