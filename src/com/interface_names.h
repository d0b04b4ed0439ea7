// The suffix that QueryInterface traces append for an interface the object
// does not answer: " IID_IMarshal" and the like, or "" for an ID it does not
// name.
#pragma once

#include <windows.h>

namespace zq {

const char *InterfaceNameSuffix(REFIID iid);

} // namespace zq
