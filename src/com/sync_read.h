// The IOPCHDA_SyncRead interface object of a client's HDAServer: raw,
// processed, at-time and attribute reads, answered on the calling thread by
// the read engine. Made by CreateSyncReadInterface (below).
//
// Every method traces its name first, checks its arguments, resolves the
// request's times (writing them back into the client's records), checks each
// item against the client's handle list and runs the engine per item. The
// result arrays come from the task allocator, zeroed, and go to the client
// only on success; on any failure result the out pointers are null.
#pragma once

#include "com/hda_server.h"

namespace zq {

// The maker of the interface object; null when memory runs out.
OwnedInterface *CreateSyncReadInterface(HDAServer *owner);

} // namespace zq
