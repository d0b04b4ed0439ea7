// The IOPCCommon interface object of a client's HDAServer: the locale (one,
// the system default), the error texts and the client's name. Made by
// CreateCommonInterface (below).
#pragma once

#include "com/hda_server.h"

namespace zq {

// The maker of the interface object; null when memory runs out.
OwnedInterface *CreateCommonInterface(HDAServer *owner);

} // namespace zq
