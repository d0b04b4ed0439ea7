// The proxy file list of a proxy/stub DLL next to the test executable, read
// through its GetProxyDllInfo export.
#pragma once

#include "ndr_format.h"

namespace idltest {

struct ProxyDll
{
    HMODULE module = nullptr;
    const ProxyFileInfo *const *files = nullptr;
    const CLSID *clsid = nullptr;
};

// Loads the DLL once and keeps it loaded; files is null if that failed.
const ProxyDll &LoadProxyDll(const wchar_t *name);

constexpr wchar_t kProxyDll[] = L"ZqOpcHda_ps.dll";
constexpr wchar_t kUnfixedProxyDll[] = L"ZqOpcHda_unfixed.dll";

}  // namespace idltest
