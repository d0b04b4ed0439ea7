// The class factory registered at start-up.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace zq {

// A new class factory (null if out of memory), and its deletion.
IClassFactory *CreateServerClassFactory();
void DeleteServerClassFactory(IClassFactory *factory);

} // namespace zq
