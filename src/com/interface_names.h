// The suffix that QueryInterface traces append for an interface the object
// does not answer: " IID_IMarshal" and the like, or "" for an ID it does not
// name.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace zq {

const char *InterfaceNameSuffix(REFIID iid);

// QueryInterface of an object with a count of its own that answers IUnknown
// and one interface (own, traced with ownSuffix) with itself. Traces text
// followed by " E_INVALIDARG" for a null out pointer, by " IID_IUnknown" or
// ownSuffix when it answers, and by the interface-name suffix otherwise.
HRESULT AnswerOwnInterface(IUnknown *self, const char *text, REFIID own, const char *ownSuffix,
                           REFIID iid, void **out);

} // namespace zq
