// The test server as the client sees it: its LocalServer32 registration in
// the prefix's registry and its process.
#pragma once

#include <vector>

#include "runtime/com_kit.h"
#include "xproc_canned.h"

namespace xclient {

// Writes HKCR\CLSID\{clsid}\LocalServer32 in the registry view of this
// process's bitness: the full path
// of xproc_server.exe (next to this executable, quoted) and the arguments.
HRESULT RegisterServer(REFCLSID clsid, const wchar_t *arguments);
// Removes HKCR\CLSID\{clsid} again.
HRESULT UnregisterServer(REFCLSID clsid);

// Process IDs of the running test servers.
std::vector<DWORD> ServerProcesses();
// Waits until no test server runs; false on timeout.
bool WaitForNoServer(DWORD timeoutMs);

// Owning interface pointer.
template <class T> using ComRef = zq::ComPtr<T>;

}  // namespace xclient
