// The IOPCHDA_AsyncUpdate interface object of a client's HDAServer:
// inserts, replaces, deletes queued as transactions on the client's list
// and completed through its IOPCHDA_DataCallback sink at the next tick;
// Cancel removes a transaction of either asynchronous interface, and
// QueryCapabilities is the synchronous interface's. Made by
// CreateAsyncUpdateInterface (below).
//
// A request checks its arguments and items and copies the client's values
// and times (a raw delete's time records unresolved). Null pointers and zero
// counts are refused with E_INVALIDARG; on every failure the error pointer
// is null and nothing is queued.
#pragma once

#include "com/hda_server.h"

namespace zq {

// The maker of the interface object; null when memory runs out.
OwnedInterface *CreateAsyncUpdateInterface(HDAServer *owner);

} // namespace zq
