/* Proxy/stub DLL of the OPC HDA and OPC Common interfaces: widl's proxy file
   list with the standard class factory of rpcproxy.h. Self-registration is
   not the standard one (which claims every interface for this DLL and, when
   unregistering, removes them whoever they belonged to): ps_register.cpp
   registers beside other proxy/stub DLLs of the same interfaces. */
#include "ps_clsid.h"
#include "ps_interfaces.h"

#ifdef ZQ_PS_UNFIXED
#define PROXY_CLSID_IS ZQ_OPC_PS_UNFIXED_CLSID_INIT
#else
#define PROXY_CLSID_IS ZQ_OPC_PS_CLSID_INIT
#endif

#include "dlldata.c"

int ZqPsInterfaceAt(unsigned long index, ZqPsInterface *out)
{
    const ProxyFileInfo *const *file;
    for (file = (const ProxyFileInfo *const *)aProxyFileList; *file != NULL; ++file) {
        if (index < (*file)->TableSize) {
            const CInterfaceStubVtbl *stub = (*file)->pStubVtblList[index];
            out->iid = stub->header.piid;
            out->name = (*file)->pNamesArray[index];
            out->methods = stub->header.DispatchTableCount;
            return 1;
        }
        index -= (*file)->TableSize;
    }
    return 0;
}

const CLSID *ZqPsFactoryClsid(void)
{
    return &CLSID_PSFactoryBuffer;
}

#if defined(_WIN64) && !defined(ZQ_PS_UNFIXED)
/* Written into the corrected proxy code by tools/fix_widl_proxy.py: under
   Wine, the [in, out] structures that the stub would allocate and never free
   (OPCHDA_TIME in 64-bit processes) are allocated and freed by the stub
   itself. In 32-bit code no parameter is concerned (the structures' memory
   and wire layouts agree there), and the DLL keeps the runtime's own
   DllMain. */
void zq_wine_server_alloc_opccomn(void);
void zq_wine_server_alloc_opchda(void);

static int UnderWine(void)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

/* Before the first call through this DLL, on the loading thread: the format
   strings it changes are this DLL's own. On Windows nothing changes. */
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void *reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        if (UnderWine()) {
            zq_wine_server_alloc_opccomn();
            zq_wine_server_alloc_opchda();
        }
    }
    return TRUE;
}
#endif
