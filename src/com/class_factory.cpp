#include "runtime/server_state.h"

namespace zq {

IClassFactory *CreateServerClassFactory() { return nullptr; }

void DeleteServerClassFactory(IClassFactory *) {}

} // namespace zq
