// The client's own texts for the published OPC Common and OPC HDA result
// codes, shown when the server has no text of its own for a code.
#pragma once

#include <windows.h>

#include <string>

namespace zqhda {

// The client's text for an OPC code ("no data in the requested range"), or
// "" when the code is not a published OPC code.
std::wstring ClientCodeText(HRESULT code);

// Whether a text a server returned for a code says nothing but that the code
// is unknown to it: empty, or an "unknown" text that restates the number
// ("<unknown error: 0x4004100E 1074008078>").
bool IsPlaceholderText(const std::wstring &text, HRESULT code);

}  // namespace zqhda
