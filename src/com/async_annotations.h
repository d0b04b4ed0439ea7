// The IOPCHDA_AsyncAnnotations interface object of a client's HDAServer:
// annotation reads and inserts queued as transactions on the client's list
// and answered through its IOPCHDA_DataCallback sink (OnReadAnnotations,
// OnInsertAnnotations) at the next tick; Cancel removes one. Made by
// CreateAsyncAnnotationsInterface (below); the HDAServer
// offers it only while the host has an annotation callback installed.
//
// Like the asynchronous reads: arguments are checked, times resolved and
// written back, items checked (read right for reads, write right for
// inserts), and the request returns at once with a cancel ID and the
// per-item errors; on every failure the out values are cleared and nothing
// is queued.
#pragma once

#include "com/hda_server.h"

namespace zq {

// The maker of the interface object; null when memory runs out.
OwnedInterface *CreateAsyncAnnotationsInterface(HDAServer *owner);

} // namespace zq
