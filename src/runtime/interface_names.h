// The suffix that QueryInterface traces append for an interface the object
// does not answer: " IID_IMarshal" and the like, or "" for an ID it does not
// name.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace zq {

const char *InterfaceNameSuffix(REFIID iid);

// Which QueryInterface calls an object traces: all of them, those it
// answers, or none. Each object keeps the traces it has always had.
enum class QueryTraces { All, AnswersOnly, None };

// QueryInterface of an object that answers IUnknown and one interface (own,
// traced with ownSuffix) with itself, adding a reference. Traces text
// followed by " E_INVALIDARG" for a null out pointer, by " IID_IUnknown" or
// ownSuffix when it answers, and by the interface-name suffix otherwise.
HRESULT AnswerOwnInterface(IUnknown *self, const char *text, REFIID own, const char *ownSuffix,
                           REFIID iid, void **out, QueryTraces traces = QueryTraces::All);

} // namespace zq
