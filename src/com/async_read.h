// The IOPCHDA_AsyncRead interface object of a client's HDAServer: raw,
// at-time, processed and attribute reads and the raw and processed advises
// (the latter once the host switches it on), queued as
// transactions on the client's list and answered through its
// IOPCHDA_DataCallback sink at the next tick; Cancel removes one. Made by
// CreateAsyncReadInterface (below).
//
// A request checks its arguments, resolves its times (writing them back into
// the client's records, so a relative time is fixed at request time), checks
// its items and returns at once with a cancel ID and the per-item errors.
// Null pointers and zero counts are refused with E_INVALIDARG; on every
// failure the error pointer is null and nothing is queued.
#pragma once

#include "com/hda_server.h"

namespace zq {

// The maker of the interface object; null when memory runs out.
OwnedInterface *CreateAsyncReadInterface(HDAServer *owner);

} // namespace zq
