#include "proxy_dll.h"

#include <map>
#include <string>

namespace idltest {

const ProxyDll &LoadProxyDll(const wchar_t *name)
{
    static std::map<std::wstring, ProxyDll> loaded;
    auto found = loaded.find(name);
    if (found != loaded.end())
        return found->second;
    ProxyDll &dll = loaded[name];
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return dll;
    std::wstring full(path);
    full.erase(full.find_last_of(L'\\') + 1);
    full += name;
    dll.module = LoadLibraryW(full.c_str());
    if (!dll.module)
        return dll;
    using GetInfoFn = void(RPC_ENTRY *)(const ProxyFileInfo ***, const CLSID **);
    auto getInfo = reinterpret_cast<GetInfoFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(dll.module, "GetProxyDllInfo")));
    if (!getInfo)
        return dll;
    const ProxyFileInfo **files = nullptr;
    getInfo(&files, &dll.clsid);
    dll.files = files;
    return dll;
}

}  // namespace idltest
