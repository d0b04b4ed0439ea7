// The IOPCHDA_SyncAnnotations interface object of a client's HDAServer:
// annotation reads and inserts handed item by item to the annotation engine
// on the calling thread. Made by CreateSyncAnnotationsInterface (below); the HDAServer offers it only while the host has an
// annotation callback installed (AnnotationsOffered).
#pragma once

#include "com/hda_server.h"
#include "opchda.h"

namespace zq {

// The QueryCapabilities method of both annotation interfaces (the trace is
// the caller's): E_INVALIDARG for a null pointer, else S_OK with the
// capabilities of the installed callbacks.
HRESULT AnnotationQueryCapabilities(OPCHDA_ANNOTATIONCAPABILITIES *capabilities);

// The current time for an annotation being inserted (the server's clock).
FILETIME AnnotationTimeNow();

// The maker of the interface object; null when memory runs out.
OwnedInterface *CreateSyncAnnotationsInterface(HDAServer *owner);

} // namespace zq
