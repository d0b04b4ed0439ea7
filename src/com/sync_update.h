// The IOPCHDA_SyncUpdate interface object of a client's HDAServer:
// inserts, replaces, deletes and the capability query, handed item by item
// to the update engine on the calling thread. Made by
// CreateSyncUpdateInterface (below).
#pragma once

#include "com/hda_server.h"
#include "opchda.h"

namespace zq {

// The QueryCapabilities method, trace included; IOPCHDA_AsyncUpdate answers
// its own QueryCapabilities with this same body. E_INVALIDARG for a null
// pointer; otherwise the capabilities start at 0 and the host's result is
// returned.
HRESULT SyncUpdateQueryCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities);

// The maker of the interface object; null when memory runs out.
OwnedInterface *CreateSyncUpdateInterface(HDAServer *owner);

} // namespace zq
