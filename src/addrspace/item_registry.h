// The item tree: items defined by the host, found by item ID.
#pragma once

namespace zq {

// Deletes every record below the root node (module unload).
void ClearItemTree();

} // namespace zq
