#include "unfixed_proxy.h"

#include "ndr_format.h"

typedef void(RPC_ENTRY *GetInfoFn)(const ProxyFileInfo ***, const CLSID **);
typedef HRESULT(STDAPICALLTYPE *GetClassFn)(REFCLSID, REFIID, void **);
typedef void (*AnyFn)(void);

static const ProxyFileInfo **g_files;

HRESULT UseUnfixedProxies(void)
{
    WCHAR path[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return E_FAIL;
    WCHAR *slash = wcsrchr(path, L'\\');
    static const WCHAR dll[] = L"ZqOpcHda_unfixed.dll";
    if (!slash || (size_t)(slash + 1 - path) + sizeof(dll) / sizeof(WCHAR) > MAX_PATH)
        return E_FAIL;
    wcscpy(slash + 1, dll);
    HMODULE module = LoadLibraryW(path);
    if (!module)
        return HRESULT_FROM_WIN32(GetLastError());

    GetInfoFn getInfo = (GetInfoFn)(AnyFn)GetProcAddress(module, "GetProxyDllInfo");
    GetClassFn getClass = (GetClassFn)(AnyFn)GetProcAddress(module, "DllGetClassObject");
    if (!getInfo || !getClass)
        return E_FAIL;
    const ProxyFileInfo **files = NULL;
    const CLSID *clsid = NULL;
    getInfo(&files, &clsid);
    if (!files || !clsid)
        return E_FAIL;
    g_files = files;

    IUnknown *factory = NULL;
    HRESULT hr = getClass(clsid, &IID_IUnknown, (void **)&factory);
    if (FAILED(hr))
        return hr;
    DWORD cookie = 0; /* stays registered for the life of the process */
    hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    factory->lpVtbl->Release(factory);
    if (FAILED(hr))
        return hr;
    for (; *files; ++files)
        for (unsigned long i = 0; i < (*files)->TableSize; ++i) {
            hr = CoRegisterPSClsid((*files)->pStubVtblList[i]->header.piid, clsid);
            if (FAILED(hr))
                return hr;
        }
    return S_OK;
}

int UnfixedMisdirectedParams(void)
{
    return g_files ? NdrCountMisdirectedOutParams((const ProxyFileInfo *const *)g_files) : -1;
}
